#include "lang/lang.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace lang {

namespace {

bool isY(char c) {
    return c == 'y' || c == 'Y';
}
bool isM(char c) {
    return c == 'm' || c == 'M';
}
bool isD(char c) {
    return c == 'd' || c == 'D';
}

void twoDigits(std::string& out, int n) {
    out += static_cast<char>('0' + n / 10 % 10);
    out += static_cast<char>('0' + n % 10);
}

} // namespace

int compareStrings(std::string_view a, std::string_view b, bool exact) {
    if (exact) {
        const std::size_t n = std::max(a.size(), b.size());
        for (std::size_t i = 0; i < n; ++i) {
            const auto ca = static_cast<unsigned char>(i < a.size() ? a[i] : ' ');
            const auto cb = static_cast<unsigned char>(i < b.size() ? b[i] : ' ');
            if (ca != cb) return ca < cb ? -1 : 1;
        }
        return 0;
    }
    if (a.size() >= b.size() && a.substr(0, b.size()) == b) return 0;
    const int c = a.compare(b);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

std::string rtrimBlanks(std::string_view s) {
    std::size_t end = s.size();
    while (end > 0 && s[end - 1] == ' ') --end;
    return std::string(s.substr(0, end));
}

bool stringEquals(std::string_view a, std::string_view b, bool exact) {
    if (exact) return compareStrings(a, b, true) == 0;
    return a.size() >= b.size() && a.substr(0, b.size()) == b;
}

std::string joinMovingBlanks(std::string_view a, std::string_view b) {
    std::string left = rtrimBlanks(a);
    const std::size_t blanks = a.size() - left.size();
    return left.append(b).append(blanks, ' ');
}

std::int32_t addDays(std::int32_t julian, double days) {
    if (!julian) return 0;
    const double r = std::trunc(static_cast<double>(julian) + days);
    if (!(r >= 1721426 && r <= 5373484)) return 0;
    return static_cast<std::int32_t>(r);
}

double leadingNumber(std::string_view s, bool& hasPoint) {
    std::size_t i = 0;
    std::string digits;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) digits += s[i++];
    hasPoint = false;
    while (i < s.size() && digits.size() < 64) {
        const char c = s[i];
        if (c >= '0' && c <= '9')
            digits += c;
        else if (c == '.' && !hasPoint)
            hasPoint = true, digits += c;
        else
            break;
        ++i;
    }
    return digits.empty() ? 0.0 : std::strtod(digits.c_str(), nullptr);
}

std::string formatDate(int y, int m, int d, bool empty, std::string_view pattern) {
    std::string out;
    for (std::size_t i = 0; i < pattern.size();) {
        const char c = pattern[i];
        std::size_t run = 1;
        while (i + run < pattern.size() && pattern[i + run] == c) ++run;
        if (isY(c)) {
            if (run >= 3) {
                if (empty)
                    out.append(4, ' ');
                else
                    twoDigits(out, y / 100), twoDigits(out, y % 100);
            } else {
                if (empty)
                    out.append(2, ' ');
                else
                    twoDigits(out, y % 100);
            }
            i += run;
        } else if ((isD(c) || isM(c)) && run >= 2) {
            // Each "dd" / "mm" pair is one field; a longer run repeats it.
            for (std::size_t k = 0; k + 1 < run; k += 2) {
                if (empty)
                    out += "  ";
                else
                    twoDigits(out, isD(c) ? d : m);
            }
            if (run % 2) out += c;
            i += run;
        } else {
            out += empty && (isD(c) || isM(c)) ? ' ' : c;
            ++i;
        }
    }
    return out;
}

bool dateParts(std::string_view text, std::string_view pattern, int epoch, long& year, long& month,
               long& day) {
    // The order of day, month and year in the pattern.
    char order[3];
    int n = 0;
    for (std::size_t i = 0; i < pattern.size() && n < 3;) {
        const char c = pattern[i];
        std::size_t run = 1;
        while (i + run < pattern.size() && pattern[i + run] == c) ++run;
        if (isD(c) || isM(c) || isY(c)) order[n++] = isD(c) ? 'd' : isM(c) ? 'm' : 'y';
        i += run;
    }
    if (n != 3) return false;

    // The digit groups of the text, in order.
    long values[3] = {0, 0, 0};
    int digits[3] = {0, 0, 0};
    int groups = 0;
    for (std::size_t i = 0; i < text.size() && groups < 3;) {
        if (text[i] >= '0' && text[i] <= '9') {
            long v = 0;
            int count = 0;
            while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
                if (count < 9) v = v * 10 + (text[i] - '0');
                ++count;
                ++i;
            }
            values[groups] = v;
            digits[groups] = count;
            ++groups;
        } else {
            ++i;
        }
    }
    if (groups != 3) return false;

    long y = 0, m = 0, d = 0;
    int yDigits = 0;
    for (int k = 0; k < 3; ++k) {
        if (order[k] == 'd')
            d = values[k];
        else if (order[k] == 'm')
            m = values[k];
        else
            y = values[k], yDigits = digits[k];
    }
    if (yDigits <= 2 && y < 100) {
        y += epoch / 100 * 100;
        if (y < epoch) y += 100;
    }
    year = y;
    month = m;
    day = d;
    return true;
}

} // namespace lang
