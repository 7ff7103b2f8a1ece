#include "dates.h"

#include "settings.h"

#include "lang/lang.h"

#include <chrono>
#include <ctime>

namespace rt {

namespace {

// Julian day number of a Gregorian calendar date (Fliegel and Van Flandern).
std::int32_t toJulian(int y, int m, int d) {
    const int a = (14 - m) / 12;
    const int yy = y + 4800 - a;
    const int mm = m + 12 * a - 3;
    return d + (153 * mm + 2) / 5 + 365 * yy + yy / 4 - yy / 100 + yy / 400 - 32045;
}

bool leap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int daysIn(int y, int m) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && leap(y) ? 29 : days[m - 1];
}

void twoDigits(std::string& out, int n) {
    out += static_cast<char>('0' + n / 10 % 10);
    out += static_cast<char>('0' + n % 10);
}

std::tm localNow(double* fraction = nullptr) {
    const auto now = std::chrono::system_clock::now();
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    if (fraction) {
        const auto since = now.time_since_epoch();
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(since).count() % 1000;
        *fraction = static_cast<double>(ms < 0 ? ms + 1000 : ms) / 1000.0;
    }
    std::tm tm{};
    if (const std::tm* p = std::localtime(&t)) tm = *p;
    return tm;
}

}  // namespace

Date makeDate(int year, int month, int day) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > daysIn(year, month)) return {};
    return Date{toJulian(year, month, day)};
}

void splitDate(Date d, int& year, int& month, int& day) {
    if (d.empty()) {
        year = month = day = 0;
        return;
    }
    const int a = d.julian + 32044;
    const int b = (4 * a + 3) / 146097;
    const int c = a - 146097 * b / 4;
    const int dd = (4 * c + 3) / 1461;
    const int e = c - 1461 * dd / 4;
    const int m = (5 * e + 2) / 153;
    day = e - (153 * m + 2) / 5 + 1;
    month = m + 3 - 12 * (m / 10);
    year = 100 * b + dd - 4800 + m / 10;
}

std::string formatDate(Date d, std::string_view pattern) {
    int y, m, dd;
    splitDate(d, y, m, dd);
    return lang::formatDate(y, m, dd, d.empty(), pattern);
}

Date parseDate(std::string_view text, std::string_view pattern, int epoch) {
    long y, m, d;
    if (!lang::dateParts(text, pattern, epoch, y, m, d)) return {};
    return makeDate(static_cast<int>(y), static_cast<int>(m), static_cast<int>(d));
}

std::string DTOC(Date d) { return formatDate(d, setDateFormat()); }
Date CTOD(std::string_view text) { return parseDate(text, setDateFormat(), setEpoch()); }

std::string DTOS(Date d) {
    if (d.empty()) return std::string(8, ' ');
    return formatDate(d, "yyyymmdd");
}

Date STOD(std::string_view text) {
    if (text.size() != 8) return {};
    for (char c : text)
        if (c < '0' || c > '9') return {};
    const auto num = [&](std::size_t pos, std::size_t len) {
        int v = 0;
        for (std::size_t i = pos; i < pos + len; ++i) v = v * 10 + (text[i] - '0');
        return v;
    };
    return makeDate(num(0, 4), num(4, 2), num(6, 2));
}

Date DATE() {
    const std::tm tm = localNow();
    return makeDate(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
}

std::string TIME() {
    const std::tm tm = localNow();
    std::string out;
    twoDigits(out, tm.tm_hour);
    out += ':';
    twoDigits(out, tm.tm_min);
    out += ':';
    twoDigits(out, tm.tm_sec);
    return out;
}

double SECONDS() {
    double fraction = 0;
    const std::tm tm = localNow(&fraction);
    return tm.tm_hour * 3600.0 + tm.tm_min * 60.0 + tm.tm_sec + fraction;
}

}  // namespace rt
