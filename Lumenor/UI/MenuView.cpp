#include "Lumenor/UI/MenuView.h"

#include <QTimer>

#include "Lumenor/UI/Chips.h"
#include "Lumenor/UI/DateTimeField.h"
#include "Lumenor/UI/ElidedLabel.h"
#include "Lumenor/UI/GlassGroup.h"
#include "Lumenor/UI/MenuSection.h"
#include "Lumenor/UI/MenuTheme.h"
#include "Lumenor/UI/OptionRow.h"
#include "Lumenor/UI/PillButton.h"
#include "Lumenor/UI/Row.h"
#include "Lumenor/UI/RowIcon.h"
#include "Lumenor/UI/StepperRow.h"
#include "Lumenor/UI/SymbolTable.h"
#include "Lumenor/UI/ToggleSwitch.h"
#include "LumenorCore/LumenorWords.h"

#include <QDateTimeEdit>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QRegularExpression>
#include <QScrollArea>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// "Command" is Ctrl and "Option" is Alt on this platform.
const QKeySequence indefinitelyKeys(Qt::CTRL | Qt::Key_I);
const QKeySequence downloadKeys(Qt::CTRL | Qt::Key_F);
const QKeySequence sleepKeys(Qt::ALT | Qt::CTRL | Qt::Key_S);
const QKeySequence quitKeys(Qt::CTRL | Qt::Key_Q);

QString nativeText(const QKeySequence& keys) {
    return keys.toString(QKeySequence::NativeText);
}

QLabel* label(const QString& text, int pixelSize, QWidget* parent,
              MenuTheme::Tone tone = MenuTheme::Tone::primary,
              QFont::Weight weight = QFont::Normal) {
    auto* result = new QLabel(text, parent);
    result->setFont(MenuTheme::font(pixelSize, weight));
    result->setAlignment(MenuTheme::leading());
    MenuTheme::setTone(result, tone);
    return result;
}

/// The locale's short date and time, to the minute.
QString pickerFormat() {
    QString time = QLocale().timeFormat(QLocale::ShortFormat);
    time.remove(QRegularExpression(QStringLiteral("[:.]?s+")));
    return QLocale().dateFormat(QLocale::ShortFormat) + QLatin1Char(' ') + time;
}

QHBoxLayout* rowLayout(QWidget* row) {
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(MenuTheme::margins(4, 0, 6, 0));
    layout->setSpacing(8);
    return layout;
}

} // namespace

MenuView::MenuView(WakeController& controller, MenuServices services, QWidget* parent)
    : QWidget(parent), controller_(controller), services_(std::move(services)),
      untilDate_(defaultUntilDate(controller.now())),
      loginItem_(services_.loginItemEnabled && services_.loginItemEnabled()),
      agentAccess_(services_.agentAccessInstalled && services_.agentAccessInstalled()) {
    SymbolTable::ensureTheme();
    setObjectName(QStringLiteral("menuView"));
    // Narrower only by the scroll bar the panel shows on a screen too short for the view.
    setMinimumWidth(viewWidth - 24);
    setMaximumWidth(viewWidth);
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(12, 12, 12, 12);
    stack->setSpacing(10);
    stack->setSizeConstraint(QLayout::SetNoConstraint);
    buildHeader(stack);
    buildBanner(stack);
    buildKeepAwake(stack);
    buildOptions(stack);
    buildActions(stack);
    buildFooter(stack);
    buildShortcuts();
    MenuTheme::applyTones(this);
    // Once for all the changes of one turn of the event loop.
    connect(&controller_, &WakeController::changed, this, &MenuView::scheduleRender);
    countdown_ = new QTimer(this);
    countdown_->setInterval(1000);
    connect(countdown_, &QTimer::timeout, this, &MenuView::renderHeader);
    // Opening the panel is when a person looks at the battery.
    controller_.refreshBattery();
    render();
}

MenuView::~MenuView() = default;

StepperRow* MenuView::stepper(const QString& title, LumenorSettings::Id id, const QString& unit) {
    // The panel steps through the setting's range and never below one step.
    const auto& setting = LumenorSettings::of(id);
    return new StepperRow(title, {std::max(setting.minimum, setting.panelStep), setting.maximum},
                          setting.panelStep, unit,
                          [this, id](int value) { controller_.setSetting(id, value); });
}

