#pragma once

#include "Lumenor/UI/MenuServices.h"
#include "Lumenor/UI/TrayGlyph.h"

#include <QColor>

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QSize>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

class MenuPanel;
class QPropertyAnimation;
class QSystemTrayIcon;
class WakeController;

/// The tray icon and the panel that drops down under it. Keeps the icon and its tooltip in
/// step with the controller, opens and closes the panel on clicks and holds a fresh menu view
/// in it while it is open. Main thread only; needs a QApplication.
class QTimer;

class StatusPanelController : public QObject {
    Q_OBJECT

public:
    using TimePoint = std::chrono::steady_clock::time_point;

    /// What tests replace.
    struct Options {
        /// A monotonic clock, so that a change of the wall clock cannot lock the panel shut.
        std::function<TimePoint()> clock = [] { return std::chrono::steady_clock::now(); };
        /// Where the tray icon is on screen; by default its own geometry, or the pointer when
        /// the tray host does not say.
        std::function<QRect()> anchor;
        /// What the menu view reaches outside the controller.
        MenuServices services = MenuServices::system();
        /// A person started the app (not the login autostart, socket activation or a command
        /// that needed it): with no tray it then opens the panel as a window after `noTrayGrace`.
        bool startedByPerson = startedByAPerson();
        std::chrono::milliseconds noTrayGrace{4000};
    };

    /// Neither `--background` (the login autostart entry and starts on demand pass it) nor
    /// the marks of the session's autostart or of socket activation.
    static bool startedByAPerson();

    /// A click within this time of the panel closing does not reopen it: the click that
    /// closed it also reaches the tray icon.
    static constexpr std::chrono::milliseconds reopenGuard{250};
    static constexpr std::chrono::milliseconds fadeIn{120};
    /// The room the panel keeps from the edges of the screen's usable area.
    static constexpr int screenMargin = 6;

    explicit StatusPanelController(WakeController& controller, QObject* parent = nullptr);
    StatusPanelController(WakeController& controller, Options options, QObject* parent = nullptr);
    ~StatusPanelController() override;

    /// The panel's frame for a menu view `height` high under `anchor` within `available`:
    /// 300 wide, centred under the anchor but kept 6 px inside the edges, its top 5 px below
    /// the anchor and at most the available height − 12. When that would run past the bottom
    /// (a tray at the bottom of the screen) the panel sits above the anchor instead. None when
    /// the height is 1 or less (not laid out yet) or there is no room.
    static std::optional<QRect> fitFrame(QRect anchor, QRect available, int height);

    /// Opens the panel, or closes it when it is open. Bound to clicks on the icon.
    void togglePanel();
    /// Opens the panel unless it is open already (a second launch of the app asks for this).
    void showPanel();
    /// Places the panel for a menu view of `size`; the view calls this when its size changes.
    void fit(QSize size);

    bool isOpen() const;
    MenuPanel& panel() const { return *panel_; }
    /// The tray item; none until a tray can show it (on X11 at once, Qt embeds it when a tray
    /// appears; elsewhere once a StatusNotifierItem host runs).
    const QSystemTrayIcon* trayIcon() const { return trayIcon_; }
    QString toolTip() const { return toolTip_; }
    /// The glyph on the tray icon and the ink it is drawn in.
    std::optional<TrayGlyph::State> shownGlyph() const { return shownGlyph_; }
    QColor shownInk() const { return shownInk_; }
    /// Where the panel belongs while open; none while closed.
    const std::optional<QRect>& targetFrame() const { return targetFrame_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void open();
    void close();
    void updateIcon();
    /// Makes the tray item afresh: a tray that starts (again) knows nothing of the old one.
    void makeTrayIcon();
    /// A StatusNotifierItem watcher appeared: the item is made once its host has registered.
    void awaitTrayHost();
    /// Picks the glyphs' ink again: one that reads on the tray's own colour where it can be
    /// seen (X11), else on the desktop's colour scheme (light ink unless it prefers light: bars
    /// are dark by default), else the palette's window text on X11 and light ink elsewhere;
    /// redraws the icon when it changed.
    void refreshInk();
    void scheduleIconUpdate();
    void panelResigned();
    /// Opens the panel as an ordinary window, for a person who has no tray to find it in.
    void openAsWindow();
    void panelMoved();
    bool ownsWindow(const QWidget* window) const;
    QRect defaultAnchor() const;

    WakeController& controller_;
    Options options_;
    QSystemTrayIcon* trayIcon_ = nullptr;
    QString toolTip_;
    QTimer* hostWait_ = nullptr;
    int hostChecks_ = 0;
    std::unique_ptr<MenuPanel> panel_;
    QPointer<QPropertyAnimation> fade_;
    std::optional<TimePoint> lastClosed_;
    std::optional<QRect> targetFrame_;
    QRect anchor_;
    std::optional<TrayGlyph::State> shownGlyph_;
    QColor ink_;
    QColor shownInk_;
    bool iconUpdateQueued_ = false;
    /// Keeps the tooltip's countdown near the truth while one runs: once a minute, not once a
    /// second, for an app that should sleep between deadlines.
    QTimer* tooltipRefresh_ = nullptr;
    int corrections_ = 0;
    bool asWindow_ = false;
    /// Asks sway to move the panel beside the tray: a Wayland client cannot place its windows.
    std::jthread placement_;
};
