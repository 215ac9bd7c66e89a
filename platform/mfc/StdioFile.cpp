#include "platform/mfc/StdioFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/mfc/WinPath.h"

namespace {

constexpr size_t kBufferSize = 4096;

bool isFolder(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string folderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

}  // namespace

CStdioFile::~CStdioFile() {
    Close();
}

BOOL CStdioFile::Open(const wchar_t* fileName, UINT, CFileException* error) {
    Close();
    const std::string path = WinPath::ToLinuxPath(fileName);
    CFileException::Cause cause = CFileException::none;
    int osError = 0;
    if (path.empty()) {
        cause = CFileException::badPath;
        osError = ENOENT;
    } else {
        // Non-blocking so that a FIFO in the file's place cannot hang the caller;
        // it is refused below with everything else that is not a plain file.
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) {
            osError = errno;
            cause = CFileException::ErrnoToCause(osError);
            // Linux answers ENOENT for a missing folder too.
            if (osError == ENOENT && !isFolder(folderOf(path))) cause = CFileException::badPath;
        } else {
            struct stat info;
            if (::fstat(fd, &info) != 0) {
                osError = errno;
            } else if (!S_ISREG(info.st_mode)) {
                osError = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
            }
            if (osError != 0) {
                ::close(fd);
                cause = CFileException::genericException;
            } else {
                fd_ = fd;
            }
        }
    }
    if (fd_ >= 0) {
        buffer_.resize(kBufferSize);
        text_ = buffer_.data();
        next_ = end_ = 0;
        return TRUE;
    }
    if (error) *error = CFileException(cause, osError, CString(fileName));
    return FALSE;
}

BOOL CStdioFile::OpenBytes(const void* data, size_t size) {
    Close();
    text_ = static_cast<const unsigned char*>(data);
    next_ = 0;
    end_ = text_ != nullptr ? size : 0;
    return TRUE;
}

bool CStdioFile::Fill() {
    if (fd_ < 0) return false;
    ssize_t n;
    do {
        n = ::read(fd_, buffer_.data(), buffer_.size());
    } while (n < 0 && errno == EINTR);
    if (n <= 0) return false;
    next_ = 0;
    end_ = static_cast<size_t>(n);
    return true;
}

BOOL CStdioFile::ReadString(CString& line) {
    std::wstring text;
    bool any = false;
    while (next_ < end_ || Fill()) {
        any = true;
        const unsigned char byte = text_[next_++];
        if (byte == '\n') {
            if (!text.empty() && text.back() == L'\r') text.pop_back();
            break;
        }
        text += static_cast<wchar_t>(byte);
    }
    line = CString(text.data(), static_cast<int>(text.size()));
    return any ? TRUE : FALSE;
}

void CStdioFile::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    text_ = nullptr;
    next_ = end_ = 0;
}