void MenuView::buildHeader(QVBoxLayout* stack) {
    auto* header = new QWidget(this);
    header->setObjectName(QStringLiteral("header"));
    auto* layout = new QHBoxLayout(header);
    layout->setContentsMargins(2, 0, 2, 0);
    layout->setSpacing(10);
    headerIcon_ = new RowIcon({}, header);
    headerIcon_->setObjectName(QStringLiteral("headerIcon"));
    headerIcon_->setShape(RowIcon::Shape::round);
    headerIcon_->setSide(38);
    layout->addWidget(headerIcon_);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(1);
    title_ = label({}, 15, header, MenuTheme::Tone::primary, QFont::DemiBold);
    title_->setObjectName(QStringLiteral("headerTitle"));
    texts->addWidget(title_);
    auto* subtitle = new QHBoxLayout;
    subtitle->setSpacing(4);
    lidBadge_ = new RowIcon(Symbol::laptop, header);
    lidBadge_->setObjectName(QStringLiteral("lidBadge"));
    lidBadge_->setShape(RowIcon::Shape::bare);
    lidBadge_->setSide(12);
    lidBadge_->setToolTip(QStringLiteral("Safe to close the lid"));
    lidBadge_->setAttribute(Qt::WA_TransparentForMouseEvents, false);
    subtitle->addWidget(lidBadge_);
    status_ = new ElidedLabel({}, header);
    status_->setObjectName(QStringLiteral("statusLine"));
    status_->setFont(MenuTheme::font(12));
    MenuTheme::setTone(status_, MenuTheme::Tone::secondary);
    subtitle->addWidget(status_, 1);
    texts->addLayout(subtitle);
    layout->addLayout(texts, 1);

    sessionSwitch_ = new ToggleSwitch(header);
    sessionSwitch_->setObjectName(QStringLiteral("sessionSwitch"));
    connect(sessionSwitch_, &QAbstractButton::clicked, this, &MenuView::setSessionSwitch);
    layout->addWidget(sessionSwitch_);
    stack->addWidget(header);
}

void MenuView::buildBanner(QVBoxLayout* stack) {
    banner_ = new GlassGroup(this);
    banner_->setObjectName(QStringLiteral("sleepBanner"));
    banner_->setTint(MenuTheme::indigo(false));
    auto* row = new QWidget(banner_);
    row->setFixedHeight(MenuTheme::rowHeight);
    auto* layout = rowLayout(row);
    auto* icon = new RowIcon(Symbol::sleep, row);
    icon->setShape(RowIcon::Shape::bare);
    icon->setSide(18);
    layout->addWidget(icon);
    bannerText_ = new ElidedLabel({}, row);
    bannerText_->setObjectName(QStringLiteral("sleepBannerText"));
    bannerText_->setFont(MenuTheme::font(13, QFont::Medium));
    layout->addWidget(bannerText_, 1);
    auto* cancel = new PillButton(
        {}, QStringLiteral("Cancel"), MenuTheme::indigo, [this] { controller_.cancelSleep(false); },
        row);
    cancel->setObjectName(QStringLiteral("cancelSleep"));
    cancel->setCompact(true);
    layout->addWidget(cancel);
    banner_->addWidget(row);
    stack->addWidget(banner_);
}

Row* MenuView::expandableRow(const QString& symbol, const QString& title, Panel panel) {
    auto* row = new Row(symbol, title, Trailing::chevron(false), [this, panel] { toggle(panel); });
    expandable_[panel] = row;
    return row;
}

