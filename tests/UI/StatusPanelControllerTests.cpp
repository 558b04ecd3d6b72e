#include "Lumenor/UI/StatusPanelController.h"

#include "Lumenor/UI/MenuPanel.h"
#include "Lumenor/UI/MenuView.h"
#include "Support/EngineHarness.h"
#include "Support/WakeControllerProbe.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTest>

#include <chrono>

namespace {

void ensureWidgets() {
    static int argc = 1;
    static char name[] = "StatusPanelControllerTests";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        // Never destroyed: tearing it down after the other statics is what crashes.
        new QApplication(argc, argv);
    }
}

void settle() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

/// Comes first so that the widgets application exists before the harness makes a core one.
struct WithWidgets {
    WithWidgets() { ensureWidgets(); }
};

class StatusPanelTest : public testing::Test, private WithWidgets {
protected:
    StatusPanelTest() {
        available = QGuiApplication::primaryScreen()->availableGeometry();
        anchor = QRect(available.center().x() - 10, available.top(), 20, 20);
    }

    std::unique_ptr<StatusPanelController> makeStatusPanel() {
        StatusPanelController::Options options;
        options.clock = [this] { return now; };
        options.anchor = [this] { return anchor; };
        options.services = MenuServices::inert();
        return std::make_unique<StatusPanelController>(engine.controller(), options);
    }

    EngineHarness engine;
    StatusPanelController::TimePoint now{std::chrono::hours(1)};
    QRect available;
    QRect anchor;
};

TEST_F(StatusPanelTest, IconFollowsTheStateAfterEachChange) {
    auto status = makeStatusPanel();
    const auto shows = [&](const std::string& symbol) {
        settle();
        EXPECT_EQ(status->lastSymbol(), symbol);
        EXPECT_EQ(status->statusItem().toolTip().toStdString(),
                  "Lumenor — " + engine->statusLine());
    };
    EXPECT_EQ(status->statusItem().toolTip().toStdString(), "Lumenor — Off");
    shows("cup.and.saucer");

    WakeControllerProbe(engine.controller()).setRemoteCycleArmed(true);
    shows("antenna.radiowaves.left.and.right");
    engine->hold("agent-task", 600);
    shows("bolt.horizontal.circle");
    EXPECT_EQ(status->statusItem().toolTip().toStdString().rfind("Lumenor — Copilot task", 0), 0u);

    engine->startSession(SessionKind::until(engine.clock.now() + std::chrono::minutes(30)));
    shows("cup.and.heat.waves");
    const QString before = status->statusItem().toolTip();
    engine.tickAfter(120); // same symbol, new remaining time
    shows("cup.and.heat.waves");
    EXPECT_NE(status->statusItem().toolTip(), before);

    WakeControllerProbe(engine.controller()).setLidModeActive(true);
    shows("cup.and.heat.waves.fill");
    engine->setPendingSleep(PendingSleep{.notBefore = engine.clock.now() + std::chrono::minutes(5),
                                         .waitForPid = std::nullopt,
                                         .force = true,
                                         .requestedBy = "test"});
    shows("moon.zzz.fill");
    engine->cancelSleep(true);
    shows("cup.and.heat.waves.fill");
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
    EXPECT_EQ(at(700, 1), std::nullopt);
    // The right edge wins on a screen narrower than the panel.
    EXPECT_EQ(StatusPanelController::fitFrame(QRect(90, 0, 20, 24), QRect(0, 24, 200, 900), 400),
              QRect(-106, 29, 300, 400));
    // No screen: no frame rather than a negative height.
    EXPECT_EQ(StatusPanelController::fitFrame(QRect(90, 0, 20, 24), QRect(), 400), std::nullopt);
    // A tray at the bottom of the screen opens the panel above the item.
    const QRect above(0, 0, 1440, 876);
    EXPECT_EQ(StatusPanelController::fitFrame(QRect(1410, 876, 20, 24), above, 400),
              QRect(1134, 471, 300, 400));
    // Neither below nor above: kept inside the screen.
    EXPECT_EQ(StatusPanelController::fitFrame(QRect(700, 400, 20, 20), above, 700),
              QRect(560, 170, 300, 700));
}

TEST_F(StatusPanelTest, OpensFreshAndRefusesToReopenRightAfterClosing) {
    auto status = makeStatusPanel();
    MenuPanel& panel = status->panel();
    EXPECT_EQ(qobject_cast<MenuView*>(panel.content()), nullptr);

    status->togglePanel();
    ASSERT_TRUE(status->isOpen());
    auto* first = qobject_cast<MenuView*>(panel.content());
    ASSERT_NE(first, nullptr);
    ASSERT_TRUE(status->targetFrame().has_value());
    EXPECT_EQ(panel.geometry(), *status->targetFrame());
    EXPECT_EQ(panel.geometry().top(), anchor.bottom() + 1 + 5);
    EXPECT_EQ(panel.width(), 300);

    status->togglePanel();
    EXPECT_FALSE(status->isOpen());
    EXPECT_EQ(status->targetFrame(), std::nullopt);
    EXPECT_EQ(qobject_cast<MenuView*>(panel.content()), nullptr);

    now += std::chrono::milliseconds(200);
    status->togglePanel();
    EXPECT_FALSE(status->isOpen()); // the click that closed it
    now += std::chrono::milliseconds(100);
    status->togglePanel();
    ASSERT_TRUE(status->isOpen());
    EXPECT_NE(qobject_cast<MenuView*>(panel.content()), nullptr);

    QTest::keyClick(&panel, Qt::Key_Escape);
    EXPECT_FALSE(status->isOpen());
}

TEST_F(StatusPanelTest, KeepsItsPlaceAndClosesWhenAnotherWindowIsUsed) {
    QWidget other;
    other.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&other));

    auto status = makeStatusPanel();
    MenuPanel& panel = status->panel();
    status->togglePanel();
    ASSERT_TRUE(status->isOpen());
    settle();
    const QRect target = *status->targetFrame();

    panel.move(target.topLeft() + QPoint(40, 60));
    settle();
    EXPECT_EQ(panel.geometry(), target);

    status->fit(QSize(300, 0)); // not laid out yet
    EXPECT_EQ(panel.geometry(), target);
    status->fit(QSize(300, 100000));
    EXPECT_EQ(panel.height(), available.height() - 12);

    // A click elsewhere closes it at once, before any change of the active window.
    QTest::mouseClick(&other, Qt::LeftButton);
    EXPECT_FALSE(status->isOpen());

    now += std::chrono::seconds(1);
    status->togglePanel();
    ASSERT_TRUE(status->isOpen());
    settle();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !status->isOpen(); }));
}

} // namespace
