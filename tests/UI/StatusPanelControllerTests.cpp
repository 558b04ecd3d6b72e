#include "Lumenor/UI/StatusPanelController.h"

#include "Lumenor/UI/MenuPanel.h"
#include "Lumenor/UI/MenuView.h"
#include "Support/EngineHarness.h"
#include "Support/WakeControllerProbe.h"

#include "UI/WidgetsApplication.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <QApplication>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSystemTrayIcon>
#include <QTest>

#include <chrono>

namespace {

class StatusPanelTest : public testing::Test {
protected:
    /// The widgets application must exist before the harness would make a core one; it is
    /// never destroyed, since tearing it down after the other statics crashes.
    static void SetUpTestSuite() { ensureWidgetsApplication(); }

    StatusPanelTest() {
        const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
        anchor = QRect(available.center().x() - 10, available.top(), 20, 20);
        StatusPanelController::Options options;
        options.clock = [this] { return now; };
        options.anchor = [this] { return anchor; };
        options.services = MenuServices::inert();
        status = std::make_unique<StatusPanelController>(engine.controller(), options);
    }

    EngineHarness engine;
    StatusPanelController::TimePoint now{std::chrono::hours(1)};
    QRect anchor;
    std::unique_ptr<StatusPanelController> status;
};

TEST_F(StatusPanelTest, IconFollowsTheStateAfterEachChange) {
    using Glyph = TrayGlyph::State;
    const auto shows = [&](Glyph glyph) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        EXPECT_EQ(status->shownGlyph(), glyph) << TrayGlyph::name(glyph).toStdString();
        EXPECT_EQ(status->trayIcon().toolTip().toStdString(),
                  "Lumenor — " + engine->statusLine());
    };
    EXPECT_EQ(status->trayIcon().toolTip().toStdString(), "Lumenor — Off");
    shows(Glyph::off);
    WakeControllerProbe(engine.controller()).setRemoteCycleArmed(true);
    shows(Glyph::remoteArmed);
    engine.hold("agent-task", 600);
    shows(Glyph::awake);

    engine->startSession(SessionKind::until(engine.clock.now() + std::chrono::minutes(30)));
    shows(Glyph::awake);
    const QString before = status->trayIcon().toolTip();
    engine.tickAfter(120); // same glyph, new remaining time, shown by the minute's refresh
    auto* refresh = status->findChild<QTimer*>("tooltipRefresh");
    ASSERT_TRUE(refresh->isActive());
    refresh->start(0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return status->trayIcon().toolTip() != before; }));
    shows(Glyph::awake);
    engine->setKeepDisplayOn(true);
    shows(Glyph::awakeDisplay);

    WakeControllerProbe(engine.controller()).setLidModeActive(true);
    shows(Glyph::lidClosed);
    engine->setPendingSleep(
        PendingSleep{engine.clock.now() + std::chrono::minutes(5), std::nullopt, true, "test"});
    shows(Glyph::pendingSleep);
}

TEST_F(StatusPanelTest, GlyphIsRedrawnInTheNewTextColourWhenThePaletteChanges) {
    const QPalette original = QApplication::palette();
    EXPECT_EQ(status->shownInk(), original.color(QPalette::WindowText));
    QPalette changed = original;
    changed.setColor(QPalette::WindowText, QColor(0xF0, 0xF0, 0xF0));
    QApplication::setPalette(changed);
    QCoreApplication::processEvents();
    EXPECT_EQ(status->shownInk(), QColor(0xF0, 0xF0, 0xF0));
    QApplication::setPalette(original);
}

TEST(StatusPanelFit, PlacesThePanelUnderTheItemWithinTheScreen) {
    const QRect screen(0, 24, 1440, 900);
    const auto at = [&](int midX, int height) {
        return StatusPanelController::fitFrame(QRect(midX - 10, 0, 20, 24), screen, height);
    };
    EXPECT_EQ(at(700, 400), QRect(550, 29, 300, 400));
    EXPECT_EQ(at(1420, 400), QRect(1134, 29, 300, 400));
    EXPECT_EQ(at(100, 400), QRect(6, 29, 300, 400));
    EXPECT_EQ(at(700, 2000), QRect(550, 29, 300, 888));
    EXPECT_EQ(at(700, 0), std::nullopt);
}

TEST_F(StatusPanelTest, OpensFreshAndRefusesToReopenRightAfterClosing) {
    MenuPanel& panel = status->panel();
    status->togglePanel();
    ASSERT_TRUE(status->isOpen());
    auto* first = qobject_cast<MenuView*>(panel.content());
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(panel.geometry().top(), anchor.bottom() + 1 + 5);

    status->togglePanel();
    EXPECT_FALSE(status->isOpen());
    EXPECT_EQ(qobject_cast<MenuView*>(panel.content()), nullptr);

    now += std::chrono::milliseconds(200);
    status->togglePanel();
    EXPECT_FALSE(status->isOpen()); // the click that closed it
    now += std::chrono::milliseconds(100);
    status->togglePanel();
    EXPECT_TRUE(status->isOpen());
    EXPECT_NE(qobject_cast<MenuView*>(panel.content()), nullptr);
}

TEST_F(StatusPanelTest, TallContentScrollsInsideAPanelThatFitsTheScreen) {
    MenuPanel& panel = status->panel();
    EXPECT_TRUE(panel.windowFlags().testFlag(Qt::Tool));
    status->showPanel();
    status->showPanel(); // a second launch's request leaves an open panel open
    ASSERT_TRUE(status->isOpen());
    auto* view = qobject_cast<MenuView*>(panel.content());
    ASSERT_NE(view, nullptr);
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    // Content taller than the screen, as many rows open on a small screen make it.
    view->toggle(MenuView::Panel::more);
    view->setMinimumHeight(available.height() + 200);
    view->onSizeChange(view->size().expandedTo(view->minimumSize()));
    QCoreApplication::processEvents();

    EXPECT_LE(panel.height(), available.height() - 12);
    EXPECT_GE(panel.geometry().top(), available.top());
    EXPECT_LE(panel.geometry().bottom(), available.bottom());
    EXPECT_GT(panel.scrollArea()->verticalScrollBar()->maximum(), 0);

    // Escape closes it.
    QTest::keyClick(&panel, Qt::Key_Escape);
    EXPECT_FALSE(status->isOpen());
}

} // namespace