void MenuView::buildKeepAwake(QVBoxLayout* stack) {
    auto* section = new MenuSection(QStringLiteral("Keep Awake"), this);
    section->setObjectName(QStringLiteral("keepAwakeSection"));
    auto* indefinitely = new Row(Symbol::infinity, QStringLiteral("Indefinitely"),
                                 Trailing::shortcut(nativeText(indefinitelyKeys)),
                                 [this] { controller_.startSession(SessionKind::indefinite()); });
    indefinitely->setObjectName(QStringLiteral("indefinitelyRow"));
    section->addWidget(indefinitely);

    auto* minutes = expandableRow(Symbol::timer, QStringLiteral("Minutes"), Panel::minutes);
    minutes->setObjectName(QStringLiteral("minutesRow"));
    section->addWidget(minutes);
    minuteChips_ = new Chips({5, 10, 15, 30, 45, 60, 90, 120}, QStringLiteral("m"),
                             [this](int value) { start(value); });
    minuteChips_->setObjectName(QStringLiteral("minuteChips"));
    section->addWidget(minuteChips_);

    auto* hours = expandableRow(Symbol::clock, QStringLiteral("Hours"), Panel::hours);
    hours->setObjectName(QStringLiteral("hoursRow"));
    section->addWidget(hours);
    hourChips_ = new Chips({1, 2, 3, 4, 6, 8, 12, 24}, QStringLiteral("h"),
                           [this](int value) { start(value * 60); });
    hourChips_->setObjectName(QStringLiteral("hourChips"));
    section->addWidget(hourChips_);

    auto* until = expandableRow(Symbol::calendar, QStringLiteral("Until…"), Panel::until);
    until->setObjectName(QStringLiteral("untilRow"));
    section->addWidget(until);
    buildUntil(section->group());

    auto* apps = expandableRow(Symbol::appWindow, QStringLiteral("While App Runs"), Panel::apps);
    apps->setObjectName(QStringLiteral("appsRow"));
    section->addWidget(apps);
    buildApplications(section->group());

    auto* download =
        new Row(Symbol::download, QStringLiteral("While Downloading…"),
                Trailing::shortcut(nativeText(downloadKeys)), [this] { chooseDownload(); });
    download->setObjectName(QStringLiteral("downloadRow"));
    downloadRow_ = download;
    section->addWidget(download);
    stack->addWidget(section);
}

void MenuView::buildUntil(QWidget* parent) {
    auto* group = static_cast<GlassGroup*>(parent);
    untilBox_ = new QWidget(group);
    untilBox_->setObjectName(QStringLiteral("untilBox"));
    auto* layout = new QHBoxLayout(untilBox_);
    layout->setContentsMargins(MenuTheme::margins(36, 2, 6, 6));
    layout->setSpacing(8);
    untilEditor_ = new DateTimeField(untilBox_);
    untilEditor_->setObjectName(QStringLiteral("untilEditor"));
    untilEditor_->setCalendarPopup(true);
    untilEditor_->setFont(MenuTheme::font(12));
    untilEditor_->setDisplayFormat(pickerFormat());
    untilEditor_->setFixedHeight(24);
    connect(untilEditor_, &QDateTimeEdit::dateTimeChanged, this, [this](const QDateTime& value) {
        untilDate_ = Instant(std::chrono::milliseconds(value.toMSecsSinceEpoch()));
        scheduleRender();
    });
    setUntilDate(untilDate_);
    layout->addWidget(untilEditor_, 1);
    untilStart_ = new PillButton(
        {}, QStringLiteral("Start"), MenuTheme::orange, [this] { startUntil(); }, untilBox_);
    untilStart_->setObjectName(QStringLiteral("untilStart"));
    untilStart_->setCompact(true);
    layout->addWidget(untilStart_);
    group->addWidget(untilBox_);
}

void MenuView::buildApplications(QWidget* parent) {
    auto* group = static_cast<GlassGroup*>(parent);
    applications_ = new QScrollArea(group);
    applications_->setObjectName(QStringLiteral("applications"));
    applications_->setFrameShape(QFrame::NoFrame);
    applications_->setFocusPolicy(Qt::NoFocus);
    applications_->setWidgetResizable(true);
    applications_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    applications_->viewport()->setAutoFillBackground(false);
    applicationList_ = new QWidget;
    applicationList_->setObjectName(QStringLiteral("applicationList"));
    applicationList_->setAutoFillBackground(false);
    auto* list = new QVBoxLayout(applicationList_);
    list->setContentsMargins(MenuTheme::margins(28, 0, 2, 4));
    list->setSpacing(0);
    applications_->setWidget(applicationList_);
    // The scroll area paints its page by default; the group's glass should show through.
    applicationList_->setAutoFillBackground(false);
    group->addWidget(applications_);
}

