#include "Lumenor/UI/StatusPanelController.h"

#include "Lumenor/Engine/WakeController.h"
#include "Lumenor/Platform/DesktopSession.h"
#include "Lumenor/Platform/SwayIpc.h"
#include "Lumenor/UI/MenuPanel.h"
#include "Lumenor/UI/MenuView.h"
#include "Lumenor/UI/SymbolTable.h"
#include "Lumenor/UI/TrayGlyph.h"

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPalette>
#include <QPropertyAnimation>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// A window manager that keeps moving the panel must not make us fight it forever.
constexpr int maxCorrectionsPerOpening = 8;

void sayOnceThatNoTrayExists() {
    static bool said = false;
    if (said)
        return;
    said = true;
    std::fputs("Lumenor: no system tray is available; the icon appears once one starts, and "
               "the lumenor command works as usual.\n",
               stderr);
}

/// The colour of the tray around the icon: its corner pixels, which the glyph leaves free.
/// Only X11 trays show the icon on their own background where it can be read back; none
/// elsewhere or before the tray has placed the icon.
std::optional<QColor> trayBackground(const QSystemTrayIcon& item) {
    const QRect area = item.geometry();
    if (QGuiApplication::platformName() != QLatin1String("xcb") || !area.isValid() ||
        area.width() < 4 || area.height() < 4)
        return std::nullopt;
    QScreen* screen = QGuiApplication::screenAt(area.center());
    if (screen == nullptr)
        return std::nullopt;
    const QImage image = screen->grabWindow(0, area.x(), area.y(), area.width(), area.height())
                             .toImage()
                             .scaled(area.size());
    if (image.isNull())
        return std::nullopt;
    const int right = image.width() - 1;
    const int bottom = image.height() - 1;
    double red = 0, green = 0, blue = 0;
    for (const QPoint corner :
         {QPoint(0, 0), QPoint(right, 0), QPoint(0, bottom), QPoint(right, bottom)}) {
        const QColor pixel = image.pixelColor(corner);
        red += pixel.redF() / 4;
        green += pixel.greenF() / 4;
        blue += pixel.blueF() / 4;
    }
    return QColor::fromRgbF(static_cast<float>(red), static_cast<float>(green),
                            static_cast<float>(blue));
}

bool onX11() {
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

/// Calls `embedded` whenever Qt's X11 tray window is shown, that is embedded by a tray: only
/// then can the tray's colour around it be read.
class EmbedWatch final : public QObject {
public:
    EmbedWatch(QObject* parent, std::function<void()> embedded)
        : QObject(parent), embedded_(std::move(embedded)) {
        qApp->installEventFilter(this);
    }
    ~EmbedWatch() override { qApp->removeEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show &&
            qstrcmp(watched->metaObject()->className(), "QSystemTrayIconSys") == 0)
            embedded_();
        return false;
    }

private:
    std::function<void()> embedded_;
};

} // namespace

StatusPanelController::StatusPanelController(WakeController& controller, QObject* parent)
    : StatusPanelController(controller, Options{}, parent) {}

StatusPanelController::StatusPanelController(WakeController& controller, Options options,
                                             QObject* parent)
    : QObject(parent), controller_(controller), options_(std::move(options)),
      panel_(std::make_unique<MenuPanel>()) {
    if (!options_.anchor)
        options_.anchor = [this] { return defaultAnchor(); };
    panel_->onCancel = [guard = QPointer(this)] {
        if (guard)
            guard->close();
    };
    SymbolTable::ensureTheme();
    ink_ = QGuiApplication::palette().color(QPalette::WindowText);
    connect(&controller_, &WakeController::changed, this,
            &StatusPanelController::scheduleIconUpdate);
    tooltipRefresh_ = new QTimer(this);
    tooltipRefresh_->setObjectName(QStringLiteral("tooltipRefresh"));
    tooltipRefresh_->setInterval(60 * 1000);
    connect(tooltipRefresh_, &QTimer::timeout, this, &StatusPanelController::updateIcon);
    connect(panel_.get(), &MenuPanel::resigned, this, &StatusPanelController::panelResigned);
    connect(panel_.get(), &MenuPanel::moved, this, &StatusPanelController::panelMoved);
    connect(panel_.get(), &MenuPanel::appearanceChanged, this, &StatusPanelController::refreshInk);
    DesktopSession::watchColorScheme(this, [this] { refreshInk(); });
    hostWait_ = new QTimer(this);
    hostWait_->setInterval(200);
    hostWait_->setSingleShot(true);
    connect(hostWait_, &QTimer::timeout, this, &StatusPanelController::awaitTrayHost);
    DesktopSession::watchTrayWatcher(this, [this] {
        hostChecks_ = 0;
        awaitTrayHost();
    });
    if (onX11()) {
        new EmbedWatch(this, [this] {
            for (const int delay : {300, 1500})
                QTimer::singleShot(delay, this, &StatusPanelController::refreshInk);
        });
    }
    // Qt decides once per process whether StatusNotifierItems can be shown: asking before a host
    // runs would leave the icon out for good, so off X11 the item waits for one.
    if (onX11() || DesktopSession::trayHostRegistered())
        makeTrayIcon();
    if (trayIcon_ == nullptr || !QSystemTrayIcon::isSystemTrayAvailable())
        sayOnceThatNoTrayExists();
    refreshInk();
    if (options_.startedByPerson) {
        QTimer::singleShot(options_.noTrayGrace, this, [this] {
            if (trayIcon_ == nullptr || !QSystemTrayIcon::isSystemTrayAvailable())
                openAsWindow();
        });
    }
}

