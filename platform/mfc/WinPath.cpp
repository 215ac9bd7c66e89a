#include "platform/mfc/WinPath.h"

#include <cstdint>
#include <cstdlib>
#include <mutex>

namespace WinPath {

const char* const kDefaultDriveRoot = "/var/lib/kesu/drive_c";

namespace {

// Built on first use: a module's static objects may map a path while it loads.
// A host that loads the module points the drive elsewhere through the
// environment, the module's own root being out of its reach.
struct DriveRoot {
    std::mutex mutex;
    std::string folder = InitialFolder();

    static std::string InitialFolder() {
        const char* fromEnvironment = std::getenv("KESU_DRIVE_C");
        return fromEnvironment && *fromEnvironment ? fromEnvironment : kDefaultDriveRoot;
    }
};

DriveRoot& driveRoot() {
    static DriveRoot root;
    return root;
}

void appendUtf8(std::string& out, wchar_t ch) {
    uint32_t c = static_cast<uint32_t>(ch);
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

bool isLetter(wchar_t ch) {
    return (ch >= L'a' && ch <= L'z') || (ch >= L'A' && ch <= L'Z');
}

}  // namespace

void SetDriveRoot(const std::string& folder) {
    DriveRoot& root = driveRoot();
    std::lock_guard<std::mutex> lock(root.mutex);
    root.folder = folder;
}

std::string GetDriveRoot() {
    DriveRoot& root = driveRoot();
    std::lock_guard<std::mutex> lock(root.mutex);
    return root.folder;
}

std::string ToLinuxPath(const wchar_t* windowsPath) {
    std::string out;
    if (!windowsPath) return out;
    const wchar_t* rest = windowsPath;
    if (isLetter(rest[0]) && rest[1] == L':') {
        if (rest[0] != L'C' && rest[0] != L'c') return out;
        out = GetDriveRoot();
        rest += 2;
        // "C:" and "C:x" both start at the root: there is no current folder per drive.
        if (*rest != L'\\' && *rest != L'/') out += '/';
    }
    for (; *rest; ++rest) {
        if (*rest == L'\\')
            out += '/';
        else
            appendUtf8(out, *rest);
    }
    return out;
}

}  // namespace WinPath
