#include "config/ConfigValue.h"

#include "config/DecimalNumber.h"

#include <climits>
#include <string>

namespace ConfigValue {

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
    for (; i < n && IsDigit(text[i]); ++i)
        if (magnitude < limit) magnitude = magnitude * 10 + (text[i] - L'0');
    if (magnitude > limit) magnitude = limit;
    return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

float ToFloat(const CString& text) {
    // Characters beyond one byte end a number as any other non-digit does.
    std::string narrow;
    narrow.reserve(static_cast<size_t>(text.GetLength()));
    for (int i = 0; i < text.GetLength(); ++i)
        narrow += text[i] > 0 && text[i] < 0x80 ? static_cast<char>(text[i]) : '\x01';
    return static_cast<float>(ReadDecimal(narrow.data(), narrow.size()));
}

}  // namespace ConfigValue