bool StatusPanelController::startedByAPerson() {
    return !QCoreApplication::arguments().contains(QStringLiteral("--background")) &&
           qEnvironmentVariableIsEmpty("DESKTOP_AUTOSTART_ID") &&
           qEnvironmentVariableIsEmpty("LISTEN_FDS");
}

void StatusPanelController::openAsWindow() {
    if (isOpen())
        return;
    controller_.log("⚠️ No system tray runs here, so Lumenor has no icon: launch Lumenor again "
                    "or run “lumenor show” to see this window.",
                    LogEvent::Kind::warning);
    asWindow_ = true;
    panel_->setWindowFlags(Qt::Window);
    open();
}

StatusPanelController::~StatusPanelController() {
    // The panel goes after this object's members; it must not call back into them.
    disconnect(panel_.get(), nullptr, this, nullptr);
    qApp->removeEventFilter(this);
}

std::optional<QRect> StatusPanelController::fitFrame(QRect anchor, QRect available, int height) {
    const int width = MenuPanel::panelWidth;
    if (height <= 1)
        return std::nullopt;
    const int fitted = std::min(height, available.height() - 2 * screenMargin);
    if (fitted <= 1)
        return std::nullopt;
    double x = anchor.x() + anchor.width() / 2.0 - width / 2.0;
    x = std::max(x, available.x() + double(screenMargin));
    // Applied last, so the right edge wins on a screen narrower than the panel.
    x = std::min(x, available.x() + available.width() - width - double(screenMargin));
    const int availableBottom = available.y() + available.height();
    int top = anchor.y() + anchor.height() + 5;
    if (top + fitted > availableBottom) {
        const int above = anchor.y() - 5 - fitted;
        top = above >= available.y() ? above : availableBottom - screenMargin - fitted;
    }
    return QRect(static_cast<int>(std::floor(x)), top, width, fitted);
}

void StatusPanelController::togglePanel() {
    if (isOpen()) {
        close();
        return;
    }
    if (!lastClosed_ || options_.clock() - *lastClosed_ > reopenGuard)
        open();
}

void StatusPanelController::showPanel() {
    if (!isOpen())
        open();
}

bool StatusPanelController::isOpen() const {
    return panel_->isVisible();
}

void StatusPanelController::fit(QSize size) {
    if (size.height() <= 1)
        return;
    QScreen* screen = QGuiApplication::screenAt(anchor_.center());
    if (screen == nullptr)
        screen = QGuiApplication::primaryScreen();
    const QRect available = screen != nullptr ? screen->availableGeometry() : QRect();
    std::optional<QRect> frame = fitFrame(anchor_, available, size.height());
    if (!frame)
        return;
    // Once shown, the panel keeps its top edge, so that a message appearing in it never moves
    // the rows under the pointer; it may then reach over a bottom tray, never off the screen.
    if (isOpen() && targetFrame_) {
        const QRect kept(targetFrame_->topLeft(), frame->size());
        if (screen == nullptr || kept.bottom() <= screen->geometry().bottom())
            frame = kept;
    }
    targetFrame_ = frame;
    // Fixed in size, the panel is a window that tiling compositors float instead of tiling.
    panel_->setFixedSize(frame->size());
    if (panel_->geometry() != *frame)
        panel_->setGeometry(*frame);
}

void StatusPanelController::open() {
    auto* view = new MenuView(controller_, options_.services);
    view->onSizeChange = [guard = QPointer(this)](QSize size) {
        if (guard && guard->isOpen())
            guard->fit(size);
    };
    panel_->setContent(view);
    anchor_ = options_.anchor();
    corrections_ = 0;
    fit(view->measuredSize());

    // Only X11 has window opacity; elsewhere Qt warns at every step of a fade.
    const bool fades = onX11();
    if (fades)
        panel_->setWindowOpacity(0);
    panel_->show();
    panel_->raise();
    panel_->activateWindow();
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")) && !asWindow_)
        placement_ = SwayIpc::moveToTrayCorner(panel_->windowTitle(), screenMargin);
    if (fades) {
        fade_ = new QPropertyAnimation(panel_.get(), "windowOpacity", panel_.get());
        fade_->setDuration(static_cast<int>(fadeIn.count()));
        fade_->setStartValue(0.0);
        fade_->setEndValue(1.0);
        fade_->start(QAbstractAnimation::DeleteWhenStopped);
    }

    qApp->installEventFilter(this);
}

void StatusPanelController::close() {
    if (!isOpen())
        return;
    lastClosed_ = options_.clock();
    targetFrame_.reset();
    if (asWindow_) {
        asWindow_ = false;
        panel_->setWindowFlags(MenuPanel::popupFlags);
    }
    if (fade_)
        fade_->stop();
    panel_->hide();
    qApp->removeEventFilter(this);
    // The menu view and its observation of the controller exist only while the panel is open.
    panel_->setContent(new QWidget);
}

