#include "Lumenor/UI/StatusPanelController.h"

#include "Lumenor/UI/MenuPanel.h"
#include "Lumenor/UI/MenuView.h"
#include "Support/EngineHarness.h"
#include "Support/WakeControllerProbe.h"

#include "UI/WidgetsApplication.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>

#include <chrono>

namespace {

using namespace std::chrono_literals;

QRect available() {
    return QGuiApplication::primaryScreen()->availableGeometry();
}

class StatusPanelTest : public testing::Test {
protected:
    /// The widgets application must exist before the harness would make a core one.
    static void SetUpTestSuite() { ensureWidgetsApplication(); }

    EngineHarness engine;
    StatusPanelController::TimePoint now{1h};
    QRect anchor{available().center().x() - 10, available().top(), 20, 20};
    StatusPanelController status{engine.controller(),
                                 {.clock = [this] { return now; },
                                  .anchor = [this] { return anchor; },
                                  .services = MenuServices::inert()}};
};

TEST_F(StatusPanelTest, IconAndTooltipFollowTheStateAfterEachChange) {
    using Glyph = TrayGlyph::State;
    const auto shows = [&](Glyph glyph) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        EXPECT_EQ(status.shownGlyph(), glyph) << TrayGlyph::name(glyph).toStdString();
        EXPECT_EQ(status.trayIcon().toolTip().toStdString(), "Lumenor — " + engine->statusLine());
    };
    WakeControllerProbe probe(engine.controller());
    shows(Glyph::off);
    probe.setRemoteCycleArmed(true);
    shows(Glyph::remoteArmed);
    engine.hold("agent-task", 600);
    shows(Glyph::awake);

    engine->startSession(SessionKind::until(engine.clock.now() + 30min));
    shows(Glyph::awake);
    engine.clock.advance(120); // unseen by the controller: only the minute's refresh shows it
    auto* refresh = status.findChild<QTimer*>("tooltipRefresh");
    ASSERT_TRUE(refresh->isActive());
    QMetaObject::invokeMethod(refresh, "timeout");
    EXPECT_EQ(status.trayIcon().toolTip().toStdString(), "Lumenor — " + engine->statusLine());
    engine->setKeepDisplayOn(true);
    shows(Glyph::awakeDisplay);
    probe.setLidModeActive(true);
    shows(Glyph::lidClosed);
    engine->setPendingSleep(PendingSleep{engine.clock.now() + 5min, std::nullopt, true, "test"});
    shows(Glyph::pendingSleep);
}

TEST_F(StatusPanelTest, GlyphIsRedrawnInTheNewTextColourWhenThePaletteChanges) {
    const QPalette original = QApplication::palette();
    EXPECT_EQ(status.shownInk(), original.color(QPalette::WindowText));
    QPalette changed = original;
    changed.setColor(QPalette::WindowText, QColor(0xF0, 0xF0, 0xF0));
    QApplication::setPalette(changed);
    QCoreApplication::processEvents();
    EXPECT_EQ(status.shownInk(), QColor(0xF0, 0xF0, 0xF0));
    QApplication::setPalette(original);
}

TEST(StatusPanelFit, PlacesThePanelUnderTheItemWithinTheScreen) {
    const auto at = [](int midX, int height) {
        return StatusPanelController::fitFrame(QRect(midX - 10, 0, 20, 24), {0, 24, 1440, 900},
                                               height);
    };
    EXPECT_EQ(at(700, 400), QRect(550, 29, 300, 400));
    EXPECT_EQ(at(1420, 400), QRect(1134, 29, 300, 400));
    EXPECT_EQ(at(100, 400), QRect(6, 29, 300, 400));
    EXPECT_EQ(at(700, 2000), QRect(550, 29, 300, 888));
    EXPECT_EQ(at(700, 0), std::nullopt);
}

TEST_F(StatusPanelTest, OpensFreshRefusesToReopenRightAfterClosingAndScrollsTallContent) {
    MenuPanel& panel = status.panel();
    const auto view = [&] { return qobject_cast<MenuView*>(panel.content()); };
    EXPECT_TRUE(panel.windowFlags().testFlag(Qt::Tool));
    status.togglePanel();
    ASSERT_TRUE(status.isOpen());
    EXPECT_NE(view(), nullptr);
    EXPECT_EQ(panel.geometry().top(), anchor.bottom() + 1 + 5);
    status.togglePanel();
    EXPECT_FALSE(status.isOpen());
    EXPECT_EQ(view(), nullptr);

    now += 200ms;
    status.togglePanel();
    EXPECT_FALSE(status.isOpen()); // the click that closed it
    now += 100ms;
    status.togglePanel();
    status.showPanel(); // a second launch's request leaves an open panel open
    ASSERT_TRUE(status.isOpen());
    ASSERT_NE(view(), nullptr);

    // Content taller than the screen, as many rows open on a small screen make it, reported
    // after the view's queued renders, which would measure it afresh.
    view()->toggle(MenuView::Panel::more);
    view()->setMinimumHeight(available().height() + 200);
    QCoreApplication::processEvents();
    view()->onSizeChange(view()->size().expandedTo(view()->minimumSize()));
    EXPECT_TRUE(available().contains(panel.geometry())) << panel.geometry().height();
    EXPECT_GT(panel.scrollArea()->verticalScrollBar()->maximum(), 0);

    QTest::keyClick(&panel, Qt::Key_Escape);
    EXPECT_FALSE(status.isOpen());
}

} // namespace
