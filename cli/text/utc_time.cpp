#include "cli/text/utc_time.h"

#include <cstdio>

namespace morvane::cli {

std::string UtcTimestamp(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(when.time_since_epoch()).count();
    const long long msOfDay = ((ms % 86400000) + 86400000) % 86400000;
    // Days to a civil date (the proleptic Gregorian calendar), without the
    // C library's time zone state.
    long long days = (ms - msOfDay) / 86400000 + 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const long long dayOfEra = days - era * 146097;
    const long long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long long mp = (5 * dayOfYear + 2) / 153;
    const long long day = dayOfYear - (153 * mp + 2) / 5 + 1;
    const long long month = mp < 10 ? mp + 3 : mp - 9;
    const long long year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    char text[64];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld.%03lldZ", year, month, day,
                  msOfDay / 3600000, msOfDay / 60000 % 60, msOfDay / 1000 % 60, msOfDay % 1000);
    return text;
}

namespace {

// Reads `digits` digits at `at`, moving past them.
bool Digits(std::string_view text, std::size_t* at, std::size_t digits, long long* value) {
    if (text.size() - *at < digits) return false;
    *value = 0;
    for (std::size_t end = *at + digits; *at < end; ++*at) {
        const char c = text[*at];
        if (c < '0' || c > '9') return false;
        *value = *value * 10 + (c - '0');
    }
    return true;
}

bool Take(std::string_view text, std::size_t* at, char c) {
    if (*at >= text.size() || text[*at] != c) return false;
    ++*at;
    return true;
}

// A civil date to days since 1970-01-01: UtcTimestamp's calendar, backwards.
long long DaysOf(long long year, long long month, long long day) {
    year -= month <= 2 ? 1 : 0;
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const long long yearOfEra = year - era * 400;
    const long long dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

// Seconds, and tenths, hundredths or milliseconds if a "." follows.
bool Seconds(std::string_view text, std::size_t* at, long long* second, long long* ms) {
    if (!Digits(text, at, 2, second)) return false;
    if (!Take(text, at, '.')) return true;
    long long scale = 100;
    long long digit = 0;
    std::size_t read = 0;
    for (; read < 3 && Digits(text, at, 1, &digit); ++read, scale /= 10) *ms += digit * scale;
    return read > 0;
}

bool IsLeap(long long year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

}  // namespace

bool ParseUtcTime(std::string_view text, std::chrono::system_clock::time_point* when) {
    std::size_t at = 0;
    long long year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, ms = 0;
    if (!Digits(text, &at, 4, &year) || !Take(text, &at, '-') || !Digits(text, &at, 2, &month) ||
        !Take(text, &at, '-') || !Digits(text, &at, 2, &day))
        return false;
    constexpr int kDaysIn[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1 || day > kDaysIn[month - 1] + (month == 2 && IsLeap(year) ? 1 : 0))
        return false;
    if (Take(text, &at, 'T')) {
        if (!Digits(text, &at, 2, &hour)) return false;
        if (Take(text, &at, ':')) {
            if (!Digits(text, &at, 2, &minute)) return false;
            if (Take(text, &at, ':') && !Seconds(text, &at, &second, &ms)) return false;
        }
        if (hour > 23 || minute > 59 || second > 59) return false;
    }
    Take(text, &at, 'Z');
    if (at != text.size()) return false;
    using namespace std::chrono;
    const long long total = (((DaysOf(year, month, day) * 24 + hour) * 60 + minute) * 60 + second) * 1000 + ms;
    *when = system_clock::time_point(duration_cast<system_clock::duration>(milliseconds(total)));
    return true;
}

}  // namespace morvane::cli
