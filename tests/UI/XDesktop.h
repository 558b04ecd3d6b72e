#pragma once

#include "Lumenor/UI/MenuTheme.h"
#include "Support/Files.h"

#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <list>
#include <sys/prctl.h>

/// A throwaway X desktop: Xvfb (1280×800) with openbox, and on request a tint2 panel along the
/// bottom with a system tray. What it starts ends with it. Needs a QCoreApplication.
struct XDesktop {
    /// `display` (":N") stays empty when the tools are missing or Xvfb did not start.
    XDesktop() {
        for (const char* tool : {"Xvfb", "openbox", "tint2", "import"})
            if (QStandardPaths::findExecutable(tool).isEmpty())
                return;
        int number = 90;
        while (QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(number)))
            ++number;
        start("Xvfb", {QStringLiteral(":%1").arg(number), "-screen", "0", "1280x800x24"});
        const QString socket = QStringLiteral("/tmp/.X11-unix/X%1").arg(number);
        if (QTest::qWaitFor([&] { return QFile::exists(socket); }, 10000))
            display = QStringLiteral(":%1").arg(number);
        start("openbox", {});
    }
    void start(const QString& program, const QStringList& arguments) {
        QProcess& process = processes.emplace_back();
        process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DISPLAY", display);
        process.setProcessEnvironment(environment);
        process.start(program, arguments);
    }
    /// Starts the tint2 panel, 32 px high, in `background` ("#1e1e1e").
    void startTray(const std::string& background) {
        const auto config = writeFile(folder.filePath("tint2rc").toStdString(),
                                      "panel_items = S\npanel_size = 100% 32\n"
                                      "panel_position = bottom center\npanel_background_id = 1\n"
                                      "systray_icon_size = 22\nbackground_color = " +
                                          background + " 100\n");
        start("tint2", {"-c", QString::fromStdString(config.string())});
    }
    QImage screenshot() const {
        QProcess import;
        import.start("import", {"-display", display, "-window", "root", "png:-"});
        import.waitForFinished(20000);
        return QImage::fromData(import.readAllStandardOutput(), "PNG");
    }

    QTemporaryDir folder;
    QString display;
    std::list<QProcess> processes;
};
