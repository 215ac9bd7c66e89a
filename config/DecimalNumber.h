// The one reading of decimal number texts shared by the configuration readers
// and the plate-size lookups. It depends on no locale.
#pragma once

#include <cstddef>

namespace ConfigValue {

// The one digit test of the readers and lookups: '0' to '9' of ASCII, nothing
// else (no other script's digits, whatever the locale).
constexpr bool IsDigit(wchar_t ch) {
    return ch >= L'0' && ch <= L'9';
}

// The longest leading decimal number of the text, as strtod reads it in the
// "C" locale: leading blanks (space, tab, LF, VT, FF, CR), optional sign,
// digits with an optional point and exponent; 0 when no number begins the
// text; the nearest double, infinity or zero beyond the range of double.
// Hexadecimal, INF and NAN spellings read as 0.
double ReadDecimal(const char* text, size_t length);

}  // namespace ConfigValue
