#include "config/DecimalNumber.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>
#include <system_error>

namespace ConfigValue {

namespace {

bool IsBlank(char ch) {
    return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\v' || ch == '\f' || ch == '\r';
}

// An exponent is counted up to here; beyond it no text can bring the value
// back into range, since no text is this long.
constexpr int64_t kExponentCap = INT64_C(1000000000000000);

}  // namespace

double ReadDecimal(const char* text, size_t length) {
    const char* p = text;
    const char* const end = text + length;
    while (p < end && IsBlank(*p)) ++p;
    // from_chars takes no leading '+', so the sign is applied afterwards; -0
    // and an underflow below zero stay negative, as strtod has them.
    const bool negative = p < end && *p == '-';
    if (p < end && (*p == '+' || *p == '-')) ++p;

    // Only the decimal subject sequence is converted, so nothing else strtod
    // knows (hexadecimal, INF, NAN) can be read.
    std::string number;
    int64_t integerDigits = 0;
    int64_t digits = 0;
    int64_t leadingZeros = 0;
    for (; p < end && IsDigit(*p); ++p, ++integerDigits) number += *p;
    if (p < end && *p == '.') {
        number += '.';
        for (++p; p < end && IsDigit(*p); ++p) number += *p;
    }
    for (const char ch : number) {
        if (ch == '.') continue;
        if (ch == '0' && leadingZeros == digits) ++leadingZeros;
        ++digits;
    }
    if (digits == 0) return 0.0;

    int64_t exponent = 0;
    if (p < end && (*p == 'e' || *p == 'E')) {
        const char* q = p + 1;
        const bool negativeExponent = q < end && *q == '-';
        if (q < end && (*q == '+' || *q == '-')) ++q;
        if (q < end && IsDigit(*q)) {
            number += negativeExponent ? "e-" : "e";
            for (; q < end && IsDigit(*q); ++q) {
                number += *q;
                if (exponent < kExponentCap) exponent = exponent * 10 + (*q - '0');
            }
            if (negativeExponent) exponent = -exponent;
        }
    }

    double value = 0.0;
    const char* const first = number.data();
    if (std::from_chars(first, first + number.size(), value).ec == std::errc::result_out_of_range) {
        // from_chars leaves value alone then; strtod answers HUGE_VAL for too
        // large and 0 for too small. The leading non-zero digit's power of ten
        // tells the two apart: at 10^0 or above the value cannot be too small.
        const int64_t leadPower = integerDigits - leadingZeros - 1 + exponent;
        value = leadPower >= 0 ? HUGE_VAL : 0.0;
    }
    return negative ? -value : value;
}

}  // namespace ConfigValue
