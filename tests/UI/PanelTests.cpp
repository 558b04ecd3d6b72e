#include "Lumenor/UI/Chips.h"
#include "Lumenor/UI/ElidedLabel.h"
#include "Lumenor/UI/HoverButton.h"
#include "Lumenor/UI/MenuPanel.h"
#include "Lumenor/UI/MenuTheme.h"
#include "Lumenor/UI/MenuView.h"
#include "Lumenor/UI/OptionRow.h"
#include "Lumenor/UI/PillButton.h"
#include "Lumenor/UI/RowIcon.h"
#include "Lumenor/UI/Snapshot.h"
#include "Lumenor/UI/StatusPanelController.h"
#include "Lumenor/UI/StepperRow.h"
#include "Lumenor/UI/SymbolTable.h"
#include "Lumenor/UI/ToggleSwitch.h"
#include "Support/EngineHarness.h"
#include "Support/WakeControllerProbe.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <chrono>

namespace {

using namespace std::chrono_literals;

/// The widgets application, on the offscreen platform, made before any test (the engine harness
/// would make a core one otherwise) and never destroyed: tearing it down after other statics
/// crashes.
class WidgetsApplication : public testing::Environment {
    void SetUp() override {
        static int argc = 1;
        static char* argv[] = {const_cast<char*>("lumenor-ui-tests"), nullptr};
        qputenv("QT_QPA_PLATFORM", "offscreen");
        new QApplication(argc, argv);
    }
};
const auto* const widgets = testing::AddGlobalTestEnvironment(new WidgetsApplication);

/// Runs the renders queued after controller changes.
void settle() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

class MenuViewTest : public testing::Test {
protected:
    template <class T = QWidget> T* part(const char* name) {
        auto* found = view.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    bool shown(const char* name) { return part(name)->isVisibleTo(&view); }
    void click(const char* name) { part<QAbstractButton>(name)->click(); }
    ToggleSwitch* switchOf(const char* option) { return part<OptionRow>(option)->toggle(); }

    EngineHarness harness;
    MenuView view{harness.controller(), MenuServices::inert()};
};

TEST_F(MenuViewTest, HeaderSwitchStartsAndStopsAnIndefiniteSessionAfterTheChangeLands) {
    auto* headerSwitch = part<ToggleSwitch>("sessionSwitch");
    headerSwitch->click();
    EXPECT_EQ(harness->session().value().kind, SessionKind::indefinite());
    settle();
    EXPECT_EQ(headerSwitch->toolTip(), "Stop"); // rendered, not merely toggled by the click
    // A change from elsewhere shows only once it has been made, never the state before it.
    harness->endSession("Stopped");
    harness->startSession(SessionKind::indefinite());
    settle();
    EXPECT_TRUE(headerSwitch->isChecked());
    headerSwitch->click();
    EXPECT_FALSE(harness->session());
}

TEST_F(MenuViewTest, OnlyOneExpandableRowIsOpenAtATimeAndChipsCloseIt) {
    click("minutesRow");
    click("hoursRow");
    EXPECT_EQ(view.expanded(), MenuView::Panel::hours);
    EXPECT_FALSE(shown("minuteChips"));
    click("hoursRow");
    EXPECT_FALSE(view.expanded());

    const Instant now = harness->now();
    const std::vector<std::tuple<const char*, const char*, const char*, std::chrono::minutes>>
        cases{{"minutesRow", "minuteChips", "90m", 90min}, {"hoursRow", "hourChips", "24h", 24h}};
    for (const auto& [row, chips, chip, length] : cases) {
        click(row);
        EXPECT_TRUE(shown(chips));
        part<Chips>(chips)->chip(chip)->click();
        EXPECT_EQ(harness->session().value().kind, SessionKind::until(now + length)) << chip;
        settle();
        EXPECT_FALSE(shown(chips));
    }
}

TEST_F(MenuViewTest, UntilProposesTheNextHalfHourAndStartsOnlyForAFutureTime) {
    EXPECT_EQ(view.untilDate(), MenuView::defaultUntilDate(harness->now()));
    const auto local = [](const char* iso) {
        return Instant{
            std::chrono::milliseconds(QDateTime::fromString(iso, Qt::ISODate).toMSecsSinceEpoch())};
    };
    const std::vector<std::pair<const char*, const char*>> cases{
        {"2026-03-10T10:15", "2026-03-10T10:30"},
        {"2026-03-10T10:15:01", "2026-03-10T11:00"},
        {"2026-03-10T23:50", "2026-03-11T00:30"}};
    for (const auto& [now, proposed] : cases)
        EXPECT_EQ(MenuView::defaultUntilDate(local(now)), local(proposed)) << now;

    click("untilRow");
    auto* start = part<PillButton>("untilStart");
    view.setUntilDate(harness->now() + 60s);
    harness.tickAfter(120);
    // The time has passed but the view has not rendered yet: the click must still refuse.
    start->click();
    EXPECT_FALSE(harness->session());
    settle();
    EXPECT_FALSE(start->isEnabled());

    const Instant later = harness->now() + 2h;
    view.setUntilDate(later);
    settle();
    start->click();
    EXPECT_EQ(harness->session().value().kind, SessionKind::until(later));
}

TEST_F(MenuViewTest, SetupRowFollowsTheWakeHelperAndTheLidNeedsNone) {
    click("moreRow");
    EXPECT_TRUE(shown("wakeSetup") && shown("lidOption"));
    EXPECT_FALSE(part("remoteWakeOption")->isEnabled() || shown("removeHelperRow"));
    click("setupButton");
    settle();
    EXPECT_FALSE(part("setupButton")->isEnabled());
    // pkexec's dialog cannot explain itself, so the panel does while it is open.
    EXPECT_EQ(part<QLabel>("footerEvent")->text(),
              QString::fromStdString(WakeController::setupExplanation));

    harness.readyHelper();
    settle();
    EXPECT_TRUE(!shown("wakeSetup") && part("remoteWakeOption")->isEnabled() &&
                shown("removeHelperRow"));

    // A Remote Wake left on while the helper is gone can still be switched off.
    switchOf("remoteWakeOption")->click();
    click("removeHelperRow");
    settle();
    EXPECT_FALSE(harness->wakeHelperReady());
    switchOf("remoteWakeOption")->click();
    EXPECT_FALSE(harness->remoteWakeEnabled());
    settle();
    EXPECT_FALSE(part("remoteWakeOption")->isEnabled());

    harness.power->setHasLid(false); // a desktop
    harness->refreshHelper();
    harness.settle();
    settle();
    EXPECT_FALSE(shown("lidOption"));
}

TEST_F(MenuViewTest, FooterShowsOnlyWarningsBatteryAndSetupNews) {
    using Kind = LogEvent::Kind;
    const std::vector<std::tuple<std::string, Kind, bool>> events{
        {"⚠️ Agent Access: no home folder", Kind::warning, true},
        {"Session ended — Stopped", Kind::routine, false},
        {"Battery below 10% — stopped keeping awake", Kind::battery, true},
        {"Setup failed: cancelled", Kind::setup, true},
    };
    for (const auto& [event, kind, visible] : events) {
        harness->log(event, kind);
        settle();
        const QString footer = shown("footerEvent") ? part<QLabel>("footerEvent")->text() : "";
        EXPECT_EQ(footer.toStdString(), visible ? event : "") << event;
    }
}

// The battery's level picks the footer's symbol; its rows show only once there is one.
TEST_F(MenuViewTest, BatteryFooterAndRowsFollowTheBatteryAndTheLimitStopsAtFive) {
    click("moreRow");
    settle();
    EXPECT_FALSE(shown("stopBelowOption") || shown("batteryLimitStepper"));
    const std::vector<std::pair<PowerControl::Battery, QString>> cases{
        {{true, 12}, Symbol::battery0},
        {{true, 13}, Symbol::battery25},
        {{true, 88}, Symbol::battery100},
        {{false, 5}, Symbol::charging}};
    for (const auto& [battery, symbol] : cases) {
        harness.power->setBattery(battery);
        harness->refreshBattery(); // as a change reported by UPower does
        settle();
        EXPECT_EQ(part<RowIcon>("batteryIcon")->symbol(), symbol) << *battery.percent;
    }
    EXPECT_TRUE(shown("stopBelowOption") && shown("batteryLimitStepper"));

    auto* limit = part<StepperRow>("batteryLimitStepper");
    harness->setMinimumBattery(10);
    settle();
    limit->minusButton()->click();
    EXPECT_EQ(harness->minimumBattery(), 5);
    settle();
    EXPECT_FALSE(limit->minusButton()->isEnabled());
}

TEST_F(MenuViewTest, SleepNowRecordsAForcedRequestThatTheBannerCancels) {
    click("sleepNowButton");
    EXPECT_EQ(harness->pendingSleep(),
              (PendingSleep{harness->now() + 2s, std::nullopt, true, "menu"}));
    settle();
    EXPECT_TRUE(shown("sleepBanner"));
    click("cancelSleep");
    EXPECT_FALSE(harness->pendingSleep());
}

TEST_F(MenuViewTest, ApplicationListIsSortedWithoutSelfOrBackgroundProcesses) {
    const auto self = static_cast<int32_t>(QCoreApplication::applicationPid());
    harness.workspace->applications = {
        {501, "Zoom", "zoom.desktop", "", true},
        {502, "apple", "apple.desktop", "", true},
        {self, "Lumenor", "lumenor.desktop", "", true},
        {503, "Indexer", "indexer.desktop", "", false},
        {504, std::nullopt, "nameless.desktop", "", true},
    };
    click("appsRow");
    const auto entries = part("applicationList")->findChildren<HoverButton*>("applicationEntry");
    QStringList names;
    for (auto* entry : entries)
        names << entry->text();
    EXPECT_EQ(names, QStringList({"App", "apple", "Zoom"}));
    entries.at(1)->click();
    EXPECT_EQ(harness->session().value().kind, SessionKind::app(502, "apple"));
    EXPECT_FALSE(view.expanded());
}

TEST_F(MenuViewTest, KeyboardReachesEveryControlInOrderAndActivatesThem) {
    view.show();
    // Presses `key` and names the control that has the focus then; a switch by its row.
    const auto press = [&](Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(view.focusWidget(), key, modifiers);
        settle();
        QWidget* widget = view.focusWidget();
        if (qobject_cast<ToggleSwitch*>(widget) && qobject_cast<OptionRow*>(widget->parentWidget()))
            widget = widget->parentWidget();
        return widget != nullptr ? widget->objectName().toStdString() : std::string();
    };
    part("sessionSwitch")->setFocus(Qt::TabFocusReason);
    const std::vector<std::string> order{
        "sessionSwitch",    "indefinitelyRow", "minutesRow", "hoursRow",      "untilRow",
        "appsRow",          "downloadRow",     "lidOption",  "displayOption", "moreRow",
        "restScreenButton", "sleepNowButton",  "quitButton", "sessionSwitch"};
    for (std::size_t i = 1; i < order.size(); ++i)
        EXPECT_EQ(press(Qt::Key_Tab), order[i]) << "after " << order[i - 1];
    EXPECT_EQ(press(Qt::Key_Backtab, Qt::ShiftModifier), "quitButton");

    // Arrows walk the same order; Enter opens a row, whose chips come next.
    part("minutesRow")->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(press(Qt::Key_Down), "hoursRow");
    press(Qt::Key_Up);
    press(Qt::Key_Return);
    EXPECT_EQ(view.expanded(), MenuView::Panel::minutes);
    press(Qt::Key_Tab);
    EXPECT_EQ(view.focusWidget()->property("text").toString(), "5m");

    // Space flips a switch.
    switchOf("displayOption")->setFocus(Qt::TabFocusReason);
    press(Qt::Key_Space);
    EXPECT_TRUE(harness->keepDisplayOn());
}

// Every control the keyboard reaches, found by its focus policy so that a new one is checked
// too, shows a ring standing out at 3:1 from what it covers (light left to right, dark right to
// left); built right to left, every part shown sits at the mirror of its left-to-right place.
TEST(MenuViewLook, FocusRingsStandOutAndRightToLeftMirrorsEveryPart) {
    EngineHarness harness;
    std::vector<int> starts[2]; // of the parts shown: left edges, or mirrored right edges
    for (const bool mirrored : {false, true}) {
        QGuiApplication::setLayoutDirection(mirrored ? Qt::RightToLeft : Qt::LeftToRight);
        for (const auto panel :
             {MenuView::Panel::minutes, MenuView::Panel::until, MenuView::Panel::more}) {
            MenuView view{harness.controller(), MenuServices::inert()};
            view.setPalette(MenuTheme::palette(mirrored));
            view.setAutoFillBackground(true);
            view.toggle(panel);
            view.resize(view.measuredSize());
            view.show();
            ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
            for (QWidget* part : view.findChildren<QWidget*>()) {
                const QRect area(part->mapTo(&view, QPoint()), part->size());
                if (part->isVisible())
                    starts[mirrored].push_back(mirrored ? MenuView::viewWidth - 1 - area.right()
                                                        : area.left());
                // A spin box's line edit passes the focus on to the box.
                if (!(part->focusPolicy() & Qt::TabFocus) || !part->isVisible() ||
                    !part->isEnabled() || part->focusProxy() != nullptr)
                    continue;
                part->clearFocus();
                const QImage before = view.grab(area).toImage();
                part->setFocus(Qt::TabFocusReason);
                const QImage after = view.grab(area).toImage();
                int standing = 0;
                for (int y = 0; y < after.height(); ++y)
                    for (int x = 0; x < after.width(); ++x)
                        standing += MenuTheme::contrast(after.pixelColor(x, y),
                                                        before.pixelColor(x, y)) >= 3;
                EXPECT_GE(standing, area.width() + area.height()) // half way round
                    << part->objectName().toStdString();
            }
        }
    }
    QGuiApplication::setLayoutDirection(Qt::LeftToRight);
    EXPECT_EQ(starts[0], starts[1]);
}

QRect available() {
    return QGuiApplication::primaryScreen()->availableGeometry();
}

class StatusPanelTest : public testing::Test {
protected:
    EngineHarness engine;
    StatusPanelController::TimePoint now{1h};
    QRect anchor{available().center().x() - 10, available().top(), 20, 20};
    StatusPanelController status{engine.controller(),
                                 {.clock = [this] { return now; },
                                  .anchor = [this] { return anchor; },
                                  .services = MenuServices::inert()}};
};

TEST_F(StatusPanelTest, IconAndTooltipFollowTheStateAndThePalette) {
    const auto shows = [&](TrayGlyph::State glyph) {
        settle();
        EXPECT_EQ(status.shownGlyph(), glyph) << TrayGlyph::name(glyph).toStdString();
        EXPECT_EQ(status.toolTip().toStdString(), "Lumenor — " + engine->statusLine());
    };
    WakeControllerProbe probe(engine.controller());
    shows(TrayGlyph::State::off);
    probe.setRemoteCycleArmed(true);
    shows(TrayGlyph::State::remoteArmed);
    engine.power->refusedAssertions = {PowerControl::systemAssertionType};
    engine.hold("agent-task", 600);
    shows(TrayGlyph::State::unheld);
    engine.power->refusedAssertions.clear();
    engine.tickAt(*engine->nextDeadline()); // the retry
    shows(TrayGlyph::State::awake);

    engine->startSession(SessionKind::until(engine.clock.now() + 30min));
    shows(TrayGlyph::State::awake);
    engine.clock.advance(120); // unseen by the controller: only the minute's refresh shows it
    auto* refresh = status.findChild<QTimer*>("tooltipRefresh");
    ASSERT_TRUE(refresh->isActive());
    QMetaObject::invokeMethod(refresh, "timeout");
    EXPECT_EQ(status.toolTip().toStdString(), "Lumenor — " + engine->statusLine());
    engine->setKeepDisplayOn(true);
    shows(TrayGlyph::State::awakeDisplay);
    probe.setLidModeActive(true);
    shows(TrayGlyph::State::lidClosed);
    engine->setPendingSleep(PendingSleep{engine.clock.now() + 5min, std::nullopt, true, "test"});
    shows(TrayGlyph::State::pendingSleep);

    // A new palette redraws the glyph in its text colour.
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
    EXPECT_EQ(at(700, 0), std::nullopt);
}

TEST_F(StatusPanelTest, OpensFreshRefusesToReopenRightAfterClosingAndScrollsTallContent) {
    MenuPanel& panel = status.panel();
    const auto view = [&] { return qobject_cast<MenuView*>(panel.content()); };
    status.togglePanel();
    ASSERT_TRUE(status.isOpen());
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
    view()->setMinimumHeight(available().height() + 200);
    QCoreApplication::processEvents();
    view()->onSizeChange(view()->size().expandedTo(view()->minimumSize()));
    EXPECT_TRUE(available().contains(panel.geometry())) << panel.geometry().height();
    EXPECT_GT(panel.scrollArea()->verticalScrollBar()->maximum(), 0);

    QTest::keyClick(&panel, Qt::Key_Escape);
    EXPECT_FALSE(status.isOpen());
}

TEST_F(StatusPanelTest, AMessageAppearingAboveABottomTrayLeavesTheRowsUnderThePointer) {
    anchor.moveBottom(available().bottom());
    status.togglePanel();
    settle();
    const auto* view = qobject_cast<MenuView*>(status.panel().content());
    const QWidget* row = view->findChild<QWidget*>("moreRow");
    const QPoint before = row->mapToGlobal(QPoint());
    const int height = status.panel().height();
    engine->log("⚠️ Agent Access: no home folder", LogEvent::Kind::warning);
    settle();
    settle();
    EXPECT_GT(status.panel().height(), height) << "the message is shown";
    EXPECT_EQ(row->mapToGlobal(QPoint()), before);
}

TEST(StatusPanelWithoutTray,
     APersonsStartOpensThePanelAsAWindowSayingHowToReachItAndAutostartDoesNot) {
    for (const bool person : {true, false}) {
        EngineHarness engine;
        StatusPanelController status{engine.controller(),
                                     {.anchor = {},
                                      .services = MenuServices::inert(),
                                      .startedByPerson = person,
                                      .noTrayGrace = 0ms}};
        QTest::qWait(20);
        settle();
        ASSERT_EQ(status.isOpen(), person);
        if (!person)
            continue;
        EXPECT_FALSE(status.panel().windowFlags().testFlag(Qt::Tool)) << "an ordinary window";
        const auto* footer = status.panel().findChild<QLabel*>("footerEvent");
        ASSERT_NE(footer, nullptr);
        EXPECT_TRUE(footer->text().contains("lumenor show")) << footer->text().toStdString();
    }
}

TEST(PillButtonTest, LabelsOnColouredButtonsReadAtFourAndAHalfToOne) {
    for (const bool dark : {false, true}) {
        for (const PillButton::Tint tint :
             {MenuTheme::orange, MenuTheme::teal, MenuTheme::accent}) {
            PillButton button({}, QStringLiteral("Rest Screen"), tint, [] {});
            button.setPalette(MenuTheme::palette(dark));
            button.resize(200, 34);
            const QImage image = button.grab().toImage();
            const QColor fill = image.pixelColor(100, 4);
            double best = 0;
            // Inside the pill, clear of its antialiased edge.
            for (int y = 6; y < image.height() - 6; ++y)
                for (int x = 20; x < image.width() - 20; ++x)
                    best = std::max(best, MenuTheme::contrast(image.pixelColor(x, y), fill));
            EXPECT_GE(best, 4.5) << fill.name().toStdString() << (dark ? " dark" : " light");
        }
    }
}

TEST(SnapshotTest, DarkAndLightShowTheCollapsedPanelOnTheirBackgroundsAndNeedAFolder) {
    // The shared controller reads the user's settings: give it a home of its own. It and the
    // application outlive the test, so neither is destroyed.
    static const QTemporaryDir folder;
    for (const char* variable : {"HOME", "LUMENOR_HOME"})
        qputenv(variable, folder.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (folder.path() + "/.config").toUtf8());
    qputenv("XDG_DATA_HOME", (folder.path() + "/.local/share").toUtf8());

    const auto render = [&](bool dark) {
        const QString path = folder.filePath(dark ? "dark.png" : "light.png");
        Snapshot::render(path.toStdString(), dark);
        return QImage(path);
    };
    const QImage dark = render(true), light = render(false);
    ASSERT_FALSE(dark.isNull() || light.isNull());
    EXPECT_EQ(dark.size(), light.size());
    EXPECT_LT(qGray(dark.pixel(0, 0)), 64);
    EXPECT_GT(qGray(light.pixel(0, 0)), 192);
    Snapshot::render(folder.filePath("no-such-folder/panel.png").toStdString(), true);
    EXPECT_FALSE(QDir(folder.path()).exists("no-such-folder"));
}

TEST(SymbolTableTest, EveryDeclaredSymbolDrawsAThemeIcon) {
    // The values of the Symbol constants, read from their header: one missing from the table
    // would draw nothing.
    QFile header(QStringLiteral(LUMENOR_SOURCE_DIR "/Lumenor/UI/SymbolTable.h"));
    ASSERT_TRUE(header.open(QIODevice::ReadOnly));
    const QRegularExpression constant(R"re(QString \w+ = QStringLiteral\("([^"]+)"\))re");
    QSet<QString> declared;
    for (auto match = constant.globalMatch(QString::fromUtf8(header.readAll())); match.hasNext();)
        declared.insert(match.next().captured(1));
    const QStringList table = SymbolTable::symbols();
    EXPECT_EQ(QSet<QString>(table.begin(), table.end()), declared);
    for (const QString& symbol : table)
        EXPECT_FALSE(SymbolTable::pixmap(symbol, Qt::black, 16).isNull()) << symbol.toStdString();
}

TEST(ElidedLabel, ShortenedTextIsTheTooltipOfWhatThePointerReaches) {
    QWidget row;
    auto* layout = new QHBoxLayout(&row);
    auto* own = new ElidedLabel("Keeping awake while report-final-version.zip downloads");
    auto* passThrough = new ElidedLabel("A rather long application name indeed");
    passThrough->setAttribute(Qt::WA_TransparentForMouseEvents);
    layout->addWidget(own);
    layout->addWidget(passThrough);
    row.resize(160, 30);
    row.grab(); // lays out and paints
    EXPECT_TRUE(own->isElided());
    EXPECT_EQ(own->toolTip(), own->text());
    EXPECT_EQ(row.toolTip(), passThrough->text());

    // Room enough: the tooltips go again, but one the owner set stays.
    own->setToolTip("set by the owner");
    row.resize(1200, 30);
    row.grab();
    EXPECT_FALSE(own->isElided());
    EXPECT_EQ(own->toolTip(), "set by the owner");
    EXPECT_EQ(row.toolTip(), "");
}

} // namespace
