// Conversions of configuration-file texts into the values the readers store.
// None of them fails, and none depends on the process locale.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/mfc/CString.h"

namespace ConfigValue {

// As wcstol reads base 10: leading white space, optional sign, digits up to the
// first other character; 0 when no digit begins the text; values beyond the
// 32-bit range become the nearest limit.
int32_t ToInt(const CString& text);

// As wcstod reads decimal text in the "C" locale (white space, sign, digits
// with an optional point and exponent; 0 when no number begins the text), then
// narrowed to 32 bits. Hexadecimal, INF and NAN spellings read as 0.
float ToFloat(const CString& text);

// Copies at most maxChars characters of text into dest and terminates it;
// never more than N - 1 characters.
template <size_t N>
void CopyText(wchar_t (&dest)[N], const CString& text, size_t maxChars) {
    static_assert(N > 0, "no room for the terminator");
    size_t n = static_cast<size_t>(text.GetLength());
    if (n > maxChars) n = maxChars;
    if (n > N - 1) n = N - 1;
    for (size_t i = 0; i < n; ++i) dest[i] = text[static_cast<int>(i)];
    dest[n] = L'\0';
}

}  // namespace ConfigValue
