#include "config/ConfigValue.h"

#include <locale.h>
#include <stdlib.h>

#include <climits>
#include <string>

namespace ConfigValue {

namespace {

bool isDigit(wchar_t ch) {
    return ch >= L'0' && ch <= L'9';
}

// Built once and never freed: conversions may run on any thread.
locale_t cLocale() {
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return locale;
}

}  // namespace

int32_t ToInt(const CString& text) {
    const int n = text.GetLength();
    int i = 0;
    while (i < n && CString::IsWhiteSpace(text[i])) ++i;
    bool negative = false;
    if (i < n && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
    // One past the largest magnitude is enough to know the limit is reached.
    const int64_t limit = negative ? -static_cast<int64_t>(INT32_MIN) : INT32_MAX;
    int64_t magnitude = 0;
    for (; i < n && isDigit(text[i]); ++i)
        if (magnitude < limit) magnitude = magnitude * 10 + (text[i] - L'0');
    if (magnitude > limit) magnitude = limit;
    return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

float ToFloat(const CString& text) {
    const int n = text.GetLength();
    int i = 0;
    while (i < n && CString::IsWhiteSpace(text[i])) ++i;
    // Only the decimal subject sequence goes to strtod, so nothing else it
    // knows (hexadecimal, INF, NAN) can be read.
    std::string number;
    if (i < n && (text[i] == L'+' || text[i] == L'-')) number += static_cast<char>(text[i++]);
    int digits = 0;
    for (; i < n && isDigit(text[i]); ++i, ++digits) number += static_cast<char>(text[i]);
    if (i < n && text[i] == L'.') {
        number += '.';
        for (++i; i < n && isDigit(text[i]); ++i, ++digits) number += static_cast<char>(text[i]);
    }
    if (digits == 0) return 0.0f;
    if (i < n && (text[i] == L'e' || text[i] == L'E')) {
        int j = i + 1;
        if (j < n && (text[j] == L'+' || text[j] == L'-')) ++j;
        if (j < n && isDigit(text[j])) {
            number += 'e';
            for (++i; i < n && (isDigit(text[i]) || i < j); ++i) number += static_cast<char>(text[i]);
        }
    }
    return static_cast<float>(strtod_l(number.c_str(), nullptr, cLocale()));
}

}  // namespace ConfigValue
