#include "Lumenor/UI/MenuView.h"

#include "Lumenor/UI/Chips.h"
#include "Lumenor/UI/GlassGroup.h"
#include "Lumenor/UI/HoverButton.h"
#include "Lumenor/UI/MenuTheme.h"
#include "Lumenor/UI/OptionRow.h"
#include "Lumenor/UI/PillButton.h"
#include "Lumenor/UI/Row.h"
#include "Lumenor/UI/RowIcon.h"
#include "Lumenor/UI/StepperRow.h"
#include "Lumenor/UI/SymbolTable.h"
#include "Lumenor/UI/ToggleSwitch.h"

#include <QCollator>
#include <QCoreApplication>
#include <QDateTimeEdit>
#include <QEvent>
#include <QFileInfo>
#include <QIcon>
#include <QLabel>
#include <QLayout>
#include <QScrollArea>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <ranges>

namespace {

constexpr int applicationHeight = 26;
constexpr int applicationsShown = 6;

QString text(const std::string& value) {
    return QString::fromStdString(value);
}

QString applicationName(const RunningApplication& application) {
    return application.localizedName ? text(*application.localizedName) : QStringLiteral("App");
}

QIcon applicationIcon(const RunningApplication& application) {
    const QString name = text(application.iconName);
    if (name.isEmpty()) {
        return QIcon::fromTheme(QStringLiteral("application-x-executable"));
    }
    if (QFileInfo(name).isAbsolute()) {
        return QIcon(name);
    }
    return QIcon::fromTheme(name, QIcon::fromTheme(QStringLiteral("application-x-executable")));
}

} // namespace

QString MenuView::batterySymbol(const PowerControl::Battery& battery) {
    if (!battery.percent) {
        return {};
    }
    if (!battery.onBattery) {
        return Symbol::charging;
    }
    const auto percent = *battery.percent;
    if (percent <= 12) {
        return Symbol::battery0;
    }
    if (percent <= 37) {
        return Symbol::battery25;
    }
    if (percent <= 62) {
        return Symbol::battery50;
    }
    if (percent <= 87) {
        return Symbol::battery75;
    }
    return Symbol::battery100;
}

bool MenuView::showsEvent(const LogEvent& event) {
    return event.kind != LogEvent::Kind::routine;
}

std::vector<RunningApplication>
MenuView::listedApplications(std::vector<RunningApplication> running, int32_t ownPid) {
    std::erase_if(running, [ownPid](const RunningApplication& application) {
        return !application.isRegular || application.pid == ownPid;
    });
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    auto key = [](const RunningApplication& application) {
        return application.localizedName ? text(*application.localizedName) : QString();
    };
    std::stable_sort(running.begin(), running.end(),
                     [&](const RunningApplication& left, const RunningApplication& right) {
                         return collator.compare(key(left), key(right)) < 0;
                     });
    return running;
}

void MenuView::scheduleRender() {
    if (renderQueued_) {
        return;
    }
    renderQueued_ = true;
    QMetaObject::invokeMethod(this, &MenuView::render, Qt::QueuedConnection);
}

void MenuView::render() {
    renderQueued_ = false;
    renderHeader();
    renderKeepAwake();
    renderOptions();
    renderFooter();
    reportSize();
}

void MenuView::renderHeader() {
    const bool awake = controller_.keptAwake();
    const bool dark = MenuTheme::isDark(palette());
    headerIcon_->setSymbol(awake ? Symbol::sun : Symbol::moon);
    if (awake) {
        headerIcon_->setFill(QColor(255, 204, 0), MenuTheme::orange(dark));
    } else {
        headerIcon_->setFill(MenuTheme::indigo(dark).lighter(125), MenuTheme::indigo(dark));
    }
    title_->setText(awake ? QStringLiteral("Awake") : QStringLiteral("Lumenor"));
    lidBadge_->setVisible(awake && controller_.lidModeActive());
    const QString line = text(controller_.statusLine());
    status_->setText(line);
    status_->setToolTip(line);
    const bool session = controller_.session().has_value();
    sessionSwitch_->showOn(session);
    const QString switchName = session ? QStringLiteral("Stop") : QStringLiteral("Keep awake");
    sessionSwitch_->setToolTip(switchName);
    sessionSwitch_->setAccessibleName(switchName);

    const bool pending = controller_.pendingSleep().has_value();
    banner_->setVisible(pending);
    bannerText_->setText(line);
    cancelShortcut_->setEnabled(pending);
}

