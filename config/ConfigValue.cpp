#include "config/ConfigValue.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <string>
#include <system_error>

namespace ConfigValue {

namespace {

bool isDigit(wchar_t ch) {
    return ch >= L'0' && ch <= L'9';
}

// An exponent is counted up to here; beyond it no text can bring the value
// back into range, since no text is this long.
constexpr int64_t kExponentCap = INT64_C(1000000000000000);

}  // namespace

int32_t ToInt(const CString& text) {
    const int n = text.GetLength();
    int i = 0;
    while (i < n && CString::IsWhiteSpace(text[i])) ++i;
    bool negative = false;
    if (i < n && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
    // Digits stop counting once the magnitude reaches the limit; by then it is
    // below ten times the limit plus 9, far inside 64 bits.
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
    // from_chars takes no leading '+', so the sign is applied afterwards; -0
    // and an underflow below zero stay negative, as wcstod has them.
    bool negative = false;
    if (i < n && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';

    // Only the decimal subject sequence is converted, so nothing else wcstod
    // knows (hexadecimal, INF, NAN) can be read.
    std::string number;
    int integerDigits = 0;
    int digits = 0;
    int leadingZeros = 0;
    for (; i < n && isDigit(text[i]); ++i, ++integerDigits) number += static_cast<char>(text[i]);
    if (i < n && text[i] == L'.') {
        number += '.';
        for (++i; i < n && isDigit(text[i]); ++i) number += static_cast<char>(text[i]);
    }
    for (const char ch : number) {
        if (ch == '.') continue;
        if (ch == '0' && leadingZeros == digits) ++leadingZeros;
        ++digits;
    }
    if (digits == 0) return 0.0f;

    int64_t exponent = 0;
    if (i < n && (text[i] == L'e' || text[i] == L'E')) {
        int j = i + 1;
        const bool negativeExponent = j < n && text[j] == L'-';
        if (j < n && (text[j] == L'+' || text[j] == L'-')) ++j;
        if (j < n && isDigit(text[j])) {
            number += negativeExponent ? "e-" : "e";
            for (; j < n && isDigit(text[j]); ++j) {
                number += static_cast<char>(text[j]);
                if (exponent < kExponentCap) exponent = exponent * 10 + (text[j] - L'0');
            }
            if (negativeExponent) exponent = -exponent;
        }
    }

    double value = 0.0;
    const char* const first = number.data();
    if (std::from_chars(first, first + number.size(), value).ec == std::errc::result_out_of_range) {
        // from_chars leaves value alone then; wcstod answers HUGE_VAL for too
        // large and 0 for too small. The leading non-zero digit's power of ten
        // tells the two apart: at 10^0 or above the value cannot be too small.
        const int64_t leadPower = integerDigits - leadingZeros - 1 + exponent;
        value = leadPower >= 0 ? HUGE_VAL : 0.0;
    }
    return static_cast<float>(negative ? -value : value);
}

}  // namespace ConfigValue
