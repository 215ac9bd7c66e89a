#include "config/ConfigRead.h"

#include <algorithm>
#include <vector>

#include "config/ConfigOpenError.h"
#include "config/ConfigValue.h"
#include "platform/mfc/StdioFile.h"

namespace {

// Commas separate tokens, and a run of them counts as one: commas from
// position on are skipped, the token runs to the next comma or the end, and
// position moves past that comma. No token left: position becomes -1.
bool nextToken(const CString& line, int& position, CString& token) {
    token.Empty();
    if (position < 0) return false;
    const int length = line.GetLength();
    int start = position;
    while (start < length && line[start] == L',') ++start;
    if (start >= length) {
        position = -1;
        return false;
    }
    const int comma = line.Find(L',', start);
    const int end = comma < 0 ? length : comma;
    token = line.Mid(start, end - start);
    position = comma < 0 ? length : comma + 1;
    return true;
}

// More than this many bad lines and the file is taken for rubbish.
constexpr int kBadLinesTolerated = 5;

}  // namespace

int ConfigRead::Read(const CString& path, CString& errors) {
    errors.Empty();
    resultCount = 0;

    CStdioFile file;
    CFileException failure;
    if (!file.Open(path.GetString(), CStdioFile::modeRead | CStdioFile::typeText, &failure)) {
        // The files are optional: absent, with or without their folder, is no error.
        if (failure.m_cause == CFileException::fileNotFound || failure.m_cause == CFileException::badPath)
            return 0;
        errors = ConfigOpenError::Text(failure);
        return -1;
    }
    return ReadOpened(file, errors);
}

int ConfigRead::ReadOpened(CStdioFile& file, CString& errors) {
    errors.Empty();
    resultCount = 0;

    Init();
    int32_t widest = 0;
    for (int32_t row = 0; row < keywordCount; ++row) widest = std::max(widest, keywords[row].paramCount);
    std::vector<CString> params(static_cast<size_t>(widest));

    int lineNumber = 0;
    int badLines = 0;
    CString line;
    while (file.ReadString(line)) {
        ++lineNumber;
        line.TrimRight();
        line.TrimLeft();
        if (line.IsEmpty() || line[0] == L'%') continue;

        int position = 0;
        CString keyword;
        if (!nextToken(line, position, keyword)) {
            errors.AppendFormat(L"Syntax error in configuration file at line %d \r\n", lineNumber);
            ++badLines;
            continue;
        }
        // Not trimmed: "VERSION ,1" is not the keyword VERSION.
        keyword.MakeUpper();
        const ConfigKeyword* row = nullptr;
        for (int32_t i = 0; i < keywordCount && !row; ++i)
            if (keyword == keywords[i].keyword) row = &keywords[i];
        if (!row) {
            errors.AppendFormat(L"Unknown keyword in configuration file at line %d \r\n", lineNumber);
            ++badLines;
            continue;
        }
        if (!SplitParameters(line, position, params.data(), row->paramCount)) {
            errors.AppendFormat(L"Missing parameters in configuration file at line %d \r\n", lineNumber);
            ++badLines;
            continue;
        }
        CString message;
        if (!ProcessKeyword(row->id, params.data(), message)) {
            errors.AppendFormat(L"Semantic error (%s) in configuration file at line %d \r\n", message,
                                lineNumber);
            ++badLines;
        }
    }
    file.Close();
    params.clear();

    CString message;
    if (Summary(message) < 0) errors.AppendFormat(L"Summary error in configuration file: \r\n%s ", message);
    if (badLines > kBadLinesTolerated) errors = L"Configuration file is corrupt - delete and reformat";
    return errors.IsEmpty() ? 1 : -1;
}

bool ConfigRead::SplitParameters(const CString& line, int position, CString params[], int count) {
    for (int i = 0; i < count; ++i) {
        if (!nextToken(line, position, params[i])) return false;
        params[i].Trim();
    }
    return true;
}

bool ConfigRead::ParseRangedInt(const CString& text, int& value, int min, int max) {
    value = ConfigValue::ToInt(text);
    return min <= value && value <= max;
}