void MenuView::renderKeepAwake() {
    for (const auto& [panel, row] : expandable_) {
        row->setTrailing(Trailing::chevron(expanded_ == panel));
    }
    minuteChips_->setVisible(expanded_ == Panel::minutes);
    hourChips_->setVisible(expanded_ == Panel::hours);
    untilBox_->setVisible(expanded_ == Panel::until);
    untilStart_->setEnabled(untilDate_ > controller_.now());
    applications_->setVisible(expanded_ == Panel::apps);
    if (expanded_ == Panel::apps) {
        renderApplications();
    }
}

void MenuView::renderApplications() {
    auto listed = listedApplications(controller_.workspace().runningApplications(),
                                     static_cast<int32_t>(QCoreApplication::applicationPid()));
    if (listed == shownApplications_ && !applicationList_->layout()->isEmpty()) {
        return;
    }
    shownApplications_ = std::move(listed);
    QLayout* list = applicationList_->layout();
    while (QLayoutItem* item = list->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    for (const RunningApplication& application : shownApplications_) {
        auto* entry = new HoverButton(
            applicationName(application), applicationIcon(application),
            [this, application] { startApplication(application); }, applicationList_);
        entry->setObjectName(QStringLiteral("applicationEntry"));
        list->addWidget(entry);
    }
    if (shownApplications_.empty()) {
        auto* none = new QLabel(QStringLiteral("No apps running"), applicationList_);
        none->setObjectName(QStringLiteral("noApplications"));
        none->setFont(MenuTheme::font(12));
        none->setFixedHeight(applicationHeight);
        none->setContentsMargins(MenuTheme::margins(8, 0, 0, 0));
        MenuTheme::setTone(none, MenuTheme::Tone::secondary);
        list->addWidget(none);
        MenuTheme::applyTones(applicationList_);
    }
    // Created after the rest of the view, the entries are put back in their place in the
    // keyboard order: right after their row, before "While Downloading…".
    QWidget* previous = expandable_.at(Panel::apps);
    for (HoverButton* entry :
         applicationList_->findChildren<HoverButton*>(Qt::FindDirectChildrenOnly)) {
        QWidget::setTabOrder(previous, entry);
        previous = entry;
    }
    QWidget::setTabOrder(previous, downloadRow_);
    const int rows = std::max<int>(1, static_cast<int>(shownApplications_.size()));
    applications_->setFixedHeight(std::min(rows, applicationsShown) * applicationHeight + 4);
    applications_->setVerticalScrollBarPolicy(rows > applicationsShown ? Qt::ScrollBarAsNeeded
                                                                       : Qt::ScrollBarAlwaysOff);
}

void MenuView::renderOptions() {
    const bool wakeHelper = controller_.wakeHelperReady();
    lidOption_->setVisible(controller_.hasLid());
    lidOption_->setOn(controller_.lidClosedMode());
    lidOption_->setToolTip(lidTip());
    wakeSetup_->setVisible(!wakeHelper);
    const bool waiting = controller_.setupInProgress();
    setupButton_->setText(waiting ? QStringLiteral("Waiting…") : QStringLiteral("Set Up"));
    setupButton_->setEnabled(!waiting);
    setupButton_->updateGeometry();
    displayOption_->setOn(controller_.keepDisplayOn());
    // Asked for but not held: the row says so where the switch is, the tip says why.
    const auto& unlit = controller_.displayProblem();
    displayOption_->setTitle(unlit ? QStringLiteral("Display On ⚠️")
                                   : QStringLiteral("Display On"));
    displayOption_->setToolTip(unlit ? text(*unlit)
                                     : QStringLiteral("Keep the screen lit during sessions"));

    const QString floor = QString::number(controller_.minimumBattery());
    stopBelow_->setTitle(QStringLiteral("Stop Below %1%").arg(floor));
    stopBelow_->setToolTip(
        QStringLiteral("On battery, return to normal sleep when charge drops below %1%")
            .arg(floor));
    stopBelow_->setOn(controller_.stopOnLowBattery());
    // A computer without a battery has no use for the battery floor.
    const bool hasBattery = controller_.battery().percent.has_value();
    stopBelow_->setVisible(hasBattery);

    moreBox_->setVisible(expanded_ == Panel::more);
    // Without the helper Remote Wake cannot be switched on, but one left on can be switched off.
    remoteWake_->setOn(controller_.remoteWakeEnabled());
    remoteWake_->setEnabled(wakeHelper || controller_.remoteWakeEnabled());
    remoteWake_->setToolTip(
        wakeHelper || controller_.remoteWakeEnabled()
            ? QStringLiteral(
                  "While asleep, wake every %1 min for about 3 min, so that remote tools "
                  "(SSH, a chat bot, an agent) can reach the computer and keep it "
                  "awake with “lumenor wake”")
                  .arg(controller_.remoteWakeInterval())
            : QStringLiteral("Needs the wake helper, which is not installed: use Set Up or run "
                             "“lumenor setup”"));
    checkEvery_->setValue(controller_.remoteWakeInterval());
    batteryLimit_->setValue(controller_.minimumBattery());
    batteryLimit_->setVisible(hasBattery);
    agentOption_->setOn(agentAccess_);
    removeHelper_->setVisible(wakeHelper);
    loginOption_->setOn(loginItem_);
}

QString MenuView::lidTip() const {
    if (const auto& who = controller_.lidHandledBy()) {
        return text(*who) + QStringLiteral(" handles the lid itself: its own lid setting decides");
    }
    return controller_.lidAvailable() ? QStringLiteral("Keep running with the lid shut")
                                      : QStringLiteral("The system won't let Lumenor hold the lid");
}

void MenuView::renderFooter() {
    // pkexec's dialog cannot say why it asks, so the panel says it while the dialog is open.
    const auto last = controller_.setupInProgress()
                          ? std::optional<LogEvent>(
                                LogEvent{LogEvent::Kind::setup, WakeController::setupExplanation})
                          : controller_.lastEvent();
    const bool shown = last && showsEvent(*last);
    event_->setVisible(shown);
    event_->setText(shown ? text(last->text) : QString());
    const auto& battery = controller_.battery();
    batteryBox_->setVisible(battery.percent.has_value());
    batteryIcon_->setSymbol(batterySymbol(battery));
    batteryText_->setText(battery.percent ? QStringLiteral("%1%").arg(*battery.percent)
                                          : QString());
}

QSize MenuView::measuredSize() const {
    // Rows shown or hidden since the last layout pass have only posted their layout requests;
    // settle them from the innermost out, so each group reports its new height upwards.
    for (QWidget* part : findChildren<QWidget*>() | std::views::reverse) {
        if (QLayout* inner = part->layout()) {
            inner->activate();
        }
    }
    QLayout* stack = layout();
    stack->activate();
    const int height = stack->hasHeightForWidth() ? stack->totalHeightForWidth(viewWidth)
                                                  : stack->totalSizeHint().height();
    return {viewWidth, height};
}

void MenuView::reportSize() {
    const QSize size = measuredSize();
    if (!onSizeChange || reportedSize_ == size) {
        return;
    }
    reportedSize_ = size;
    onSizeChange(size);
}

void MenuView::showEvent(QShowEvent* event) {
    renderHeader();
    restScreen_->setVisible(!controller_.restProblem());
    countdown_->start();
    QWidget::showEvent(event);
}

void MenuView::hideEvent(QHideEvent* event) {
    countdown_->stop();
    QWidget::hideEvent(event);
}

void MenuView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange) {
        MenuTheme::applyTones(this);
        scheduleRender();
    }
    QWidget::changeEvent(event);
}
