#include "UI/XDesktop.h"

#include <QFile>
#include <QStandardPaths>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <sys/prctl.h>

XDesktop::XDesktop() {
    for (const char* tool : {"Xvfb", "openbox", "tint2", "import"}) {
        if (QStandardPaths::findExecutable(tool).isEmpty())
            return;
    }
    int number = 90;
    while (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number)) ||
           QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(number)))
        ++number;
    const QString display = QStringLiteral(":%1").arg(number);
    start("Xvfb", {display, "-screen", "0", "1280x800x24", "-nolisten", "tcp"});
    const bool up = QTest::qWaitFor(
        [&] {
            return QProcess::execute("xdpyinfo", {"-display", display}) == 0;
        },
        10000);
    if (!up)
        return;
    display_ = display;
    start("openbox", {});
}

XDesktop::~XDesktop() = default;

QProcess& XDesktop::start(const QString& program, const QStringList& arguments) {
    auto& process = *processes_.emplace_back(std::make_unique<QProcess>());
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", display_.isEmpty() ? arguments.value(0) : display_);
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    return process;
}

void XDesktop::startTray(const QString& background) {
    QFile config(folder_.filePath("tint2rc"));
    config.open(QIODevice::WriteOnly);
    config.write(QStringLiteral("background_color = %1 100\n"
                                "border_width = 0\nrounded = 0\n"
                                "panel_items = S\npanel_size = 100% 32\n"
                                "panel_position = bottom center horizontal\n"
                                "panel_background_id = 1\n"
                                "systray_padding = 4 2 4\nsystray_icon_size = 22\n")
                     .arg(background)
                     .toUtf8());
    config.close();
    start("tint2", {"-c", config.fileName()});
}

QImage XDesktop::screenshot() const {
    QProcess import;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", display_);
    import.setProcessEnvironment(environment);
    import.start("import", {"-window", "root", "png:-"});
    import.waitForFinished(20000);
    return QImage::fromData(import.readAllStandardOutput(), "PNG");
}

double contrast(const QColor& a, const QColor& b) {
    const auto luminance = [](const QColor& c) {
        const auto channel = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) +
               0.0722 * channel(c.blueF());
    };
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}
