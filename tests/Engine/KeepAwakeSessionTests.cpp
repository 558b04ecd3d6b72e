#include "Lumenor/Engine/KeepAwakeSession.h"
#include "Support/EngineHarness.h"

#include <QLocale>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

namespace {

class KeepAwakeSessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        ensureQtApplication();
        // Tokyo has no daylight saving, so the wall clock is always UTC + 9 hours.
        setenv("TZ", "JST-9", 1);
        tzset();
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    }
    void TearDown() override {
        unsetenv("TZ");
        tzset();
        QLocale::setDefault(QLocale::c());
    }

    static std::string title(SessionKind kind, Instant now) {
        return KeepAwakeSession{std::move(kind), now}.title(now);
    }
};

TEST_F(KeepAwakeSessionTest, UntilTitleShowsTheDateOnlyForAnotherLocalDay) {
    const Instant morning = utc(2026, 3, 1, 1, 0); // 10:00 in Tokyo
    EXPECT_EQ(title(SessionKind::until(utc(2026, 3, 1, 9, 30)), morning), "Until 18:30");
    // 16:00 UTC is already the next day in Tokyo, though still the same day in UTC.
    EXPECT_EQ(title(SessionKind::until(utc(2026, 3, 1, 16, 0)), morning), "Until 02.03.26 01:00");
    EXPECT_EQ(title(SessionKind::until(utc(2026, 3, 1, 14, 59)), morning), "Until 23:59");
    EXPECT_EQ(title(SessionKind::until(utc(2026, 2, 28, 14, 59)), morning), "Until 28.02.26 23:59");
}

TEST_F(KeepAwakeSessionTest, TitlesOfTheOtherKinds) {
    const Instant now = utc(2026, 3, 1, 12, 0);
    EXPECT_EQ(title(SessionKind::process(4242, ""), now), "While process 4242 runs");
    EXPECT_EQ(title(SessionKind::process(4242, "build"), now), "While build runs");
    EXPECT_EQ(title(SessionKind::app(7, "Safari"), now), "While Safari is running");
    EXPECT_EQ(title(SessionKind::file("/home/me/Downloads/big.iso"), now),
              "While big.iso downloads");
    EXPECT_EQ(title(SessionKind::file("/home/me/Downloads/Album/"), now), "While Album downloads");
    EXPECT_EQ(title(SessionKind::indefinite(), now), "Indefinitely");
}

TEST_F(KeepAwakeSessionTest, EqualityIsMemberWise) {
    const Instant a = utc(2026, 3, 1, 12, 0);
    const KeepAwakeSession first{SessionKind::indefinite(), a};
    const KeepAwakeSession later{SessionKind::indefinite(), a + std::chrono::seconds(1)};
    EXPECT_NE(first, later);
    EXPECT_EQ(first.kind, later.kind);
    EXPECT_NE(SessionKind::process(1, ""), SessionKind::app(1, ""));
    EXPECT_NE(SessionKind::process(1, "x"), SessionKind::process(2, "x"));
    // The same name in composed and decomposed form is the same name.
    EXPECT_EQ(SessionKind::app(3, "Caf\xC3\xA9"), SessionKind::app(3, "Cafe\xCC\x81"));

    const PendingSleep none{a, std::nullopt, false, "CLI"};
    PendingSleep zero = none;
    zero.waitForPid = 0;
    EXPECT_NE(none, zero);
}

} // namespace
