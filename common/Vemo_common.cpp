// Vemo_common: locale-independent number formatting and parsing.
#include "common/Vemo_common.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <clocale>
#include <cstdio>
#include <system_error>
#include <vector>

#include <locale.h>

namespace {

// printf in the "C" locale, whatever LC_NUMERIC the process runs under.
// uselocale changes only this thread's locale, and only for the call.
class CLocaleScope {
public:
    CLocaleScope() : m_c(newlocale(LC_ALL_MASK, "C", nullptr)), m_previous(uselocale(m_c)) {}
    ~CLocaleScope() {
        uselocale(m_previous);
        freelocale(m_c);
    }
    CLocaleScope(const CLocaleScope&) = delete;
    CLocaleScope& operator=(const CLocaleScope&) = delete;

private:
    locale_t m_c;
    locale_t m_previous;
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The formats the writers use for every coordinate, " %W.Plf" (leading
// spaces, an optional width, a precision): std::to_chars gives the same
// exactly rounded digits as printf (ties to even) without a locale, and an
// export of an A0 scan formats millions of numbers. Returns false for any
// other format, and for infinities and NaNs, which printf spells its own way.
bool FormatFixed(const char* format, double value, std::string& text) {
    if (!std::isfinite(value)) return false;
    const char* p = format;
    std::size_t spaces = 0;
    while (*p == ' ') ++p, ++spaces;
    if (*p++ != '%') return false;
    std::size_t width = 0;
    while (IsDigit(*p) && width < 100) width = width * 10 + static_cast<std::size_t>(*p++ - '0');
    if (*p++ != '.' || !IsDigit(*p)) return false;
    const int precision = *p++ - '0';
    if (*p == 'l') ++p;
    if (*p++ != 'f' || *p != '\0') return false;
    char digits[400];  // the longest finite double in fixed notation, 9 decimals
    const auto result = std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, precision);
    if (result.ec != std::errc()) return false;
    const auto length = static_cast<std::size_t>(result.ptr - digits);
    text.assign(spaces + (width > length ? width - length : 0), ' ');
    text.append(digits, length);
    return true;
}

}  // namespace

std::string FormatNumber(const char* format, double value) {
    std::string fixed;
    if (FormatFixed(format, value, fixed)) return fixed;
    CLocaleScope cLocale;
    char buffer[32];
    const int length = std::snprintf(buffer, sizeof buffer, format, value);
    if (length < 0) return std::string();
    if (static_cast<std::size_t>(length) < sizeof buffer) return std::string(buffer, length);
    std::vector<char> whole(static_cast<std::size_t>(length) + 1);
    std::snprintf(whole.data(), whole.size(), format, value);
    return std::string(whole.data(), static_cast<std::size_t>(length));
}

namespace {

// The length of the number ParseNumber would read at the start of `text`
// (after white space), 0 when there is none.
std::size_t NumberLength(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t digits = 0;
    while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
    }
    if (digits == 0) return 0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
        if (j < text.size() && IsDigit(text[j])) {
            while (j < text.size() && IsDigit(text[j])) ++j;
            i = j;
        }
    }
    return i;
}

}  // namespace

bool IsDecimalNumber(std::string_view text) {
    const std::size_t length = NumberLength(text);
    return length != 0 && length == text.size();
}

double ParseNumber(std::string_view text) {
    const std::size_t end = NumberLength(text);
    if (end == 0) return 0.0;
    std::size_t start = 0;
    while (std::isspace(static_cast<unsigned char>(text[start]))) ++start;
    // from_chars neither accepts a leading '+' nor depends on the locale.
    std::size_t from = start;
    if (text[from] == '+') ++from;
    double value = 0.0;
    const auto result = std::from_chars(text.data() + from, text.data() + end, value);
    if (result.ec == std::errc::result_out_of_range) {
        // atof gives +-HUGE_VAL on overflow and 0 (or a denormal) on underflow.
        const bool negative = text[from] == '-';
        bool tiny = false;
        for (std::size_t k = from; k < end && !tiny; ++k) {
            if (text[k] == 'e' || text[k] == 'E') tiny = k + 1 < end && text[k + 1] == '-';
        }
        if (tiny) return negative ? -0.0 : 0.0;
        return negative ? -HUGE_VAL : HUGE_VAL;
    }
    return value;
}