void MenuView::buildOptions(QVBoxLayout* stack) {
    auto* section = new MenuSection(QStringLiteral("Options"), this);
    section->setObjectName(QStringLiteral("optionsSection"));
    lidOption_ = new OptionRow(Symbol::laptop, QStringLiteral("Lid Closed"),
                               [this](bool on) { controller_.setLidClosedMode(on); });
    lidOption_->setObjectName(QStringLiteral("lidOption"));
    lidOption_->setToolTip(QStringLiteral("Keep running with the lid shut"));
    section->addWidget(lidOption_);

    displayOption_ = new OptionRow(Symbol::display, QStringLiteral("Display On"),
                                   [this](bool on) { controller_.setKeepDisplayOn(on); });
    displayOption_->setObjectName(QStringLiteral("displayOption"));
    displayOption_->setToolTip(QStringLiteral("Keep the screen lit during sessions"));
    section->addWidget(displayOption_);

    stopBelow_ = new OptionRow(Symbol::battery25, {},
                               [this](bool on) { controller_.setStopOnLowBattery(on); });
    stopBelow_->setObjectName(QStringLiteral("stopBelowOption"));
    section->addWidget(stopBelow_);

    auto* more = expandableRow(Symbol::settings, QStringLiteral("More"), Panel::more);
    more->setObjectName(QStringLiteral("moreRow"));
    section->addWidget(more);
    buildMore(section->group());
    stack->addWidget(section);
}

void MenuView::buildMore(QWidget* parent) {
    auto* group = static_cast<GlassGroup*>(parent);
    moreBox_ = new QWidget(group);
    moreBox_->setObjectName(QStringLiteral("moreBox"));
    auto* rows = new QVBoxLayout(moreBox_);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(0);
    remoteWake_ = new OptionRow(Symbol::signal, QStringLiteral("Remote Wake (Beta)"),
                                [this](bool on) { controller_.setRemoteWakeEnabled(on); });
    remoteWake_->setObjectName(QStringLiteral("remoteWakeOption"));
    rows->addWidget(remoteWake_);

    // Scheduled wakes need a small root helper, installed once; the lid needs none.
    wakeSetup_ = new QWidget;
    wakeSetup_->setObjectName(QStringLiteral("wakeSetup"));
    wakeSetup_->setFixedHeight(MenuTheme::rowHeight);
    auto* setupLayout = rowLayout(wakeSetup_);
    setupLayout->addWidget(new RowIcon(Symbol::signal, wakeSetup_));
    auto* setupTitle = new ElidedLabel(QStringLiteral("Scheduled Wake"), wakeSetup_);
    setupTitle->setFont(MenuTheme::font(13));
    setupLayout->addWidget(setupTitle, 1);
    setupButton_ = new PillButton(
        {}, QStringLiteral("Set Up"), MenuTheme::accent, [this] { controller_.runSetup(); },
        wakeSetup_);
    setupButton_->setObjectName(QStringLiteral("setupButton"));
    setupButton_->setCompact(true);
    setupButton_->setToolTip(QStringLiteral("One-time admin approval"));
    setupLayout->addWidget(setupButton_);
    rows->addWidget(wakeSetup_);
    using LumenorSettings::Id;
    checkEvery_ =
        stepper(QStringLiteral("Check every"), Id::remoteWakeInterval, QStringLiteral("min"));
    checkEvery_->setObjectName(QStringLiteral("checkEveryStepper"));
    rows->addWidget(checkEvery_);
    batteryLimit_ =
        stepper(QStringLiteral("Battery limit"), Id::minimumBattery, QStringLiteral("%"));
    batteryLimit_->setObjectName(QStringLiteral("batteryLimitStepper"));
    rows->addWidget(batteryLimit_);
    agentOption_ = new OptionRow(Symbol::terminal, QStringLiteral("Agent Access"),
                                 [this](bool on) { changeAgentAccess(on); });
    agentOption_->setObjectName(QStringLiteral("agentAccessOption"));
    agentOption_->setToolTip(QStringLiteral("Install the lumenor command and the agent skill "
                                            "(~/.local/bin; the skill folders of Claude Code, "
                                            "the Copilot CLI and Codex)"));
    rows->addWidget(agentOption_);
    removeHelper_ = new Row(Symbol::trash, QStringLiteral("Remove Wake Helper…"), Trailing::none(),
                            [this] { controller_.runUninstall(); });
    removeHelper_->setObjectName(QStringLiteral("removeHelperRow"));
    rows->addWidget(removeHelper_);
    loginOption_ = new OptionRow(Symbol::power, QStringLiteral("Open at Login"),
                                 [this](bool on) { changeLoginItem(on); });
    loginOption_->setObjectName(QStringLiteral("loginItemOption"));
    rows->addWidget(loginOption_);
    group->addWidget(moreBox_);
}

