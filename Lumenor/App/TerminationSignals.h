#pragma once

#include <QObject>

class QSocketNotifier;

/// Turns SIGTERM, SIGINT and SIGHUP into an orderly quit of the event loop, so that the
/// termination sequence runs (socket file removed, controller shut down) instead of the process
/// dying where it stands. The signal handler only writes a byte to a pipe; the quit happens on
/// the main thread when the loop reads it.
class TerminationSignals : public QObject {
    Q_OBJECT

public:
    /// Installs the handlers; needs the application object. One instance per process.
    explicit TerminationSignals(QObject* parent = nullptr);
    /// Restores the default handlers and closes the pipe.
    ~TerminationSignals() override;

    /// False when the pipe or a handler could not be set up; the defaults then stay.
    bool installed() const { return installed_; }

private:
    void drain();

    QSocketNotifier* notifier_ = nullptr;
    bool installed_ = false;
};
