#pragma once

#include <QImage>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <memory>
#include <vector>

/// A throwaway X desktop: Xvfb (1280×800) with openbox, and on request a tint2 panel along the
/// bottom with a system tray. Everything it starts ends with it or with the test program.
/// Needs a QCoreApplication.
class XDesktop {
public:
    /// Starts Xvfb and openbox; `display()` is empty when they are missing or did not start.
    XDesktop();
    ~XDesktop();

    /// ":N", for DISPLAY.
    QString display() const { return display_; }
    /// Starts the tint2 panel, 32 px high, in `background` ("#1e1e1e").
    void startTray(const QString& background);
    /// The whole screen now; null when it could not be taken.
    QImage screenshot() const;

private:
    QProcess& start(const QString& program, const QStringList& arguments);

    QTemporaryDir folder_;
    QString display_;
    std::vector<std::unique_ptr<QProcess>> processes_;
};

/// The WCAG contrast ratio of two colours (1 to 21).
double contrast(const QColor& a, const QColor& b);
