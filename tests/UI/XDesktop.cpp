#include "UI/XDesktop.h"

#include <QFile>
#include <QStandardPaths>
#include <QTest>

#include <cmath>
#include <csignal>
#include <sys/prctl.h>

XDesktop::XDesktop() {
    for (const char* tool : {"Xvfb", "openbox", "tint2", "import"})
        if (QStandardPaths::findExecutable(tool).isEmpty())
            return;
    int number = 90;
    while (QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(number)))
        ++number;
    display_ = QStringLiteral(":%1").arg(number);
    start("Xvfb", {display_, "-screen", "0", "1280x800x24", "-nolisten", "tcp"});
    const QString socket = QStringLiteral("/tmp/.X11-unix/X%1").arg(number);
    if (!QTest::qWaitFor([&] { return QFile::exists(socket); }, 10000))
        display_.clear();
    start("openbox", {});
}

void XDesktop::start(const QString& program, const QStringList& arguments) {
    QProcess& process = processes_.emplace_back();
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", display_);
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
}

void XDesktop::startTray(const QString& background) {
    QFile config(folder_.filePath("tint2rc"));
    config.open(QIODevice::WriteOnly);
    config.write(("panel_items = S\npanel_size = 100% 32\npanel_position = bottom center\n"
                  "panel_background_id = 1\nbackground_color = " +
                  background + " 100\nsystray_icon_size = 22\n")
                     .toUtf8());
    config.close();
    start("tint2", {"-c", config.fileName()});
}

QImage XDesktop::screenshot() const {
    QProcess import;
    import.start("import", {"-display", display_, "-window", "root", "png:-"});
    import.waitForFinished(20000);
    return QImage::fromData(import.readAllStandardOutput(), "PNG");
}

double contrast(const QColor& a, const QColor& b) {
    const auto luminance = [](const QColor& c) {
        const auto linear = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
    };
    const double x = luminance(a), y = luminance(b);
    return (std::max(x, y) + 0.05) / (std::min(x, y) + 0.05);
}
