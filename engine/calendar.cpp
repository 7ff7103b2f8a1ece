#include "engine/calendar.h"

#include <cctype>
#include <vector>

namespace engine::calendar {
namespace {

bool isLeap(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int daysIn(int y, int m) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : days[m - 1];
}

constexpr std::int32_t firstDay = 1721426; // 0001-01-01
constexpr std::int32_t lastDay = 5373484;  // 9999-12-31

char upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

void putNumber(std::string& out, int value, std::size_t width) {
    std::string digits = std::to_string(value);
    if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
    out += digits.substr(digits.size() - width);
}

// The parts of a format in order: 'D', 'M' or 'Y' with the width of their run.
struct Part {
    char kind;
    std::size_t pos;
    std::size_t width;
};

std::vector<Part> partsOf(std::string_view fmt) {
    std::vector<Part> parts;
    for (std::size_t i = 0; i < fmt.size();) {
        char c = upper(fmt[i]);
        if (c == 'D' || c == 'M' || c == 'Y') {
            std::size_t j = i;
            while (j < fmt.size() && upper(fmt[j]) == c) ++j;
            parts.push_back({c, i, j - i});
            i = j;
        } else {
            ++i;
        }
    }
    return parts;
}

int placeYear(int year, std::size_t digits, int epoch) {
    if (digits > 2) return year;
    int y = epoch / 100 * 100 + year;
    if (y < epoch) y += 100;
    return y;
}

} // namespace

std::int32_t julian(int year, int month, int day) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > daysIn(year, month)) return 0;
    int a = (14 - month) / 12;
    int y = year + 4800 - a;
    int m = month + 12 * a - 3;
    return day + (153 * m + 2) / 5 + 365 * y + y / 4 - y / 100 + y / 400 - 32045;
}

void split(std::int32_t jd, int& year, int& month, int& day) {
    if (jd < firstDay || jd > lastDay) {
        year = month = day = 0;
        return;
    }
    std::int32_t a = jd + 32044;
    std::int32_t b = (4 * a + 3) / 146097;
    std::int32_t c = a - 146097 * b / 4;
    std::int32_t d = (4 * c + 3) / 1461;
    std::int32_t e = c - 1461 * d / 4;
    std::int32_t m = (5 * e + 2) / 153;
    day = static_cast<int>(e - (153 * m + 2) / 5 + 1);
    month = static_cast<int>(m + 3 - 12 * (m / 10));
    year = static_cast<int>(100 * b + d - 4800 + m / 10);
}

std::string toStamp(std::int32_t jd) {
    int y, m, d;
    split(jd, y, m, d);
    if (y == 0) return std::string(8, ' ');
    std::string out;
    putNumber(out, y, 4);
    putNumber(out, m, 2);
    putNumber(out, d, 2);
    return out;
}

std::int32_t fromStamp(std::string_view text, bool& ok) {
    ok = true;
    if (text.size() != 8) {
        ok = false;
        return 0;
    }
    if (text.find_first_not_of(' ') == std::string_view::npos) return 0;
    int v[3] = {0, 0, 0};
    const std::size_t widths[3] = {4, 2, 2};
    std::size_t pos = 0;
    for (int k = 0; k < 3; ++k) {
        for (std::size_t i = 0; i < widths[k]; ++i, ++pos) {
            char c = text[pos];
            if (c < '0' || c > '9') {
                ok = false;
                return 0;
            }
            v[k] = v[k] * 10 + (c - '0');
        }
    }
    std::int32_t jd = julian(v[0], v[1], v[2]);
    if (jd == 0) ok = false;
    return jd;
}

std::string format(std::int32_t jd, std::string_view fmt) {
    int y, m, d;
    split(jd, y, m, d);
    if (y == 0) return std::string(fmt.size(), ' ');
    std::string out;
    std::size_t last = 0;
    for (const Part& p : partsOf(fmt)) {
        out.append(fmt.substr(last, p.pos - last));
        last = p.pos + p.width;
        if (p.kind == 'D')
            putNumber(out, d, p.width);
        else if (p.kind == 'M')
            putNumber(out, m, p.width);
        else
            putNumber(out, y, p.width >= 3 ? 4 : 2);
    }
    out.append(fmt.substr(last));
    return out;
}

std::int32_t parse(std::string_view text, std::string_view fmt, int epoch, bool& ok) {
    ok = true;
    if (text.find_first_not_of(' ') == std::string_view::npos) return 0;
    std::vector<Part> parts = partsOf(fmt);
    int day = 0, month = 0, year = 0;
    std::size_t yearDigits = 4;
    bool haveD = false, haveM = false, haveY = false;
    bool separated = false;
    for (char c : text)
        if (!(c >= '0' && c <= '9') && c != ' ') separated = true;
    // Digit groups in the order the format names day, month and year.
    std::vector<std::string> groups;
    if (separated) {
        std::string current;
        for (char c : text) {
            if (c >= '0' && c <= '9') {
                current += c;
            } else if (!current.empty()) {
                groups.push_back(current);
                current.clear();
            }
        }
        if (!current.empty()) groups.push_back(current);
    } else {
        for (const Part& p : parts) {
            if (p.pos + p.width > text.size()) break;
            groups.emplace_back(text.substr(p.pos, p.width));
        }
    }
    if (groups.size() != parts.size() || parts.empty()) {
        ok = false;
        return 0;
    }
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const std::string& g = groups[i];
        if (g.empty() || g.size() > 4 || g.find_first_not_of("0123456789") != std::string::npos) {
            ok = false;
            return 0;
        }
        int value = std::stoi(g);
        switch (parts[i].kind) {
        case 'D':
            day = value;
            haveD = true;
            break;
        case 'M':
            month = value;
            haveM = true;
            break;
        default:
            year = value;
            yearDigits = g.size();
            haveY = true;
            break;
        }
    }
    if (!haveD || !haveM || !haveY) {
        ok = false;
        return 0;
    }
    std::int32_t jd = julian(placeYear(year, yearDigits, epoch), month, day);
    if (jd == 0) ok = false;
    return jd;
}

} // namespace engine::calendar
