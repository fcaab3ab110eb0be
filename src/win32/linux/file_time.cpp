// FileTimeToLocalFileTime and FileTimeToSystemTime.
#include <time.h>

#include <cstdint>

#include "layer.h"
#include "win32.h"

using namespace lystrel;

namespace {

constexpr uint64_t kPerMillisecond = 10000ull;
constexpr uint64_t kPerSecond = 10000000ull;
constexpr uint64_t kPerDay = 86400ull * kPerSecond;
// Days from 1601-01-01 to 1970-01-01.
constexpr int64_t kDaysTo1970 = 134774;
// 1601-01-01 was a Monday.
constexpr unsigned kFirstDayOfWeek = 1;

uint64_t ValueOf(const FILETIME& time) {
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// The calendar date of a day number counted from 1970-01-01 (proleptic
// Gregorian calendar).
void DateFromDays(int64_t days, int64_t& year, unsigned& month, unsigned& day) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;
    day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    year = static_cast<int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0);
}

}  // namespace

BOOL WINAPI FileTimeToLocalFileTime(const FILETIME* lpFileTime, LPFILETIME lpLocalFileTime) {
    if (lpFileTime == nullptr || lpLocalFileTime == nullptr) {
        layer::SetError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // The offset in force now, daylight saving of today included.
    const time_t now = time(nullptr);
    struct tm local;
    long offsetSeconds = 0;
    if (localtime_r(&now, &local) != nullptr) offsetSeconds = local.tm_gmtoff;
    // Unsigned arithmetic: a time before 1601 wraps to a value that
    // FileTimeToSystemTime refuses.
    const uint64_t offset = static_cast<uint64_t>(static_cast<int64_t>(offsetSeconds)) * kPerSecond;
    const uint64_t value = ValueOf(*lpFileTime) + offset;
    lpLocalFileTime->dwLowDateTime = static_cast<DWORD>(value & 0xFFFFFFFFu);
    lpLocalFileTime->dwHighDateTime = static_cast<DWORD>(value >> 32);
    return TRUE;
}

BOOL WINAPI FileTimeToSystemTime(const FILETIME* lpFileTime, LPSYSTEMTIME lpSystemTime) {
    if (lpFileTime == nullptr || lpSystemTime == nullptr) {
        layer::SetError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const uint64_t value = ValueOf(*lpFileTime);
    if (value >= 0x8000000000000000ull) {
        layer::SetError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const uint64_t days = value / kPerDay;
    const uint64_t inDay = value % kPerDay;
    int64_t year;
    unsigned month;
    unsigned day;
    DateFromDays(static_cast<int64_t>(days) - kDaysTo1970, year, month, day);
    lpSystemTime->wYear = static_cast<WORD>(year);
    lpSystemTime->wMonth = static_cast<WORD>(month);
    lpSystemTime->wDayOfWeek = static_cast<WORD>((days + kFirstDayOfWeek) % 7);
    lpSystemTime->wDay = static_cast<WORD>(day);
    lpSystemTime->wHour = static_cast<WORD>(inDay / (3600 * kPerSecond));
    lpSystemTime->wMinute = static_cast<WORD>(inDay / (60 * kPerSecond) % 60);
    lpSystemTime->wSecond = static_cast<WORD>(inDay / kPerSecond % 60);
    lpSystemTime->wMilliseconds = static_cast<WORD>(inDay / kPerMillisecond % 1000);
    return TRUE;
}
