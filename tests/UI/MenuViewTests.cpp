#include "Lumenor/UI/MenuView.h"

#include "Lumenor/UI/Chips.h"
#include "Lumenor/UI/HoverButton.h"
#include "Lumenor/UI/OptionRow.h"
#include "Lumenor/UI/PillButton.h"
#include "Lumenor/UI/Row.h"
#include "Lumenor/UI/RowIcon.h"
#include "Lumenor/UI/StepperRow.h"
#include "Lumenor/UI/ToggleSwitch.h"
#include "Support/EngineHarness.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeySequence>
#include <QLabel>
#include <QShortcut>

#include <chrono>
#include <memory>

namespace {

using namespace std::chrono_literals;

/// The widgets application must exist before the harness would make a core one.
class WidgetsEnvironment : public testing::Environment {
public:
    void SetUp() override {
        if (QCoreApplication::instance() == nullptr) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
            static int argc = 1;
            static char name[] = "MenuViewTests";
            static char* argv[] = {name, nullptr};
            new QApplication(argc, argv);
        }
    }
};
const auto* const environment = testing::AddGlobalTestEnvironment(new WidgetsEnvironment);

/// Runs the renders the view queued after controller changes.
void settle() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

/// What the view reached outside the controller.
struct Outside {
    bool loginEnabled = false;
    std::optional<std::string> loginFailure;
    std::vector<bool> loginRequests;
    bool agentInstalled = false;
    std::optional<std::string> agentFailure;
    std::optional<std::filesystem::path> download;
    int quits = 0;

    MenuServices services() {
        return {
            .loginItemEnabled = [this] { return loginEnabled; },
            .setLoginItem =
                [this](bool on) {
                    loginRequests.push_back(on);
                    if (!loginFailure) {
                        loginEnabled = on;
                    }
                    return loginFailure;
                },
            .agentAccessInstalled = [this] { return agentInstalled; },
            .installAgentAccess =
                [this] {
                    agentInstalled = !agentFailure;
                    return agentFailure;
                },
            .removeAgentAccess =
                [this] {
                    agentInstalled = false;
                    return std::optional<std::string>();
                },
            .chooseDownload = [this] { return download; },
            .quit = [this] { ++quits; },
        };
    }
};

class MenuViewTest : public testing::Test {
protected:
    void SetUp() override {
        harness = std::make_unique<EngineHarness>();
        view = std::make_unique<MenuView>(harness->controller(), outside.services());
    }

    WakeController& controller() { return harness->controller(); }

