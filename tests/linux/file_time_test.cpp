// FileTimeToSystemTime and FileTimeToLocalFileTime.
#include <gtest/gtest.h>

#include <time.h>

#include <cstring>

#include "win32.h"

namespace {

FILETIME Make(uint64_t value) {
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(value & 0xFFFFFFFFu);
    time.dwHighDateTime = static_cast<DWORD>(value >> 32);
    return time;
}

uint64_t ValueOf(const FILETIME& time) { return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime; }

constexpr uint64_t kSecond = 10000000ull;
constexpr uint64_t kUnixEpoch = 116444736000000000ull;

TEST(FileTimeToSystemTime, CalendarFields) {
    struct Case {
        const char* name;
        uint64_t value;
        SYSTEMTIME fields;  // year, month, day of week, day, hour, minute, second, ms
    } cases[] = {
        {"zero", 0, {1601, 1, 1, 1, 0, 0, 0, 0}},
        {"unix epoch", kUnixEpoch, {1970, 1, 4, 1, 0, 0, 0, 0}},
        {"2019-02-03 09:07:05.123", kUnixEpoch + 1549184825ull * kSecond + 1230000, {2019, 2, 0, 3, 9, 7, 5, 123}},
        {"leap day 2000", kUnixEpoch + 951782400ull * kSecond, {2000, 2, 2, 29, 0, 0, 0, 0}},
        {"last instant of 1999", kUnixEpoch + 946684799ull * kSecond + 9999999, {1999, 12, 5, 31, 23, 59, 59, 999}},
        {"year 9999 end", kUnixEpoch + 253402300799ull * kSecond, {9999, 12, 5, 31, 23, 59, 59, 0}},
        {"year 10000", kUnixEpoch + 253402300800ull * kSecond, {10000, 1, 6, 1, 0, 0, 0, 0}},
        {"largest", 0x7FFFFFFFFFFFFFFFull, {30828, 9, 4, 14, 2, 48, 5, 477}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const FILETIME time = Make(c.value);
        SYSTEMTIME fields;
        std::memset(&fields, 0xFF, sizeof fields);
        ASSERT_TRUE(FileTimeToSystemTime(&time, &fields));
        EXPECT_EQ(c.fields.wYear, fields.wYear);
        EXPECT_EQ(c.fields.wMonth, fields.wMonth);
        EXPECT_EQ(c.fields.wDayOfWeek, fields.wDayOfWeek);
        EXPECT_EQ(c.fields.wDay, fields.wDay);
        EXPECT_EQ(c.fields.wHour, fields.wHour);
        EXPECT_EQ(c.fields.wMinute, fields.wMinute);
        EXPECT_EQ(c.fields.wSecond, fields.wSecond);
        EXPECT_EQ(c.fields.wMilliseconds, fields.wMilliseconds);
    }
}

TEST(FileTimeToSystemTime, ValuesFromTheTopBitOnFailAndLeaveTheOutput) {
    for (uint64_t value : {0x8000000000000000ull, 0xFFFFFFFFFFFFFFFFull}) {
        SCOPED_TRACE(value);
        const FILETIME time = Make(value);
        SYSTEMTIME fields;
        std::memset(&fields, 0xAB, sizeof fields);
        SetLastError(0);
        EXPECT_FALSE(FileTimeToSystemTime(&time, &fields));
        EXPECT_EQ(87u, GetLastError());
        const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&fields);
        for (size_t i = 0; i < sizeof fields; ++i) ASSERT_EQ(0xAB, bytes[i]);
    }
}

TEST(FileTimes, NullPointersGive87) {
    FILETIME time = Make(0);
    SYSTEMTIME fields;
    SetLastError(0);
    EXPECT_FALSE(FileTimeToSystemTime(nullptr, &fields));
    EXPECT_EQ(87u, GetLastError());
    SetLastError(0);
    EXPECT_FALSE(FileTimeToSystemTime(&time, nullptr));
    EXPECT_EQ(87u, GetLastError());
    SetLastError(0);
    EXPECT_FALSE(FileTimeToLocalFileTime(nullptr, &time));
    EXPECT_EQ(87u, GetLastError());
    SetLastError(0);
    EXPECT_FALSE(FileTimeToLocalFileTime(&time, nullptr));
    EXPECT_EQ(87u, GetLastError());
}

// Sets TZ for the test's lifetime.
class TimeZone {
public:
    explicit TimeZone(const char* zone) {
        const char* old = getenv("TZ");
        hadOld = old != nullptr;
        if (hadOld) previous = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~TimeZone() {
        if (hadOld)
            setenv("TZ", previous.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    bool hadOld = false;
    std::string previous;
};

TEST(FileTimeToLocalFileTime, AppliesTheOffsetInForceNow) {
    struct Case {
        const char* zone;
        int64_t offsetSeconds;
    } cases[] = {{"UTC0", 0}, {"<+02>-2", 7200}, {"<-0530>+5:30", -19800}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.zone);
        TimeZone zone(c.zone);
        // 12:05 UTC on some day.
        const uint64_t utc = kUnixEpoch + (1549184825ull / 86400 * 86400 + 12 * 3600 + 5 * 60) * kSecond;
        const FILETIME in = Make(utc);
        FILETIME out;
        ASSERT_TRUE(FileTimeToLocalFileTime(&in, &out));
        EXPECT_EQ(static_cast<int64_t>(utc) + c.offsetSeconds * static_cast<int64_t>(kSecond),
                  static_cast<int64_t>(ValueOf(out)));
    }
    // Two hours east: 12:05 UTC reads 14:05.
    TimeZone zone("<+02>-2");
    const FILETIME in = Make(kUnixEpoch + (1549184825ull / 86400 * 86400 + 12 * 3600 + 5 * 60) * kSecond);
    FILETIME local;
    SYSTEMTIME fields;
    ASSERT_TRUE(FileTimeToLocalFileTime(&in, &local));
    ASSERT_TRUE(FileTimeToSystemTime(&local, &fields));
    EXPECT_EQ(14, fields.wHour);
    EXPECT_EQ(5, fields.wMinute);
}

TEST(FileTimeToLocalFileTime, UsesTodaysDaylightSavingForAnyTime) {
    // A zone with daylight saving: the offset applied to a winter time and a
    // summer time is the same, the one in force now.
    TimeZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
    const time_t now = time(nullptr);
    struct tm local;
    ASSERT_NE(nullptr, localtime_r(&now, &local));
    const int64_t offset = local.tm_gmtoff * static_cast<int64_t>(kSecond);
    for (uint64_t unixSeconds : {1547000000ull /* January */, 1562000000ull /* July */}) {
        const FILETIME in = Make(kUnixEpoch + unixSeconds * kSecond);
        FILETIME out;
        ASSERT_TRUE(FileTimeToLocalFileTime(&in, &out));
        EXPECT_EQ(static_cast<int64_t>(ValueOf(in)) + offset, static_cast<int64_t>(ValueOf(out)));
    }
}

TEST(FileTimeToLocalFileTime, BelowZeroWrapsAndTheConversionThenFails) {
    TimeZone zone("<-05>+5");
    const FILETIME in = Make(3600 * kSecond);  // 1601-01-01 01:00 UTC
    FILETIME local;
    ASSERT_TRUE(FileTimeToLocalFileTime(&in, &local));
    SYSTEMTIME fields;
    SetLastError(0);
    EXPECT_FALSE(FileTimeToSystemTime(&local, &fields));
    EXPECT_EQ(87u, GetLastError());
}

}  // namespace
