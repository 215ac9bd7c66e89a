// Stand-in for the class library's wide-character string, with the operations
// the configuration readers use and no more.
//
// A string holds wchar_t characters and knows its length, so a character 0 read
// from a file stays a character. Case and white space follow the "C" locale
// whatever locale the process runs in: the readers' results must not depend on
// the machine.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>

class CString;

// One argument of Format/AppendFormat: a number for %d, wide text for %s.
class CFormatArg {
public:
    CFormatArg(int value) : number_(value) {}
    CFormatArg(const wchar_t* text) : text_(text ? text : L""), isText_(true) {}
    CFormatArg(const CString& text);

    bool IsText() const { return isText_; }
    int Number() const { return number_; }
    const wchar_t* Text() const { return text_; }

private:
    int number_ = 0;
    const wchar_t* text_ = L"";
    bool isText_ = false;
};

class CString {
public:
    CString() = default;
    CString(const wchar_t* text) : text_(text ? text : L"") {}
    CString(const wchar_t* text, int length);

    int GetLength() const { return static_cast<int>(text_.size()); }
    bool IsEmpty() const { return text_.empty(); }
    void Empty() { text_.clear(); }
    // Terminated; valid until the string next changes.
    const wchar_t* GetString() const { return text_.c_str(); }

    // index must lie in [0, GetLength()).
    wchar_t GetAt(int index) const { return text_.at(static_cast<size_t>(index)); }
    wchar_t operator[](int index) const { return GetAt(index); }
    void SetAt(int index, wchar_t ch) { text_.at(static_cast<size_t>(index)) = ch; }

    CString& operator+=(const CString& text) {
        text_ += text.text_;
        return *this;
    }
    CString& operator+=(const wchar_t* text) {
        if (text) text_ += text;
        return *this;
    }
    CString& operator+=(wchar_t ch) {
        text_ += ch;
        return *this;
    }

    // Whole text, character by character.
    int Compare(const wchar_t* text) const;
    friend bool operator==(const CString& a, const CString& b) { return a.text_ == b.text_; }
    friend bool operator==(const CString& a, const wchar_t* b) { return a.Compare(b) == 0; }
    friend bool operator!=(const CString& a, const CString& b) { return !(a == b); }
    friend bool operator!=(const CString& a, const wchar_t* b) { return !(a == b); }

    // Position of the first occurrence at or after start, -1 when there is none.
    int Find(wchar_t ch, int start = 0) const;
    int Find(const wchar_t* text, int start = 0) const;

    // Counts beyond the end are cut to what is there.
    CString Mid(int first) const;
    CString Mid(int first, int count) const;
    CString Left(int count) const;

    // Upper-cases a to z only; every other character stays.
    CString& MakeUpper();
    // White space: blank, tab, line feed, vertical tab, form feed, carriage return.
    CString& TrimLeft();
    CString& TrimRight();
    CString& Trim();
    // Answers the number of characters replaced.
    int Replace(wchar_t oldChar, wchar_t newChar);

    // printf-style with %d (int), %s (wide text) and %%. A conversion without a
    // matching argument writes nothing; any other character is copied.
    template <typename... Args>
    void Format(const wchar_t* format, const Args&... args) {
        *this = Formatted(format, {CFormatArg(args)...});
    }
    template <typename... Args>
    void AppendFormat(const wchar_t* format, const Args&... args) {
        *this += Formatted(format, {CFormatArg(args)...});
    }

    static bool IsWhiteSpace(wchar_t ch);

private:
    static CString Formatted(const wchar_t* format, std::initializer_list<CFormatArg> args);

    std::wstring text_;
};

inline CFormatArg::CFormatArg(const CString& text) : text_(text.GetString()), isText_(true) {}