    template <class T = QWidget> T* part(const char* name) {
        auto* found = view->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    bool shown(const char* name) { return part(name)->isVisibleTo(view.get()); }
    void click(const char* name) { part<QAbstractButton>(name)->click(); }
    ToggleSwitch* switchOf(const char* option) { return part<OptionRow>(option)->toggle(); }

    void makeHelperReady() {
        harness->power->setHelperInstalled(true);
        harness->power->setHelperWorks(true);
        controller().refreshHelper();
        harness->privileged->runAll();
        harness->mainThread->runAll();
        settle();
    }

    Outside outside;
    std::unique_ptr<EngineHarness> harness;
    std::unique_ptr<MenuView> view;
};

TEST_F(MenuViewTest, HeaderSwitchStartsAndStopsAnIndefiniteSessionAfterTheChangeLands) {
    auto* headerSwitch = part<ToggleSwitch>("sessionSwitch");
    EXPECT_FALSE(headerSwitch->isChecked());
    EXPECT_EQ(headerSwitch->toolTip(), "Keep awake");
    EXPECT_EQ(part<QLabel>("headerTitle")->text(), "Lumenor");
    EXPECT_EQ(part<RowIcon>("headerIcon")->symbol(), "moon.fill");

    headerSwitch->click();
    ASSERT_TRUE(controller().session());
    EXPECT_EQ(controller().session()->kind, SessionKind::indefinite());
    settle();
    EXPECT_TRUE(headerSwitch->isChecked());
    EXPECT_EQ(headerSwitch->toolTip(), "Stop");
    EXPECT_EQ(part<QLabel>("headerTitle")->text(), "Awake");
    EXPECT_EQ(part<RowIcon>("headerIcon")->symbol(), "sun.max.fill");
    EXPECT_EQ(part<QLabel>("statusLine")->text().toStdString(), controller().statusLine());

    // A change from elsewhere shows only once it has been made, never the state before it.
    controller().endSession("Stopped");
    settle();
    EXPECT_FALSE(headerSwitch->isChecked());
    controller().startSession(SessionKind::indefinite());
    controller().log("Battery at 50%");
    settle();
    EXPECT_TRUE(headerSwitch->isChecked());
    headerSwitch->click();
    EXPECT_FALSE(controller().session());
    EXPECT_EQ(harness->logMessages().back(), "Session ended — Stopped");
}

TEST_F(MenuViewTest, OnlyOneExpandableRowIsOpenAtATime) {
    EXPECT_FALSE(view->expanded());
    EXPECT_FALSE(shown("minuteChips"));
    click("minutesRow");
    EXPECT_TRUE(shown("minuteChips"));
    EXPECT_TRUE(part<Row>("minutesRow")->trailing().open);

    click("hoursRow");
    EXPECT_EQ(view->expanded(), MenuView::Panel::hours);
    EXPECT_FALSE(shown("minuteChips"));
    EXPECT_TRUE(shown("hourChips"));
    EXPECT_FALSE(part<Row>("minutesRow")->trailing().open);

    click("moreRow");
    EXPECT_FALSE(shown("hourChips"));
    EXPECT_TRUE(shown("moreBox"));
    click("moreRow");
    EXPECT_FALSE(view->expanded());
    EXPECT_FALSE(shown("moreBox"));
}

TEST_F(MenuViewTest, ChipsStartSessionsFromNowAndCloseTheRow) {
    const Instant now = controller().now();
    click("minutesRow");
    part<Chips>("minuteChips")->chip("90m")->click();
    EXPECT_EQ(controller().session()->kind, SessionKind::until(now + 90min));
    EXPECT_FALSE(view->expanded());
    settle();
    EXPECT_FALSE(shown("minuteChips"));

    click("hoursRow");
    part<Chips>("hourChips")->chip("24h")->click();
    EXPECT_EQ(controller().session()->kind, SessionKind::until(now + 24h));
    EXPECT_FALSE(view->expanded());
}

TEST_F(MenuViewTest, UntilStartsOnlyForAFutureTime) {
    click("untilRow");
    auto* start = part<PillButton>("untilStart");
    EXPECT_EQ(view->untilDate(), controller().now() + 1h);
    EXPECT_TRUE(start->isEnabled());

    view->setUntilDate(controller().now() + 60s);
    harness->tickAfter(120);
    // The time has passed but the view has not rendered yet: the click must still refuse.
    start->click();
    EXPECT_FALSE(controller().session());
    settle();
    EXPECT_FALSE(start->isEnabled());

    const Instant later = controller().now() + 2h;
    view->setUntilDate(later);
    settle();
    ASSERT_TRUE(start->isEnabled());
    start->click();
    EXPECT_EQ(controller().session()->kind, SessionKind::until(later));
    EXPECT_FALSE(view->expanded());
}

TEST_F(MenuViewTest, LidRowsFollowTheHelper) {
    click("moreRow");
    EXPECT_TRUE(shown("lidSetup"));
    EXPECT_FALSE(shown("lidOption"));
    EXPECT_FALSE(part("remoteWakeOption")->isEnabled());
    EXPECT_FALSE(shown("removeHelperRow"));

    auto* setup = part<PillButton>("setupButton");
    EXPECT_EQ(setup->text(), "Set Up");
    setup->click();
    settle();
    EXPECT_EQ(setup->text(), "Waiting…");
    EXPECT_FALSE(setup->isEnabled());

    makeHelperReady();
    EXPECT_FALSE(shown("lidSetup"));
    EXPECT_TRUE(shown("lidOption"));
    EXPECT_TRUE(part("remoteWakeOption")->isEnabled());
    EXPECT_TRUE(shown("removeHelperRow"));
    EXPECT_EQ(switchOf("lidOption")->isChecked(), controller().lidClosedMode());
    switchOf("lidOption")->click();
    EXPECT_FALSE(controller().lidClosedMode());

    // A Remote Wake left on while the helper is gone can still be switched off.
    switchOf("remoteWakeOption")->click();
    EXPECT_TRUE(controller().remoteWakeEnabled());
    click("removeHelperRow");
    settle();
    EXPECT_FALSE(controller().helperReady());
    EXPECT_TRUE(part("remoteWakeOption")->isEnabled());
    switchOf("remoteWakeOption")->click();
    EXPECT_FALSE(controller().remoteWakeEnabled());
    settle();
    EXPECT_FALSE(part("remoteWakeOption")->isEnabled());
}

TEST_F(MenuViewTest, BatteryFooterPicksTheLevelSymbol) {
    EXPECT_FALSE(shown("batteryText"));
    const std::vector<std::pair<PowerControl::Battery, QString>> cases{
        {{true, 12}, "battery.0percent"},   {{true, 13}, "battery.25percent"},
        {{true, 62}, "battery.50percent"},  {{true, 87}, "battery.75percent"},
        {{true, 88}, "battery.100percent"}, {{false, 5}, "bolt.fill"},
    };
    Instant reading = utc(2026, 3, 1, 18, 15, 0); // the battery is read on every 15th second
    for (const auto& [battery, symbol] : cases) {
        harness->power->setBattery(battery);
        harness->tickAt(reading += 15s);
        settle();
        EXPECT_EQ(part<RowIcon>("batteryIcon")->symbol(), symbol) << *battery.percent;
        EXPECT_EQ(part<QLabel>("batteryText")->text(), QString("%1%").arg(*battery.percent));
        EXPECT_TRUE(shown("batteryText"));
    }
}

TEST_F(MenuViewTest, FooterShowsOnlyWarningsBatteryAndSetupNews) {
    const std::vector<std::pair<std::string, bool>> events{
        {"Started: Indefinitely", false},   {"⚠️ Agent Access: no home folder", true},
        {"Session ended — Stopped", false}, {"Battery below 10% — returning to normal sleep", true},
        {"Setup failed: cancelled", true},
    };
    for (const auto& [event, visible] : events) {
        controller().log(event);
        settle();
        EXPECT_EQ(shown("footerEvent"), visible) << event;
        if (visible) {
            EXPECT_EQ(part<QLabel>("footerEvent")->text().toStdString(), event);
        }
    }
}

TEST_F(MenuViewTest, SteppersStayWithinTheirRanges) {
    click("moreRow");
    auto* limit = part<StepperRow>("batteryLimitStepper");
    controller().setMinimumBattery(10);
    settle();
    limit->minusButton()->click();
    EXPECT_EQ(controller().minimumBattery(), 5);
    settle();
    EXPECT_FALSE(limit->minusButton()->isEnabled());
    limit->minusButton()->click();
    EXPECT_EQ(controller().minimumBattery(), 5);
    EXPECT_EQ(part<OptionRow>("stopBelowOption")->title(), "Stop Below 5%");

    // The command line may set 1; the stepper never goes lower and steps back into range.
    controller().setMinimumBattery(1);
    settle();
    EXPECT_FALSE(limit->minusButton()->isEnabled());
    EXPECT_EQ(limit->incremented(), 6);

    auto* interval = part<StepperRow>("checkEveryStepper");
    controller().setRemoteWakeInterval(240);
    settle();
    EXPECT_FALSE(interval->plusButton()->isEnabled());
    interval->minusButton()->click();
    EXPECT_EQ(controller().remoteWakeInterval(), 235);
}

TEST_F(MenuViewTest, SleepNowRecordsAForcedRequestThatTheBannerCancels) {
    auto escape = [this] {
        for (QShortcut* shortcut : view->findChildren<QShortcut*>()) {
            if (shortcut->key() == QKeySequence(Qt::Key_Escape)) {
                return shortcut;
            }
        }
        return static_cast<QShortcut*>(nullptr);
    };
    ASSERT_NE(escape(), nullptr);
    EXPECT_FALSE(escape()->isEnabled());
    const Instant now = controller().now();
    click("sleepNowButton");
    ASSERT_TRUE(controller().pendingSleep());
    EXPECT_EQ(*controller().pendingSleep(), (PendingSleep{now + 2s, std::nullopt, true, "menu"}));
    EXPECT_EQ(harness->logMessages().back(), "Sleep requested by menu");
    settle();
    EXPECT_TRUE(shown("sleepBanner"));
    EXPECT_EQ(part<QLabel>("sleepBannerText")->text().toStdString(), controller().statusLine());
    EXPECT_TRUE(escape()->isEnabled());

    click("cancelSleep");
    EXPECT_FALSE(controller().pendingSleep());
    settle();
    EXPECT_FALSE(shown("sleepBanner"));
    EXPECT_FALSE(escape()->isEnabled());
}

TEST_F(MenuViewTest, ApplicationListIsSortedWithoutSelfOrBackgroundProcesses) {
    const auto self = static_cast<int32_t>(QCoreApplication::applicationPid());
    harness->workspace->applications = {
        {501, "Zoom", "zoom.desktop", "", true},
        {502, "apple", "apple.desktop", "", true},
        {self, "Lumenor", "lumenor.desktop", "", true},
        {503, "Indexer", "indexer.desktop", "", false},
        {504, std::nullopt, "nameless.desktop", "", true},
        {505, "Banana", "banana.desktop", "/nonexistent/banana.png", true},
    };
    click("appsRow");
    QStringList names;
    for (auto* entry : part("applicationList")->findChildren<HoverButton*>("applicationEntry")) {
        names << entry->text();
    }
    EXPECT_EQ(names, QStringList({"App", "apple", "Banana", "Zoom"}));

    part("applicationList")->findChildren<HoverButton*>("applicationEntry").at(1)->click();
    EXPECT_EQ(controller().session()->kind, SessionKind::app(502, "apple"));
    settle();
    EXPECT_FALSE(view->expanded());
    EXPECT_FALSE(shown("applications"));
}

TEST_F(MenuViewTest, SwitchesOutsideTheControllerLogFailuresAndShowTheRealState) {
    click("moreRow");
    outside.loginFailure = "the autostart folder is read-only";
    switchOf("loginItemOption")->click();
    EXPECT_EQ(outside.loginRequests, std::vector<bool>{true});
    EXPECT_EQ(harness->logMessages().back(),
              "⚠️ Login item: the autostart folder is read-only");
    settle();
    EXPECT_FALSE(switchOf("loginItemOption")->isChecked());

    switchOf("agentAccessOption")->click();
    settle();
    EXPECT_TRUE(view->agentAccess());
    EXPECT_TRUE(switchOf("agentAccessOption")->isChecked());
    switchOf("agentAccessOption")->click();
    outside.agentFailure = "~/.local/bin/lumenor already exists and isn't Lumenor's";
    switchOf("agentAccessOption")->click();
    EXPECT_EQ(harness->logMessages().back(),
              "⚠️ Agent Access: ~/.local/bin/lumenor already exists and isn't Lumenor's");
    settle();
    EXPECT_FALSE(switchOf("agentAccessOption")->isChecked());
}

TEST_F(MenuViewTest, DownloadAndQuitReachOutsideAndShowNativeShortcuts) {
    const auto ctrl = [](Qt::Key key) {
        return QKeySequence(Qt::CTRL | key).toString(QKeySequence::NativeText);
    };
    EXPECT_EQ(part<Row>("indefinitelyRow")->trailing().text, ctrl(Qt::Key_I));
    EXPECT_EQ(part<Row>("downloadRow")->trailing().text, ctrl(Qt::Key_F));

    // The dialog closes the panel and with it the view; the choice must still count.
    outside.download = "/home/user/Downloads/big.iso";
    click("downloadRow");
    view.reset();
    settle();
    ASSERT_TRUE(controller().session());
    EXPECT_EQ(controller().session()->kind, SessionKind::file("/home/user/Downloads/big.iso"));

    view = std::make_unique<MenuView>(controller(), outside.services());
    click("quitButton");
    EXPECT_EQ(outside.quits, 1);
}

TEST_F(MenuViewTest, ReportsItsSizeWhenItChanges) {
    std::vector<QSize> sizes;
    view->onSizeChange = [&](QSize size) { sizes.push_back(size); };
    click("moreRow");
    ASSERT_EQ(sizes.size(), 1u);
    EXPECT_EQ(sizes[0].width(), MenuView::viewWidth);
    click("moreRow");
    ASSERT_EQ(sizes.size(), 2u);
    EXPECT_LT(sizes[1].height(), sizes[0].height());
    harness->tickAfter(1);
    settle();
    EXPECT_EQ(sizes.size(), 2u);
}

} // namespace
