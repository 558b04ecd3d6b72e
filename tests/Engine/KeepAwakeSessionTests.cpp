#include "Lumenor/Engine/KeepAwakeSession.h"
#include "Support/EngineHarness.h"

#include <QLocale>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

namespace {

std::string title(SessionKind kind, Instant now) {
    return KeepAwakeSession{std::move(kind), now}.title(now);
}

TEST(KeepAwakeSession, TitlesShowTheDateOnlyForAnotherLocalDay) {
    ensureQtApplication();
    // Tokyo has no daylight saving, so the wall clock is always UTC + 9 hours.
    setenv("TZ", "JST-9", 1);
    tzset();
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const Instant morning = utc(2026, 3, 1, 1, 0); // 10:00 in Tokyo
    EXPECT_EQ(title(SessionKind::until(utc(2026, 3, 1, 14, 59)), morning), "Until 23:59");
    // 16:00 UTC is already the next day in Tokyo, though still the same day in UTC.
    EXPECT_EQ(title(SessionKind::until(utc(2026, 3, 1, 16, 0)), morning), "Until 02.03.26 01:00");
    EXPECT_EQ(title(SessionKind::until(utc(2026, 2, 28, 14, 59)), morning), "Until 28.02.26 23:59");
    // The C locale's short format carries seconds; a glance at a clock time needs none.
    QLocale::setDefault(QLocale::c());
    EXPECT_EQ(title(SessionKind::until(utc(2026, 3, 1, 14, 59, 30)), morning), "Until 23:59");
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    const std::string american = title(SessionKind::until(utc(2026, 3, 1, 14, 59, 30)), morning);
    EXPECT_TRUE(american == "Until 11:59 PM" || american == "Until 11:59\u202fPM") << american;
    unsetenv("TZ");
    tzset();
    QLocale::setDefault(QLocale::c());

    EXPECT_EQ(title(SessionKind::file("/home/me/Downloads/Album/"), morning),
              "While Album downloads");
}

TEST(KeepAwakeSession, NamesCompareInNormalizedForm) {
    // The same name in composed and decomposed form is the same name.
    EXPECT_EQ(SessionKind::app(3, "Caf\xC3\xA9"), SessionKind::app(3, "Cafe\xCC\x81"));
}

} // namespace
