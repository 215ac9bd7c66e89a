#include "platform/mfc/CString.h"

#include <algorithm>
#include <cwchar>

namespace {

size_t clampedIndex(int index, size_t size) {
    if (index <= 0) return 0;
    return std::min(static_cast<size_t>(index), size);
}

void appendDecimal(std::wstring& out, int value) {
    // Through unsigned so that INT_MIN has a magnitude.
    unsigned magnitude = value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
    wchar_t digits[16];
    int n = 0;
    do {
        digits[n++] = static_cast<wchar_t>(L'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) out += L'-';
    while (n > 0) out += digits[--n];
}

}  // namespace

CString::CString(const wchar_t* text, int length) {
    if (text && length > 0) text_.assign(text, static_cast<size_t>(length));
}

int CString::Compare(const wchar_t* text) const {
    return text_.compare(text ? text : L"");
}

int CString::Find(wchar_t ch, int start) const {
    if (start < 0 || static_cast<size_t>(start) >= text_.size()) return -1;
    size_t at = text_.find(ch, static_cast<size_t>(start));
    return at == std::wstring::npos ? -1 : static_cast<int>(at);
}

int CString::Find(const wchar_t* text, int start) const {
    if (!text || start < 0 || static_cast<size_t>(start) > text_.size()) return -1;
    size_t at = text_.find(text, static_cast<size_t>(start));
    return at == std::wstring::npos ? -1 : static_cast<int>(at);
}

CString CString::Mid(int first) const {
    return Mid(first, GetLength());
}

CString CString::Mid(int first, int count) const {
    size_t from = clampedIndex(first, text_.size());
    size_t n = std::min(clampedIndex(count, text_.size()), text_.size() - from);
    CString part;
    part.text_ = text_.substr(from, n);
    return part;
}

CString CString::Left(int count) const {
    return Mid(0, count);
}

CString& CString::MakeUpper() {
    for (wchar_t& ch : text_)
        if (ch >= L'a' && ch <= L'z') ch = static_cast<wchar_t>(ch - L'a' + L'A');
    return *this;
}

bool CString::IsWhiteSpace(wchar_t ch) {
    return ch == L' ' || ch == L'\t' || ch == L'\n' || ch == L'\v' || ch == L'\f' || ch == L'\r';
}

CString& CString::TrimLeft() {
    size_t n = 0;
    while (n < text_.size() && IsWhiteSpace(text_[n])) ++n;
    text_.erase(0, n);
    return *this;
}

CString& CString::TrimRight() {
    size_t n = text_.size();
    while (n > 0 && IsWhiteSpace(text_[n - 1])) --n;
    text_.erase(n);
    return *this;
}

CString& CString::Trim() {
    TrimRight();
    return TrimLeft();
}

int CString::Replace(wchar_t oldChar, wchar_t newChar) {
    int replaced = 0;
    for (wchar_t& ch : text_)
        if (ch == oldChar) {
            ch = newChar;
            ++replaced;
        }
    return replaced;
}

CString CString::Formatted(const wchar_t* format, std::initializer_list<CFormatArg> args) {
    CString result;
    std::wstring& out = result.text_;
    const CFormatArg* next = args.begin();
    for (const wchar_t* p = format ? format : L""; *p; ++p) {
        if (*p != L'%' || (p[1] != L'd' && p[1] != L's' && p[1] != L'%')) {
            out += *p;
            continue;
        }
        ++p;
        if (*p == L'%') {
            out += L'%';
            continue;
        }
        if (next == args.end()) continue;
        const CFormatArg& arg = *next++;
        if (*p == L'd' && !arg.IsText()) appendDecimal(out, arg.Number());
        if (*p == L's' && arg.IsText()) out += arg.Text();
    }
    return result;
}