void StatusPanelController::makeTrayIcon() {
    delete trayIcon_;
    trayIcon_ = new QSystemTrayIcon(this);
    connect(trayIcon_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::Context)
                    togglePanel();
            });
    shownGlyph_.reset();
    updateIcon();
    // Shown even without a tray host: on X11 Qt embeds the icon when a tray appears.
    trayIcon_->show();
    // The tray places the icon a moment after it is shown; only then can its colour be read.
    for (const int delay : {800, 3000})
        QTimer::singleShot(delay, this, &StatusPanelController::refreshInk);
}

void StatusPanelController::awaitTrayHost() {
    // A bar takes the watcher's name first and registers its host a moment later.
    if (DesktopSession::trayHostRegistered()) {
        hostWait_->stop();
        makeTrayIcon();
        refreshInk();
    } else if (++hostChecks_ < 25) {
        hostWait_->start();
    } else {
        hostWait_->stop();
    }
}

QRect StatusPanelController::defaultAnchor() const {
    if (asWindow_) {
        const QScreen* screen = QGuiApplication::primaryScreen();
        const QRect area = screen != nullptr ? screen->availableGeometry() : QRect();
        return QRect(area.center().x(), area.top() + area.height() / 8, 1, 1);
    }
    if (trayIcon_ == nullptr)
        return QRect(QCursor::pos(), QSize(1, 1));
    const QRect item = trayIcon_->geometry();
    if (item.isValid() && !item.isEmpty())
        return item;
    return QRect(QCursor::pos(), QSize(1, 1));
}

void StatusPanelController::scheduleIconUpdate() {
    // Many changes in one turn need one update.
    if (iconUpdateQueued_)
        return;
    iconUpdateQueued_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            iconUpdateQueued_ = false;
            updateIcon();
        },
        Qt::QueuedConnection);
}

void StatusPanelController::updateIcon() {
    toolTip_ = QString::fromStdString("Lumenor — " + controller_.statusLine());
    if (tooltipRefresh_ != nullptr) {
        const bool countingDown = controller_.nextDeadline().has_value();
        if (countingDown && !tooltipRefresh_->isActive())
            tooltipRefresh_->start();
        else if (!countingDown)
            tooltipRefresh_->stop();
    }
    const TrayGlyph::State glyph = TrayGlyph::state(controller_);
    if (trayIcon_ != nullptr)
        trayIcon_->setToolTip(toolTip_);
    if (glyph == shownGlyph_ && ink_ == shownInk_)
        return;
    shownGlyph_ = glyph;
    shownInk_ = ink_;
    if (trayIcon_ != nullptr)
        trayIcon_->setIcon(TrayGlyph::icon(glyph, ink_));
}

void StatusPanelController::refreshInk() {
    const QColor light = TrayGlyph::inkFor(Qt::black);
    const std::optional<QColor> background =
        trayIcon_ != nullptr ? trayBackground(*trayIcon_) : std::nullopt;
    if (background)
        ink_ = TrayGlyph::inkFor(*background);
    else if (const auto scheme = DesktopSession::colorScheme())
        ink_ = *scheme == DesktopSession::ColorScheme::light ? TrayGlyph::inkFor(Qt::white) : light;
    else
        ink_ = QGuiApplication::platformName().startsWith(QLatin1String("wayland"))
                   ? light
                   : QGuiApplication::palette().color(QPalette::WindowText);
    updateIcon();
}

void StatusPanelController::panelResigned() {
    // Decided on the next turn, once the window system has settled which window is active.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!isOpen() || asWindow_ || panel_->isActiveWindow())
                return;
            // A dialog or a drop-down opened from the panel keeps it open.
            if (QApplication::activeModalWidget() != nullptr ||
                QApplication::activePopupWidget() != nullptr ||
                ownsWindow(QApplication::activeWindow()))
                return;
            close();
        },
        Qt::QueuedConnection);
}

void StatusPanelController::panelMoved() {
    if (!isOpen() || !targetFrame_ || panel_->geometry() == *targetFrame_)
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!isOpen() || !targetFrame_ || panel_->geometry() == *targetFrame_ ||
                corrections_ >= maxCorrectionsPerOpening)
                return;
            ++corrections_;
            panel_->setGeometry(*targetFrame_);
        },
        Qt::QueuedConnection);
}

bool StatusPanelController::ownsWindow(const QWidget* window) const {
    for (const QWidget* w = window; w != nullptr; w = w->parentWidget()) {
        if (w == panel_.get())
            return true;
    }
    return false;
}

bool StatusPanelController::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonPress && watched->isWidgetType() && !asWindow_) {
        const auto* widget = static_cast<QWidget*>(watched);
        const bool inside = ownsWindow(widget->window()) ||
                            QApplication::activeModalWidget() != nullptr ||
                            QApplication::activePopupWidget() != nullptr;
        if (!inside)
            close();
    }
    return QObject::eventFilter(watched, event);
}
