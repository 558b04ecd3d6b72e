#pragma once

#include "Lumenor/Engine/DownloadWatcher.h"
#include "Lumenor/Engine/Executor.h"
#include "Lumenor/Engine/KeepAwakeSession.h"
#include "Lumenor/Engine/SleepOperation.h"
#include "Lumenor/Platform/PowerPlatform.h"
#include "Lumenor/Platform/Workspace.h"
#include "LumenorCore/Instant.h"
#include "LumenorCore/LumenorRequest.h"
#include "LumenorCore/LumenorResponse.h"
#include "LumenorCore/LumenorStatus.h"

#include <QMetaObject>
#include <QObject>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QSettings;
class QTimer;

/// A fixed early instant that compares before every real one and still allows arithmetic.
inline const Instant distantPast = Instant(std::chrono::seconds(-2'208'988'800)); // 1900-01-01

/// The one engine object: sessions, holds, settings, the tick, power assertions, status and
/// the event log. Lives on the main thread and is touched only there.
class WakeController : public QObject {
    Q_OBJECT

public:
    /// Everything the controller reaches the world through; tests pass doubles.
    struct Environment {
        std::function<Instant()> clock;
        std::shared_ptr<PowerPlatform> power;
        std::shared_ptr<Workspace> workspace;
        /// Where the six settings live; read once at creation, written on every assignment.
        std::shared_ptr<QSettings> settings;
        std::filesystem::path logFile;
        /// Where the current session is kept across restarts; empty keeps nothing.
        std::filesystem::path stateFile;
        /// Runs continuations on the main thread; callable from any thread.
        std::shared_ptr<Executor> mainThread;
        /// The serial queue of every helper call and every sleep or display command.
        std::shared_ptr<SerialExecutor> privileged;
        /// Setup and removal, which may wait minutes for an administrator prompt, and the
        /// measurements of a watched download.
        std::shared_ptr<Executor> background;
    };

    /// The hold id reserved for the remote-wake listening window.
    static inline const std::string remoteCheckHold = "remote-check";

    /// Registers the setting defaults and reads the settings; starts nothing.
    explicit WakeController(Environment environment, QObject* parent = nullptr);
    ~WakeController() override;

    /// The app's one instance, bound to the real system; created on first use (main thread),
    /// never released.
    static WakeController& shared();

    /// Reads the battery, clears what an earlier run left with the helper, starts the
    /// one-second tick and the wake and application-quit subscriptions. Once, on launch.
    void start();
    /// Stops the tick, releases the assertions, drains the privileged queue and returns the
    /// helper to normal sleep. Blocks for up to two helper calls. Once, at termination.
    void shutdown();

    /// Performs one control-channel command; never throws; every reply carries snapshot().
    LumenorResponse handle(const LumenorRequest& request);

    /// Records an event: sets lastEvent and appends a timestamped line to the log file. A log
    /// that cannot be written loses the line and nothing else.
    void log(const std::string& message);
    /// One short phrase saying what the machine is doing now.
    std::string statusLine() const;
    /// The state for control-channel callers.
    LumenorStatus snapshot() const;

    /// The one-second heartbeat; also run at once after a sleep request.
    void tick();
    /// Starts a session, replacing any current one without an end line.
    void startSession(SessionKind kind);
    /// Ends the current session, logging "Session ended — " + reason; nothing without one.
    void endSession(const std::string& reason);
    /// What a hold carries besides its expiry.
    struct HoldDetails {
        /// What the holder called it; empty for none.
        std::string label;
        /// The hold ends when this process does.
        std::optional<int32_t> pid;
        /// Keeps the display lit too.
        bool display = false;
    };
    /// Creates or extends a named hold for `seconds` from the current time. Extending keeps the
    /// label, process and display wish it had unless new ones are given.
    void hold(const std::string& id, double seconds, HoldDetails details);
    void hold(const std::string& id, double seconds);
    /// Drops a hold; an unknown id changes nothing.
    void release(const std::string& id);
    /// The active holds with their details, in id order.
    std::vector<LumenorHold> holdList() const;
    /// Drops the pending sleep request, logging "Sleep cancelled" unless `silently`.
    void cancelSleep(bool silently);
    /// Brings the assertions and lid-closed mode in line with the state.
    void applyPowerState();

    /// Stops any sleep, pending or under way, and keeps the machine awake: in the running
    /// session, else in a new indefinite one. Lights the display.
    void wake();
    /// Keeps the machine awake and reachable (an indefinite session unless one runs) and turns
    /// the display off half a second later. When the display cannot be turned off here, does
    /// nothing, logs why and returns the reason.
    std::optional<std::string> rest();
    /// The menu's sleep button: a forced sleep two seconds from now, examined at once.
    void requestSleepFromMenu();
    /// Asks on the privileged queue whether lid-closed mode can be had, whether the wake helper
    /// works and who else handles the lid; helperReady, wakeHelperReady and lidHandledBy follow.
    void refreshHelper();
    /// Installs the wake helper behind the administrator prompt, one run at a time. Returns at
    /// once with why setup cannot start here (also logged), or none: the outcome is then logged
    /// and the helper refreshed.
    std::optional<std::string> runSetup();
    /// Removes the wake helper behind the administrator prompt. Returns at once; the outcome is
    /// logged and the helper refreshed.
    void runUninstall();

    /// Shown before the administrator prompt, which cannot carry a text of its own.
    static inline const std::string setupExplanation =
        "Lumenor needs to install a small helper so your computer can wake on a schedule.";

    /// The holds whose expiry is later than now.
    std::map<std::string, Instant> activeHolds() const;
    /// A session exists or a hold is active.
    bool isAwake() const;
    /// isAwake, and a sleep inhibitor is actually held: the machine is kept awake.
    bool keptAwake() const;
    /// What keeps Lumenor from doing what it was asked now (nothing holds the machine awake, the
    /// settings cannot be saved), in words; none when all is well.
    std::optional<std::string> problem() const;
    /// On battery with a charge (100 when unknown) below minimumBattery.
    bool batteryTooLow() const;

    // Published fields: aboutToChange() is emitted before every assignment to one of these.
    const std::optional<KeepAwakeSession>& session() const { return session_; }
    const std::map<std::string, Instant>& holds() const { return holds_; }
    const std::optional<PendingSleep>& pendingSleep() const { return pendingSleep_; }
    bool lidModeActive() const { return lidModeActive_; }
    /// Lid-closed mode can be had (the system grants Lumenor the lid).
    bool helperReady() const { return helperReady_; }
    /// The root helper for scheduled wakes is installed and works.
    bool wakeHelperReady() const { return wakeHelperReady_; }
    /// Another program that holds the lid switch and so decides what closing the lid does.
    const std::optional<std::string>& lidHandledBy() const { return lidHandledBy_; }
    bool remoteCycleArmed() const { return remoteCycleArmed_; }
    const std::optional<Instant>& remoteListeningUntil() const { return remoteListeningUntil_; }
    const PowerControl::Battery& battery() const { return battery_; }
    const std::optional<std::string>& lastEvent() const { return lastEvent_; }
    bool setupInProgress() const { return setupInProgress_; }
    Instant now() const { return now_; }
    bool lidClosedMode() const { return lidClosedMode_; }
    bool keepDisplayOn() const { return keepDisplayOn_; }
    bool remoteWakeEnabled() const { return remoteWakeEnabled_; }
    /// Minutes between remote wakes.
    int remoteWakeInterval() const { return remoteWakeInterval_; }
    /// Percent.
    int minimumBattery() const { return minimumBattery_; }
    bool stopOnLowBattery() const { return stopOnLowBattery_; }

    /// Each setting setter stores the value at once and then reacts, also to an equal value.
    void setLidClosedMode(bool on);
    void setKeepDisplayOn(bool on);
    void setRemoteWakeEnabled(bool on);
    /// Not bounded here: callers keep it within 5…240.
    void setRemoteWakeInterval(int minutes);
    void setMinimumBattery(int percent);
    void setStopOnLowBattery(bool on);
    /// The menu records its own sleep request through this.
    void setPendingSleep(std::optional<PendingSleep> request);

    /// The desktop the controller watches (the menu lists its running applications).
    Workspace& workspace() const { return *workspace_; }

signals:
    /// Emitted before any published field is assigned, also when the value stays the same.
    void aboutToChange();

private:
    /// Tests reach private state through this.
    friend class WakeControllerProbe;

    struct FileWatch {
        uint64_t size = 0;
        Instant changedAt;
        Instant checkedAt;
    };

    /// Hands work from another thread back to the main thread, dropping it when the
    /// controller is gone by then. Create it on the main thread, use it anywhere.
    class MainHop {
    public:
        void post(std::function<void(WakeController&)> work) const;

    private:
        friend class WakeController;
        std::weak_ptr<int> alive;
        std::shared_ptr<Executor> mainThread;
        WakeController* controller = nullptr;
    };
    MainHop mainHop();

    template <class T> void publish(T& field, T value) {
        emit aboutToChange();
        field = std::move(value);
    }
    /// Drops a hold and its details, logging why unless it is the listening window.
    void eraseHold(const std::string& id, const std::string& why = {});

    // Settings (WakeController.cpp)
    void loadSettings();
    void storeSetting(const char* key, const QVariant& value);
    /// Why the store could not be written, in words.
    std::string settingsFailure() const;

    // Inhibitors and problems (WakeControllerInhibitors.cpp)
    /// Logs a change of the mechanisms held and of the keep-awake problem.
    void noteInhibitors(bool wanted);
    std::vector<std::string> inhibitorsHeld() const;
    /// The reply for a request to keep awake that nothing could carry out; none when held.
    std::optional<LumenorResponse> keepAwakeRefusal() const;
    /// The reply for a command whose settings could not be saved; none when they were.
    std::optional<LumenorResponse> settingsRefusal() const;

    // Tick and power state (WakeControllerTick.cpp)
    void expireSession();
    void expireHolds();
    void enforceBatteryFloor();
    void checkDownload(const std::filesystem::path& file);
    void downloadMeasured(const std::filesystem::path& file,
                          const DownloadWatcher::Measurement& measured);
    void cancelSleepOperation();
    void applicationTerminated(int32_t pid);

    // Commands (WakeControllerCommands.cpp)
    using Options = std::map<std::string, std::string>;
    LumenorResponse dispatch(const LumenorRequest& request);
    LumenorResponse commandStatus(const Options& options);
    LumenorResponse commandOn(const Options& options);
    LumenorResponse commandOff(const Options& options);
    LumenorResponse commandWake(const Options& options);
    LumenorResponse commandRest(const Options& options);
    LumenorResponse commandSleep(const Options& options);
    LumenorResponse commandCancelSleep(const Options& options);
    LumenorResponse commandSetup(const Options& options);
    LumenorResponse commandUninstallHelper(const Options& options);
    LumenorResponse commandHold(const Options& options);
    LumenorResponse commandRelease(const Options& options);
    LumenorResponse commandSet(const Options& options);
    LumenorResponse commandPing(const Options& options);
    LumenorResponse commandHolds(const Options& options);
    LumenorResponse commandInhibitors(const Options& options);
    /// Other programs' logind inhibitors; none when logind cannot be asked.
    std::optional<std::vector<LumenorInhibitor>> otherInhibitors();
    std::string holdsText() const;
    std::string holdName(const std::vector<LumenorHold>& holds) const;
    std::optional<SessionKind> sessionKind(const Options& options, std::string& failure);
    std::string lidNote() const;
    std::string sleepAnnouncement(std::optional<int32_t> waitForPid, bool force, double delay,
                                  std::string requestedBy) const;

    // Sleep requests (WakeControllerSleep.cpp)
    /// What the background half of a sleep attempt found.
    struct SleepOutcome {
        /// Why the machine did not sleep, when it did not and nobody cancelled.
        std::string failure;
        bool scheduled = false;
        /// None when "lid-off" was not attempted.
        std::optional<bool> lidOff;
        bool slept = false;
        bool cancelled = false;
    };
    struct SleepPlan {
        bool arm = false;
        long long intervalSeconds = 0;
        bool helperInstalled = false;
    };
    void pendingSleepStep();
    void performSleep(const std::string& reason);
    static void sleepInBackground(PowerPlatform& power, const std::function<Instant()>& clock,
                                  const std::shared_ptr<SleepOperation>& operation,
                                  const SleepPlan& plan, const MainHop& hop);
    void sleepFinished(const std::shared_ptr<SleepOperation>& operation,
                       const SleepOutcome& outcome);
    /// Gives back the session and holds a failed sleep cleared, unless newer ones took over.
    void restoreAfterFailedSleep();

    // Remote wake (WakeControllerRemote.cpp)
    void remoteCycleStep();
    void disarmRemoteCycle();
    void systemDidWake();

    // Lid-closed mode (WakeControllerLid.cpp)
    void reconcileLid();
    void renewLease();
    void renewalFailed();
    void changeLidMode(bool on);
    void lidChangeFinished(bool on, const PowerControl::RunResult& result);
    /// Asks on `privileged` who else holds the lid switch; a new holder is logged.
    void checkLidHandler();
    void noteLidHandler(std::optional<std::string> who);

    // Session across restarts (WakeControllerState.cpp)
    /// Writes the current session (or none) to the state file; a failure is logged.
    void saveSession();
    /// Takes back the saved session when it still applies; a bad file is set aside and logged.
    void restoreSession();
    /// Moves a state file that cannot be used aside, so that nothing it holds is lost.
    void setStateAside(const std::string& what);

    /// Queues a helper call on `privileged` whose result nobody needs.
    void postHelper(std::vector<std::string> words);

    // Seams
    std::function<Instant()> clock_;
    std::shared_ptr<PowerPlatform> power_;
    std::shared_ptr<Workspace> workspace_;
    std::filesystem::path logFile_;
    std::filesystem::path stateFile_;
    std::shared_ptr<Executor> mainThread_;
    std::shared_ptr<Executor> background_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);

    // Published fields
    std::optional<KeepAwakeSession> session_;
    std::map<std::string, Instant> holds_;
    std::optional<PendingSleep> pendingSleep_;
    bool lidModeActive_ = false;
    bool helperReady_ = false;
    bool wakeHelperReady_ = false;
    std::optional<std::string> lidHandledBy_;
    bool remoteCycleArmed_ = false;
    std::optional<Instant> remoteListeningUntil_;
    PowerControl::Battery battery_;
    std::optional<std::string> lastEvent_;
    bool setupInProgress_ = false;
    Instant now_;
    bool lidClosedMode_ = true;
    bool keepDisplayOn_ = false;
    bool remoteWakeEnabled_ = false;
    int remoteWakeInterval_ = 15;
    int minimumBattery_ = 10;
    bool stopOnLowBattery_ = true;

    // Private fields
    double listenWindow_ = 180;
    double sleepGrace_ = 20;
    std::shared_ptr<QSettings> defaults_;
    std::unique_ptr<PowerControl::Assertion> systemAssertion_;
    std::unique_ptr<PowerControl::Assertion> displayAssertion_;
    std::shared_ptr<SerialExecutor> privileged_;
    bool lidOpInFlight_ = false;
    Instant lidRetryAfter_ = distantPast;
    Instant lastLeaseRenewal_ = distantPast;
    std::shared_ptr<SleepOperation> sleepOperation_;
    QTimer* ticker_ = nullptr;
    Instant lastHoldEndedAt_ = distantPast;
    std::optional<FileWatch> fileWatch_;
    bool measuringDownload_ = false;
    bool sleeping_ = false;
    /// What a sleep attempt cleared, given back when the machine could not sleep.
    struct Cleared {
        std::optional<KeepAwakeSession> session;
        std::map<std::string, Instant> holds;
    };
    std::optional<Cleared> clearedForSleep_;
    std::optional<std::string> keepAwakeProblem_;
    std::optional<std::string> settingsProblem_;
    std::vector<std::string> loggedInhibitors_;
    bool logFailing_ = false;
    /// A bad state file could not be set aside: it is left alone for the rest of the run.
    bool stateFrozen_ = false;
    bool awaitingWake_ = false;
    std::vector<QMetaObject::Connection> observers_;
    /// Labels, processes and display wishes of the holds, beside the id→expiry map.
    std::map<std::string, HoldDetails> holdDetails_;
    /// Inhibitors a command asked logind for, handed to its reply's status.
    std::optional<std::vector<LumenorInhibitor>> replyInhibitors_;
};