void MenuView::buildActions(QVBoxLayout* stack) {
    auto* actions = new QHBoxLayout;
    actions->setSpacing(8);
    restScreen_ = new PillButton(
        Symbol::display, QStringLiteral("Rest Screen"), MenuTheme::teal,
        [this] { controller_.rest(); }, this);
    restScreen_->setObjectName(QStringLiteral("restScreenButton"));
    restScreen_->setToolTip(QString::fromStdString("Screen off, " + LumenorWords::namedMachine() +
                                                   " stays awake and reachable"));
    actions->addWidget(restScreen_);
    auto* sleep = new PillButton(
        Symbol::sleep, QStringLiteral("Sleep Now"), MenuTheme::indigo,
        [this] { controller_.requestSleepFromMenu(); }, this);
    sleep->setObjectName(QStringLiteral("sleepNowButton"));
    sleep->setToolTip(QStringLiteral("Sleep Now (%1)").arg(nativeText(sleepKeys)));
    actions->addWidget(sleep);
    stack->addLayout(actions);
}

void MenuView::buildFooter(QVBoxLayout* stack) {
    event_ = label({}, 11, this, MenuTheme::Tone::secondary);
    event_->setObjectName(QStringLiteral("footerEvent"));
    event_->setWordWrap(true);
    event_->setTextFormat(Qt::PlainText);
    event_->setContentsMargins(4, 0, 4, 0);
    stack->addWidget(event_);

    auto* footer = new QHBoxLayout;
    footer->setContentsMargins(MenuTheme::margins(4, 0, 0, 0));
    footer->setSpacing(4);
    batteryBox_ = new QWidget(this);
    auto* battery = new QHBoxLayout(batteryBox_);
    battery->setContentsMargins(0, 0, 0, 0);
    battery->setSpacing(4);
    batteryIcon_ = new RowIcon({}, batteryBox_);
    batteryIcon_->setObjectName(QStringLiteral("batteryIcon"));
    batteryIcon_->setShape(RowIcon::Shape::bare);
    batteryIcon_->setSide(14);
    battery->addWidget(batteryIcon_);
    batteryText_ = label({}, 12, batteryBox_, MenuTheme::Tone::secondary);
    batteryText_->setObjectName(QStringLiteral("batteryText"));
    battery->addWidget(batteryText_);
    footer->addWidget(batteryBox_);
    footer->addStretch(1);

    auto* quit = new HoverButton(this);
    quit->setObjectName(QStringLiteral("quitButton"));
    quit->setText(QStringLiteral("Quit"));
    quit->setToolTip(QStringLiteral("Quit Lumenor and restore normal sleep"));
    quit->setFixedHeight(24);
    quit->setAction([this] { services_.quit(); });
    quit->contentLayout()->addWidget(label(QStringLiteral("Quit"), 12, quit));
    quit->contentLayout()->addWidget(
        label(nativeText(quitKeys), 12, quit, MenuTheme::Tone::secondary));
    for (QLabel* part : quit->findChildren<QLabel*>()) {
        part->setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    footer->addWidget(quit);
    stack->addLayout(footer);
}

void MenuView::buildShortcuts() {
    auto bind = [this](const QKeySequence& keys, auto action) {
        auto* shortcut = new QShortcut(keys, this);
        connect(shortcut, &QShortcut::activated, this, action);
        return shortcut;
    };
    bind(indefinitelyKeys, [this] { controller_.startSession(SessionKind::indefinite()); });
    bind(downloadKeys, [this] { chooseDownload(); });
    bind(sleepKeys, [this] { controller_.requestSleepFromMenu(); });
    bind(quitKeys, [this] { services_.quit(); });
    cancelShortcut_ =
        bind(QKeySequence(Qt::Key_Escape), [this] { controller_.cancelSleep(false); });
    cancelShortcut_->setEnabled(false);
}
