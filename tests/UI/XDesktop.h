#pragma once

#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include <list>

/// A throwaway X desktop: Xvfb (1280×800) with openbox, and on request a tint2 panel along the
/// bottom with a system tray. What it starts ends with it. Needs a QCoreApplication.
class XDesktop {
public:
    /// `display()` (":N") is empty when the tools are missing or Xvfb did not start.
    XDesktop();
    QString display() const { return display_; }
    /// Starts the tint2 panel, 32 px high, in `background` ("#1e1e1e").
    void startTray(const QString& background);
    QImage screenshot() const;

private:
    void start(const QString& program, const QStringList& arguments);

    QTemporaryDir folder_;
    QString display_;
    std::list<QProcess> processes_;
};

/// The WCAG contrast ratio of two colours (1 to 21).
double contrast(const QColor& a, const QColor& b);
