#pragma once

#include "Lumenor/Engine/DownloadWatcher.h"
#include "Lumenor/Engine/Executor.h"
#include "Lumenor/Engine/Hold.h"
#include "Lumenor/Engine/KeepAwakeSession.h"
#include "Lumenor/Engine/SleepOperation.h"
#include "Lumenor/Platform/PowerPlatform.h"
#include "Lumenor/Platform/Workspace.h"
#include "LumenorCore/Instant.h"
#include "LumenorCore/LumenorRequest.h"
#include "LumenorCore/LumenorResponse.h"
#include "LumenorCore/LumenorSettings.h"
#include "LumenorCore/LumenorStatus.h"

#include <QMetaObject>
#include <QObject>

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

class QSettings;
class QTimer;

/// A fixed early instant that compares before every real one and still allows arithmetic.
inline const Instant distantPast = Instant(std::chrono::seconds(-2'208'988'800)); // 1900-01-01

/// An event of the log, typed for those who show some of them (the panel shows all but routine
/// ones).
struct LogEvent {
    enum class Kind { routine, warning, battery, setup };
    Kind kind = Kind::routine;
    std::string text;
    bool operator==(const LogEvent&) const = default;
};

/// The one engine object: sessions, holds, settings, deadlines, power assertions, status and
/// the event log. Lives on the main thread and is touched only there. It sleeps between
/// deadlines: one timer is armed for the next thing due, everything else arrives as an event.
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
        /// The serial queue of every call that may block: taking and giving back the lid, the
        /// wake alarm, sleep and display commands.
        std::shared_ptr<SerialExecutor> privileged;
        /// Setup and removal, which may wait minutes for an administrator prompt, and the
        /// measurements of a watched download.
        std::shared_ptr<Executor> background;
    };

    /// A hold id callers may not take: it named the remote-wake listening window once, and
    /// scripts still read it so.
    static inline const std::string reservedHoldId = "remote-check";

    /// Registers the setting defaults and reads the settings; starts nothing.
    explicit WakeController(Environment environment, QObject* parent = nullptr);
    ~WakeController() override;

    /// The app's one instance, bound to the real system; created on first use (main thread),
    /// never released.
    static WakeController& shared();

    /// Reads the battery, cancels a wake alarm an earlier run left, restores the session and
    /// subscribes to the workspace's events. Once, on launch.
    void start();
    /// Stops the timer, releases the assertions and the lid, drains the privileged queue and
    /// cancels the wake alarm unless the remote cycle is armed. Once, at termination.
    void shutdown();

    /// Performs one control-channel command; never throws; every reply carries snapshot().
    LumenorResponse handle(const LumenorRequest& request);
    /// As handle(), but setup is answered with its outcome once the administrator prompt has
    /// one; `reply` is called once, on the main thread.
    void handle(const LumenorRequest& request, std::function<void(LumenorResponse)> reply);

    /// Records an event: sets lastEvent and appends a timestamped line to the log file. A log
    /// that cannot be written loses the line and nothing else.
    void log(const std::string& message, LogEvent::Kind kind = LogEvent::Kind::routine);
    /// One short phrase saying what the machine is doing now.
    std::string statusLine() const;
    /// The state for control-channel callers.
    LumenorStatus snapshot() const;

    /// Does whatever has come due by now (ends, expiries, a pending sleep, the remote cycle, a
    /// retry) and brings the power state in line. The deadline timer and the workspace's events
    /// call it; so do tests after moving their clock.
    void update();
    /// When update() next has something to do; none when only an event can change anything.
    std::optional<Instant> nextDeadline() const;
    /// Starts a session, replacing any current one without an end line.
    void startSession(SessionKind kind);
    /// Ends the current session, logging "Session ended — " + reason; nothing without one.
    void endSession(const std::string& reason);
    /// Creates or extends the hold `wanted.id` for `seconds` from the current time (its `until`
    /// is ignored). Extending keeps the label, process and display wish it had unless new ones
    /// are given.
    void hold(Hold wanted, double seconds);
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
    /// Why rest() cannot turn the display off here (so the panel does not offer it); none
    /// where it can.
    std::optional<std::string> restProblem() const { return power_->displaySleepProblem(); }
    /// The menu's sleep button: a forced sleep two seconds from now, examined at once.
    void requestSleepFromMenu();
    /// Asks on the privileged queue whether lid-closed mode can be had, whether the wake helper
    /// works and who else handles the lid; lidAvailable, wakeHelperReady and lidHandledBy follow.
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

    /// The holds whose expiry is later than now, by id.
    std::map<std::string, Hold> activeHolds() const;
    /// A session exists, a hold is active or the remote-wake listening window is open.
    bool isAwake() const;
    /// isAwake, and a sleep inhibitor is actually held: the machine is kept awake.
    bool keptAwake() const;
    /// What keeps Lumenor from doing what it was asked now (nothing holds the machine awake or
    /// its display lit, the settings cannot be saved), in words; none when all is well.
    std::optional<std::string> problem() const;
    /// Why the display is not kept lit while that is wanted; none when it is, or not wanted.
    const std::optional<std::string>& displayProblem() const { return displayProblem_; }
    /// On battery with a charge (100 when unknown) below minimumBattery.
    bool batteryTooLow() const;

    // Published fields: changed() is emitted after any of these takes a new value.
    const std::optional<KeepAwakeSession>& session() const { return session_; }
    const std::map<std::string, Hold>& holds() const { return holds_; }
    const std::optional<PendingSleep>& pendingSleep() const { return pendingSleep_; }
    bool lidModeActive() const { return lidModeActive_; }
    /// Lid-closed mode can be had (the system grants Lumenor the lid).
    bool lidAvailable() const { return lidAvailable_; }
    /// The computer has a lid; without one lid-closed mode is neither offered nor spoken of,
    /// and its setting waits for a computer that has one.
    bool hasLid() const { return hasLid_; }
    /// The root helper for scheduled wakes is installed and works.
    bool wakeHelperReady() const { return wakeHelperReady_; }
    /// Another program that holds the lid switch and so decides what closing the lid does.
    const std::optional<std::string>& lidHandledBy() const { return lidHandledBy_; }
    bool remoteCycleArmed() const { return remoteCycleArmed_; }
    const std::optional<Instant>& remoteListeningUntil() const { return remoteListeningUntil_; }
    const PowerControl::Battery& battery() const { return battery_; }
    const std::optional<LogEvent>& lastEvent() const { return lastEvent_; }
    bool setupInProgress() const { return setupInProgress_; }
    /// The clock's reading now (not published: read it when drawing a countdown).
    Instant now() const { return clock_(); }

    /// A setting's value (booleans 0 or 1).
    int setting(LumenorSettings::Id id) const { return settings_[static_cast<std::size_t>(id)]; }
    bool lidClosedMode() const { return setting(LumenorSettings::Id::lidClosedMode) != 0; }
    bool keepDisplayOn() const { return setting(LumenorSettings::Id::keepDisplayOn) != 0; }
    bool remoteWakeEnabled() const { return setting(LumenorSettings::Id::remoteWakeEnabled) != 0; }
    /// Minutes between remote wakes.
    int remoteWakeInterval() const { return setting(LumenorSettings::Id::remoteWakeInterval); }
    /// Percent; 0 when the floor is off.
    int minimumBattery() const { return setting(LumenorSettings::Id::minimumBattery); }
    bool stopOnLowBattery() const { return setting(LumenorSettings::Id::stopOnLowBattery) != 0; }

    /// Stores a setting at once, brought within its range, and reacts, also to an equal value.
    void setSetting(LumenorSettings::Id id, int value);
    void setLidClosedMode(bool on) { setSetting(LumenorSettings::Id::lidClosedMode, on); }
    void setKeepDisplayOn(bool on) { setSetting(LumenorSettings::Id::keepDisplayOn, on); }
    void setRemoteWakeEnabled(bool on) { setSetting(LumenorSettings::Id::remoteWakeEnabled, on); }
    void setRemoteWakeInterval(int minutes) {
        setSetting(LumenorSettings::Id::remoteWakeInterval, minutes);
    }
    void setMinimumBattery(int percent) {
        setSetting(LumenorSettings::Id::minimumBattery, percent);
    }
    void setStopOnLowBattery(bool on) { setSetting(LumenorSettings::Id::stopOnLowBattery, on); }
    /// Reads the battery now (the panel does on opening) and applies the floor.
    void refreshBattery();
    /// The menu records its own sleep request through this.
    void setPendingSleep(std::optional<PendingSleep> request);

    /// The desktop the controller watches (the menu lists its running applications).
    Workspace& workspace() const { return *workspace_; }

signals:
    /// Emitted after a published field took a new value; several may follow one another.
    void changed();

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
        if (field == value) {
            return;
        }
        field = std::move(value);
        noteChange();
    }
    /// Tells the observers and, once the current work is done, the timer and the watches.
    void noteChange();
    /// Drops a hold, logging why.
    void eraseHold(const std::string& id, const std::string& why);
    /// A hold is active or the listening window is open.
    bool isAwakeByHolds() const;
    /// Closes the remote-wake listening window, if open.
    void closeListeningWindow();

    // Settings (WakeController.cpp)
    void loadSettings();
    void storeSetting(const LumenorSettings::Setting& setting, int value);
    /// Why the store could not be written, in words.
    std::string settingsFailure() const;

    // Inhibitors and problems (WakeControllerInhibitors.cpp)
    /// Logs a change of the mechanisms held and of the keep-awake and display problems.
    void noteInhibitors(bool wanted, bool wantsDisplay = false);
    /// Gives back a grant that no mechanism holds any longer (a portal's late refusal), so that
    /// it counts as refused; whether there was one.
    static bool dropWithdrawn(PowerControl::Assertion& assertion);
    std::vector<std::string> inhibitorsHeld() const;
    /// The reply for a request to keep awake that nothing could carry out; none when held.
    std::optional<LumenorResponse> keepAwakeRefusal() const;
    /// For a request that must not stand unless the computer is held awake (`lumenor run`):
    /// holds it now, or the refusal, with nothing taken or logged as taken.
    std::optional<LumenorResponse> holdAwakeFirst();
    /// Tells the callers waiting for setup its outcome: none when it worked.
    void answerSetup(const std::optional<std::string>& failure);
    /// What keeps the computer awake, as logind's inhibitor list shows it ("lumenor run: make").
    std::string awakeReason() const;
    /// The reply for a command whose settings could not be saved; none when they were.
    std::optional<LumenorResponse> settingsRefusal() const;

    // Deadlines and power state (WakeControllerDeadlines.cpp)
    /// Arms the timer for nextDeadline() and watches the processes and battery the state needs.
    void syncWaits();
    void processEnded(int32_t pid);
    void batteryChanged();
    void powerServiceAppeared();
    void expireSession();
    void expireHolds();
    void enforceBatteryFloor();
    void checkDownload(const std::filesystem::path& file);
    void downloadMeasured(const std::filesystem::path& file,
                          const DownloadWatcher::Measurement& measured);
    void cancelSleepOperation();
    /// The pids whose end changes something: the session's, the holds', the pending sleep's.
    std::set<int32_t> awaitedPids() const;
    /// The battery matters now: a battery is there and the floor applies to what runs.
    bool batteryNeeded() const;
    /// A person or caller asked for something, or a power service appeared: a refused
    /// inhibitor is tried again at once, and backs off from the start (1, 2, 4 … 60 s).
    void retryInhibitorsNow() {
        inhibitorBackoff_ = 0;
        inhibitorRetryAt_ = distantPast;
    }

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
        bool lidReleased = false;

        bool slept = false;
        bool cancelled = false;
    };
    struct SleepPlan {
        bool arm = false;
        long long intervalSeconds = 0;
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
    void resumedFromSuspend();

    // Lid-closed mode (WakeControllerLid.cpp)
    void reconcileLid();
    void renewLease();
    void renewalFailed(const std::string& why);
    /// A lid change and, once it has run, its outcome; settled once it is applied.
    struct LidChange {
        bool on = false;
        PowerResult result;
        bool settled = false;
    };
    void changeLidMode(bool on);
    /// Applies a lid change still running on the privileged queue before a reply is made.
    void settleLidChange();
    void lidChangeFinished(LidChange& change);
    /// Lid-closed mode should be on now.
    bool lidWanted() const;
    /// Asks on `privileged` who else holds the lid switch; a new holder is logged.
    void checkLidHandler();
    void noteLidHandler(std::optional<std::string> who);

    // Session across restarts (WakeControllerState.cpp)
    /// Writes the current session (or none) to the state file. On failure the file is removed
    /// (an ended session must not come back), the failure logged and left for the reply.
    void saveSession();
    /// Takes back the saved session when it still applies; a bad file is set aside and logged.
    void restoreSession();
    /// Moves a state file that cannot be used aside, so that nothing it holds is lost.
    void setStateAside(const std::string& what);

    /// Cancels the wake alarm on `privileged`; nobody waits for the result.
    void postCancelWakeAlarm();

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
    std::map<std::string, Hold> holds_;
    std::optional<PendingSleep> pendingSleep_;
    bool lidModeActive_ = false;
    bool lidAvailable_ = false;
    bool hasLid_ = true;
    bool wakeHelperReady_ = false;
    std::optional<std::string> lidHandledBy_;
    bool remoteCycleArmed_ = false;
    std::optional<Instant> remoteListeningUntil_;
    PowerControl::Battery battery_;
    std::optional<LogEvent> lastEvent_;
    bool setupInProgress_ = false;
    /// Callers of setup waiting for the prompt's outcome.
    std::vector<std::function<void(LumenorResponse)>> setupReplies_;
    std::array<int, LumenorSettings::all.size()> settings_{};

    // Private fields
    /// The lid's lease lasts 120 s; renewing once a minute leaves room for a second try, and
    /// reads the battery (which the lid checks) no more often than that.
    static constexpr double lidRenewEvery = 60;
    /// The clock when update() or the command being handled began.
    Instant now_;
    double listenWindow_ = 180;
    double sleepGrace_ = 20;
    std::shared_ptr<QSettings> defaults_;
    std::unique_ptr<PowerControl::Assertion> systemAssertion_;
    std::unique_ptr<PowerControl::Assertion> displayAssertion_;
    std::shared_ptr<SerialExecutor> privileged_;
    bool lidOpInFlight_ = false;
    std::shared_ptr<LidChange> lidChange_; // the one on the privileged queue, if any
    /// While a command is handled: the lid is taken or given back at once, not on the
    /// privileged queue, so that the reply describes it.
    bool lidChangesNow_ = false;
    Instant lidRetryAfter_ = distantPast;
    Instant lastLeaseRenewal_ = distantPast;
    std::shared_ptr<SleepOperation> sleepOperation_;
    QTimer* deadlineTimer_ = nullptr;
    bool started_ = false;
    std::set<int32_t> watchedPids_;
    bool batteryWatched_ = false;
    bool syncPosted_ = false;
    Instant inhibitorRetryAt_ = distantPast;
    double inhibitorBackoff_ = 0;
    /// An inhibitor is wanted but not held: its retry is a deadline.
    bool inhibitorRefused_ = false;
    /// The portal answers a moment after its handle: the inhibitors are looked at again then.
    std::optional<Instant> inhibitorLookAt_;
    Instant lastHoldEndedAt_ = distantPast;
    std::optional<FileWatch> fileWatch_;
    bool measuringDownload_ = false;
    bool sleeping_ = false;
    /// What a sleep attempt cleared, given back whole when the machine could not sleep.
    struct Cleared {
        std::optional<KeepAwakeSession> session;
        std::map<std::string, Hold> holds;
    };
    std::optional<Cleared> clearedForSleep_;
    std::optional<std::string> keepAwakeProblem_;
    std::optional<std::string> displayProblem_;
    std::optional<std::string> settingsProblem_;
    std::vector<std::string> loggedInhibitors_;
    bool logFailing_ = false;
    /// A bad state file could not be set aside: it is left alone for the rest of the run.
    bool stateFrozen_ = false;
    /// What the reply to the current request must add about a session that was not saved, and
    /// whether an outdated one is still on disk (then the request failed).
    std::optional<std::string> unsavedState_;
    bool unsavedStateLingers_ = false;
    bool awaitingWake_ = false;
    std::vector<QMetaObject::Connection> observers_;
    /// Inhibitors a command asked logind for, handed to its reply's status.
    std::optional<std::vector<LumenorInhibitor>> replyInhibitors_;
};
