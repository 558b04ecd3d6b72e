#include "Lumenor/UI/MenuView.h"

#include <QDateTimeEdit>
#include <QTimer>

namespace {

QDateTime dateTime(Instant instant) {
    return QDateTime::fromMSecsSinceEpoch(
        std::chrono::duration_cast<std::chrono::milliseconds>(instant.time_since_epoch()).count());
}

} // namespace

Instant MenuView::defaultUntilDate(Instant now) {
    using std::chrono::milliseconds;
    constexpr qint64 halfHour = 30 * 60 * 1000;
    const qint64 earliest =
        std::chrono::duration_cast<milliseconds>(now.time_since_epoch()).count() + halfHour / 2;
    // Half hours of the local clock: a zone 45 minutes off UTC has them elsewhere.
    const qint64 offset =
        static_cast<qint64>(QDateTime::fromMSecsSinceEpoch(earliest).offsetFromUtc()) * 1000;
    const qint64 local = earliest + offset;
    const qint64 rounded = (local + halfHour - 1) / halfHour * halfHour;
    return Instant(milliseconds(rounded - offset));
}

void MenuView::toggle(Panel panel) {
    expanded_ = expanded_ == panel ? std::nullopt : std::optional<Panel>(panel);
    if (expanded_ == Panel::until) {
        // Only times from now on can be picked.
        const QSignalBlocker quiet(untilEditor_);
        untilEditor_->setMinimumDateTime(dateTime(controller_.now()));
        setUntilDate(untilDate_);
    }
    render();
}

void MenuView::collapse(Panel panel) {
    if (expanded_ == panel) {
        expanded_.reset();
    }
    scheduleRender();
}

void MenuView::setUntilDate(Instant date) {
    untilDate_ = date;
    const QSignalBlocker quiet(untilEditor_);
    untilEditor_->setDateTime(dateTime(date));
    scheduleRender();
}

void MenuView::setSessionSwitch(bool on) {
    if (on) {
        controller_.startSession(SessionKind::indefinite());
    } else {
        controller_.endSession("Stopped");
    }
}

void MenuView::start(int minutes) {
    controller_.startSession(SessionKind::until(controller_.now() + std::chrono::minutes(minutes)));
    expanded_.reset();
    scheduleRender();
}

void MenuView::startUntil() {
    // The button may still be enabled from the last render while the time has just passed.
    if (untilDate_ <= controller_.now()) {
        scheduleRender();
        return;
    }
    controller_.startSession(SessionKind::until(untilDate_));
    collapse(Panel::until);
}

void MenuView::startApplication(const RunningApplication& application) {
    controller_.startSession(
        SessionKind::app(application.pid, application.localizedName.value_or("App")));
    collapse(Panel::apps);
}

void MenuView::chooseDownload() {
    // The dialog takes the focus, which closes the panel and deletes this view: it runs from
    // the event loop, tied to the controller, which outlives every view.
    WakeController* controller = &controller_;
    auto choose = services_.chooseDownload;
    if (!choose) {
        return;
    }
    QTimer::singleShot(0, controller, [controller, choose] {
        if (const auto chosen = choose()) {
            controller->startSession(SessionKind::file(*chosen));
        }
    });
}

void MenuView::changeAgentAccess(bool on) {
    const auto failure = on ? services_.installAgentAccess() : services_.removeAgentAccess();
    if (failure) {
        controller_.log("⚠️ Agent Access: " + *failure, LogEvent::Kind::warning);
    }
    agentAccess_ = services_.agentAccessInstalled();
    scheduleRender();
}

void MenuView::changeLoginItem(bool on) {
    if (const auto failure = services_.setLoginItem(on)) {
        controller_.log("⚠️ Login item: " + *failure, LogEvent::Kind::warning);
    }
    loginItem_ = services_.loginItemEnabled();
    scheduleRender();
}
