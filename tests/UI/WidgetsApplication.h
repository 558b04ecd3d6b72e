#pragma once

#include <QApplication>
#include <QtGlobal>

/// The widgets application a UI suite needs, on the offscreen platform, made once and never
/// destroyed (tearing it down after other statics crashes). It must exist before the engine
/// harness would make a core application.
inline void ensureWidgetsApplication() {
    if (QCoreApplication::instance() != nullptr)
        return;
    static int argc = 1;
    static char name[] = "lumenor-ui-tests";
    static char* argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    new QApplication(argc, argv);
}
