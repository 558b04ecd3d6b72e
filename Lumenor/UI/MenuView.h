#pragma once

#include "Lumenor/Engine/WakeController.h"
#include "Lumenor/UI/MenuServices.h"

#include <QSize>
#include <QWidget>

#include <functional>
#include <map>
#include <optional>
#include <vector>

class Chips;
class GlassGroup;
class HoverButton;
class OptionRow;
class PillButton;
class QDateTimeEdit;
class QLabel;
class QScrollArea;
class QShortcut;
class QVBoxLayout;
class Row;
class RowIcon;
class StepperRow;
class ToggleSwitch;

/// The content of the tray panel: the controller's state at a glance and every action a person
/// needs. It re-renders from the controller after each change, keeping only a little state of
/// its own (which row is open, the chosen end time and the two switches kept outside the
/// controller). Main thread only.
class QTimer;

class MenuView : public QWidget {
    Q_OBJECT

public:
    /// The expandable rows; at most one is open.
    enum class Panel { minutes, hours, until, apps, more };

    static constexpr int viewWidth = 300;

    explicit MenuView(WakeController& controller, MenuServices services = MenuServices::system(),
                      QWidget* parent = nullptr);
    ~MenuView() override;

    /// Called with the view's measured size after a render that changed it.
    std::function<void(QSize)> onSizeChange;

    const std::optional<Panel>& expanded() const { return expanded_; }
    /// Opens `panel`, or closes it when it is the open one.
    void toggle(Panel panel);
    Instant untilDate() const { return untilDate_; }
    void setUntilDate(Instant date);
    bool loginItem() const { return loginItem_; }
    bool agentAccess() const { return agentAccess_; }

    /// 300 wide and as high as the content asks for at that width.
    QSize measuredSize() const;
    QSize sizeHint() const override { return measuredSize(); }

    /// What "Until…" proposes at `now`: the first full half hour (local time) at least 15
    /// minutes away, without seconds.
    static Instant defaultUntilDate(Instant now);
    /// The footer's battery symbol: Symbol::charging on power, else a level; empty when unknown.
    static QString batterySymbol(const PowerControl::Battery& battery);
    /// Whether the footer shows this event: warnings, battery and setup news only.
    static bool showsEvent(const LogEvent& event);
    /// The applications offered for "While App Runs": regular ones except `ownPid`, by name
    /// without regard to case.
    static std::vector<RunningApplication>
    listedApplications(std::vector<RunningApplication> running, int32_t ownPid);

public slots:
    /// Brings every part of the view in line with the controller and the view state.
    void render();

protected:
    void changeEvent(QEvent* event) override;
    /// The countdown in the status line runs only while the view is shown.
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // Construction (MenuView.cpp)
    void buildHeader(QVBoxLayout* stack);
    void buildBanner(QVBoxLayout* stack);
    void buildKeepAwake(QVBoxLayout* stack);
    void buildUntil(QWidget* parent);
    void buildApplications(QWidget* parent);
    void buildOptions(QVBoxLayout* stack);
    void buildMore(QWidget* parent);
    void buildActions(QVBoxLayout* stack);
    void buildFooter(QVBoxLayout* stack);
    void buildShortcuts();
    Row* expandableRow(const QString& symbol, const QString& title, Panel panel);
    StepperRow* stepper(const QString& title, LumenorSettings::Id id, const QString& unit);

    // Rendering (MenuViewRender.cpp)
    void scheduleRender();
    void renderHeader();
    void renderKeepAwake();
    void renderApplications();
    void renderOptions();
    void renderFooter();
    /// The lid row's tooltip: who decides what closing the lid does.
    QString lidTip() const;
    void reportSize();

    // Actions (MenuViewActions.cpp)
    void setSessionSwitch(bool on);
    void start(int minutes);
    void startUntil();
    void startApplication(const RunningApplication& application);
    void chooseDownload();
    void changeAgentAccess(bool on);
    void changeLoginItem(bool on);
    void collapse(Panel panel);

    WakeController& controller_;
    MenuServices services_;
    std::optional<Panel> expanded_;
    Instant untilDate_;
    bool loginItem_ = false;
    bool agentAccess_ = false;
    bool renderQueued_ = false;
    QTimer* countdown_ = nullptr;
    std::optional<QSize> reportedSize_;
    std::vector<RunningApplication> shownApplications_;

    // Header and banner
    RowIcon* headerIcon_ = nullptr;
    QLabel* title_ = nullptr;
    RowIcon* lidBadge_ = nullptr;
    QLabel* status_ = nullptr;
    ToggleSwitch* sessionSwitch_ = nullptr;
    GlassGroup* banner_ = nullptr;
    QLabel* bannerText_ = nullptr;
    QShortcut* cancelShortcut_ = nullptr;

    // Keep Awake
    std::map<Panel, Row*> expandable_;
    Chips* minuteChips_ = nullptr;
    Chips* hourChips_ = nullptr;
    QWidget* untilBox_ = nullptr;
    QDateTimeEdit* untilEditor_ = nullptr;
    PillButton* untilStart_ = nullptr;
    QScrollArea* applications_ = nullptr;
    QWidget* applicationList_ = nullptr;
    Row* downloadRow_ = nullptr;

    // Options
    OptionRow* lidOption_ = nullptr;
    QWidget* wakeSetup_ = nullptr;
    PillButton* setupButton_ = nullptr;
    /// Offered only where the display can be turned off and comes back on with input.
    PillButton* restScreen_ = nullptr;
    OptionRow* displayOption_ = nullptr;
    OptionRow* stopBelow_ = nullptr;
    QWidget* moreBox_ = nullptr;
    OptionRow* remoteWake_ = nullptr;
    StepperRow* checkEvery_ = nullptr;
    StepperRow* batteryLimit_ = nullptr;
    OptionRow* agentOption_ = nullptr;
    Row* removeHelper_ = nullptr;
    OptionRow* loginOption_ = nullptr;

    // Footer
    QLabel* event_ = nullptr;
    QWidget* batteryBox_ = nullptr;
    RowIcon* batteryIcon_ = nullptr;
    QLabel* batteryText_ = nullptr;
};
