#include "platform/file.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>
// After windows.h, which it needs.
#include <shlobj.h>

#include <cerrno>
#include <cstring>
#include <random>

#include "platform/win32_util.h"

namespace orvane::platform {

namespace {

using win32::ErrnoFromWin32;
using win32::Wide;

// Readers and writers of the program's files never lock others out: a log is read while it is
// written, and a served file may be replaced (renamed over) while a device still reads it.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

int LastErrno() {
    return ErrnoFromWin32(::GetLastError());
}

// Opens `path` only when it is a regular file on a disk; INVALID_HANDLE_VALUE and *error set
// (EISDIR, ELOOP for a link or junction when `noFollow`, EINVAL for a device or a pipe).
// Opening never waits for a peer: a named pipe or a console is refused by its type.
HANDLE OpenRegularHandle(const std::string& path, DWORD access, DWORD disposition, DWORD flags,
                         bool noFollow, int* error) {
    const std::wstring wide = Wide(path);
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (noFollow && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            *error = ELOOP;
            return INVALID_HANDLE_VALUE;
        }
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            *error = EISDIR;
            return INVALID_HANDLE_VALUE;
        }
    }
    if (noFollow) {
        flags |= FILE_FLAG_OPEN_REPARSE_POINT;
    }
    HANDLE h = ::CreateFileW(wide.c_str(), access, kShareAll, nullptr, disposition,
                             FILE_ATTRIBUTE_NORMAL | flags, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        *error = LastErrno();
        return h;
    }
    if (::GetFileType(h) != FILE_TYPE_DISK) {
        ::CloseHandle(h);
        *error = EINVAL;
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

// A C runtime descriptor that owns `h` (closing it closes the handle), or -1.
int DescriptorOf(HANDLE h, int flags) {
    if (h == INVALID_HANDLE_VALUE) {
        return -1;
    }
    int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), flags);
    if (fd < 0) {
        ::CloseHandle(h);
    }
    return fd;
}

HANDLE HandleOf(int fd) {
    return fd < 0 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
}

// `atEnd` writes at the file's end whatever the handle's position: with write-data access
// beside the append access, a plain WriteFile would write at the position, and another
// process's line could be overwritten.
bool WriteAll(HANDLE h, const void* data, size_t len, int* error, bool atEnd = false) {
    const char* p = static_cast<const char*>(data);
    while (len > 0) {
        const DWORD chunk = len > (1u << 30) ? (1u << 30) : static_cast<DWORD>(len);
        OVERLAPPED end{};
        end.Offset = 0xFFFFFFFFu;
        end.OffsetHigh = 0xFFFFFFFFu;
        DWORD written = 0;
        if (!::WriteFile(h, p, chunk, &written, atEnd ? &end : nullptr) || written == 0) {
            *error = written == 0 && ::GetLastError() == ERROR_SUCCESS ? ENOSPC : LastErrno();
            return false;
        }
        p += written;
        len -= written;
    }
    return true;
}

// Reads at `offset` without the handle's own position mattering, so several threads may read
// their parts of one file at once. The bytes read, or -1 with *error set.
long ReadAtOffset(HANDLE h, uint64_t offset, void* buf, size_t len, int* error) {
    char* p = static_cast<char*>(buf);
    size_t done = 0;
    while (done < len) {
        OVERLAPPED at{};
        const uint64_t where = offset + done;
        at.Offset = static_cast<DWORD>(where & 0xFFFFFFFFu);
        at.OffsetHigh = static_cast<DWORD>(where >> 32);
        const size_t left = len - done;
        const DWORD chunk = left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left);
        DWORD got = 0;
        if (!::ReadFile(h, p + done, chunk, &got, &at)) {
            if (::GetLastError() == ERROR_HANDLE_EOF) {
                break;
            }
            *error = LastErrno();
            return -1;
        }
        if (got == 0) {
            break;
        }
        done += got;
    }
    return static_cast<long>(done);
}

// "\\?\C:\x" -> "C:\x", "\\?\UNC\server\share" -> "\\server\share".
std::string WithoutLongPrefix(std::string path) {
    if (path.compare(0, 8, "\\\\?\\UNC\\") == 0) {
        return "\\" + path.substr(7);
    }
    if (path.compare(0, 4, "\\\\?\\") == 0) {
        return path.substr(4);
    }
    return path;
}

std::string FinalPath(HANDLE h) {
    if (h == INVALID_HANDLE_VALUE) {
        return "";
    }
    std::wstring buf(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        DWORD n = ::GetFinalPathNameByHandleW(h, buf.data(), static_cast<DWORD>(buf.size()),
                                              FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (n == 0) {
            return "";
        }
        if (n < buf.size()) {
            buf.resize(n);
            return WithoutLongPrefix(win32::Utf8(buf));
        }
        buf.assign(n + 1, L'\0');
    }
    return "";
}

// A handle that only asks about a file or folder (no data access), links followed.
HANDLE QueryHandle(const std::string& path, int* error) {
    HANDLE h = ::CreateFileW(Wide(path).c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE && error) {
        *error = LastErrno();
    }
    return h;
}

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

size_t LastSeparator(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    return slash;
}

char FoldCase(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : (c == '/' ? '\\' : c);
}

}  // namespace

AppendFile::~AppendFile() {
    Close();
}

bool AppendFile::OpenAlways(const std::string& path) {
    Close();
    // Append-only access makes each write land at the end even when another process appends.
    // FILE_WRITE_DATA beside it lets AppendWhole cut a short write back.
    HANDLE h = OpenRegularHandle(path, FILE_APPEND_DATA | FILE_WRITE_DATA | SYNCHRONIZE,
                                 OPEN_ALWAYS, 0, /*noFollow=*/true, &m_iLastError);
    m_iFd = DescriptorOf(h, _O_WRONLY | _O_APPEND | _O_BINARY);
    return m_iFd >= 0;
}

bool AppendFile::IsStillAt(const std::string& path) const {
    if (m_iFd < 0) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION open{};
    if (!::GetFileInformationByHandle(HandleOf(m_iFd), &open)) {
        return false;
    }
    // The name's own entry, not what a link there points at.
    HANDLE h = ::CreateFileW(Wide(path).c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION named{};
    const bool known = ::GetFileInformationByHandle(h, &named) != 0;
    ::CloseHandle(h);
    return known && open.dwVolumeSerialNumber == named.dwVolumeSerialNumber &&
           open.nFileIndexHigh == named.nFileIndexHigh && open.nFileIndexLow == named.nFileIndexLow;
}

bool AppendFile::SeekEnd() {
    LARGE_INTEGER zero{};
    return ::SetFilePointerEx(HandleOf(m_iFd), zero, nullptr, FILE_END) != 0;
}

bool AppendFile::Write(const void* data, size_t len) {
    return m_iFd >= 0 && WriteAll(HandleOf(m_iFd), data, len, &m_iLastError, /*atEnd=*/true);
}

bool AppendFile::AppendWhole(const void* data, size_t len) {
    HANDLE h = HandleOf(m_iFd);
    LARGE_INTEGER before{};
    if (!::GetFileSizeEx(h, &before)) {
        m_iLastError = LastErrno();
        return false;
    }
    if (WriteAll(h, data, len, &m_iLastError, /*atEnd=*/true)) {
        return true;
    }
    // What stays when the cut fails ends without its CR LF: a reader can still tell it from a
    // whole line.
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile = before;
    ::SetFileInformationByHandle(h, FileEndOfFileInfo, &end, sizeof end);
    return false;
}

bool AppendFile::Flush() {
    return m_iFd >= 0 && ::FlushFileBuffers(HandleOf(m_iFd)) != 0;
}

void AppendFile::Close() {
    if (m_iFd >= 0) {
        ::_close(m_iFd);
        m_iFd = -1;
    }
}

DataFile::~DataFile() {
    Close();
}

bool DataFile::OpenRead(const std::string& path) {
    Close();
    HANDLE h = OpenRegularHandle(path, GENERIC_READ, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
                                 /*noFollow=*/false, &m_iLastError);
    m_iFd = DescriptorOf(h, _O_RDONLY | _O_BINARY);
    return m_iFd >= 0;
}

bool DataFile::OpenWrite(const std::string& path) {
    Close();
    HANDLE h =
        OpenRegularHandle(path, GENERIC_WRITE, OPEN_ALWAYS, 0, /*noFollow=*/true, &m_iLastError);
    m_iFd = DescriptorOf(h, _O_WRONLY | _O_BINARY);
    return m_iFd >= 0;
}

void DataFile::Close() {
    if (m_iFd >= 0) {
        ::_close(m_iFd);
        m_iFd = -1;
    }
}

bool DataFile::Truncate() {
    HANDLE h = HandleOf(m_iFd);
    LARGE_INTEGER zero{};
    if (!::SetFilePointerEx(h, zero, nullptr, FILE_BEGIN) || !::SetEndOfFile(h)) {
        m_iLastError = LastErrno();
        return false;
    }
    return true;
}

int64_t DataFile::Size() const {
    LARGE_INTEGER size{};
    return ::GetFileSizeEx(HandleOf(m_iFd), &size) ? static_cast<int64_t>(size.QuadPart) : -1;
}

long DataFile::ReadAt(int64_t offset, void* buf, size_t len) {
    return ReadAtOffset(HandleOf(m_iFd), static_cast<uint64_t>(offset), buf, len, &m_iLastError);
}

bool DataFile::Write(const void* data, size_t len) {
    return WriteAll(HandleOf(m_iFd), data, len, &m_iLastError);
}

std::string DataFile::RealPath() const {
    return FinalPath(HandleOf(m_iFd));
}

ReplacementFile::~ReplacementFile() {
    Discard();
}

bool ReplacementFile::Open(const std::string& target) {
    Discard();
    const size_t slash = LastSeparator(target);
    m_szFolder = slash == std::string::npos ? "." : target.substr(0, slash + 1);
    m_szTargetName = slash == std::string::npos ? target : target.substr(slash + 1);
    if (m_szTargetName.empty()) {
        m_iLastError = EISDIR;  // a folder's name: nothing to replace
        return false;
    }
    if (!IsDirectory(m_szFolder)) {
        m_iLastError = ENOENT;
        return false;
    }
    const DWORD attributes = ::GetFileAttributesW(Wide(target).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        int refused = 0;
        if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            refused = ELOOP;
        } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            refused = EISDIR;
        } else if ((attributes & (FILE_ATTRIBUTE_DEVICE)) != 0) {
            refused = EINVAL;
        } else if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
            refused = EACCES;
        }
        if (refused != 0) {
            m_iLastError = refused;
            Discard();
            return false;
        }
    }
    const std::string folder = IsSeparator(m_szFolder.back()) ? m_szFolder : m_szFolder + "\\";
    std::random_device seed;
    std::mt19937 pick(seed());
    // Bounded: a clash needs another file of the same random name.
    for (int attempt = 0; attempt < 16 && m_iFd < 0; ++attempt) {
        m_szTempName = kUploadTempPrefix + std::to_string(pick() % 1000000000u) + kUploadTempSuffix;
        HANDLE h = ::CreateFileW(Wide(folder + m_szTempName).c_str(), GENERIC_WRITE, kShareAll,
                                 nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        m_iLastError = h == INVALID_HANDLE_VALUE ? LastErrno() : 0;
        m_iFd = DescriptorOf(h, _O_WRONLY | _O_BINARY);
        if (m_iFd < 0 && m_iLastError != EEXIST) {
            break;
        }
    }
    if (m_iFd < 0) {
        m_szTempName.clear();
        Discard();
        return false;
    }
    m_szFolder = folder;
    m_iDirFd = 0;  // open: Discard removes the temporary file
    return true;
}

bool ReplacementFile::Write(const void* data, size_t len) {
    return m_iFd >= 0 && WriteAll(HandleOf(m_iFd), data, len, &m_iLastError);
}

std::string ReplacementFile::RealFolder() const {
    return m_iDirFd < 0 ? "" : platform::RealPath(m_szFolder);
}

bool ReplacementFile::Commit() {
    // Data first: a rename that reached the disk before the data would leave an empty file in
    // the target's place after a power cut. The handle is closed before the rename, which
    // Windows refuses for a file its writer still holds without sharing deletion.
    if (m_iFd < 0 || !::FlushFileBuffers(HandleOf(m_iFd))) {
        m_iLastError = m_iFd < 0 ? EBADF : LastErrno();
        Discard();
        return false;
    }
    ::_close(m_iFd);
    m_iFd = -1;
    if (!::MoveFileExW(Wide(m_szFolder + m_szTempName).c_str(),
                       Wide(m_szFolder + m_szTargetName).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        m_iLastError = LastErrno();
        Discard();
        return false;
    }
    m_szTempName.clear();
    Discard();
    return true;
}

// Keeps LastError(): a failed Open or Commit discards after noting why.
void ReplacementFile::Discard() {
    if (m_iFd >= 0) {
        ::_close(m_iFd);
        m_iFd = -1;
    }
    if (m_iDirFd >= 0 && !m_szTempName.empty()) {
        ::DeleteFileW(Wide(m_szFolder + m_szTempName).c_str());
    }
    m_iDirFd = -1;
    m_szTempName.clear();
}

bool IsReplacementTempName(const std::string& name) {
    const size_t prefix = std::strlen(kUploadTempPrefix);
    const size_t suffix = std::strlen(kUploadTempSuffix);
    return name.size() >= prefix + suffix &&
           ::_strnicmp(name.c_str(), kUploadTempPrefix, prefix) == 0 &&
           ::_stricmp(name.c_str() + name.size() - suffix, kUploadTempSuffix) == 0;
}

bool IsProgramTempName(const std::string& name) {
    const size_t prefix = std::strlen(kDownloadTempPrefix);
    return IsReplacementTempName(name) ||
           (name.size() > prefix && ::_strnicmp(name.c_str(), kDownloadTempPrefix, prefix) == 0);
}

namespace {
// A part of a path that Windows takes for a device: the name before its first dot, without
// the spaces before that dot, is one of these in any letter case.
bool IsDeviceName(std::string part) {
    part = part.substr(0, part.find('.'));
    while (!part.empty() && part.back() == ' ') {
        part.pop_back();
    }
    for (char& c : part) {
        c = FoldCase(c);
    }
    static const char* const kDevices[] = {"con", "prn", "aux", "nul", "conin$", "conout$"};
    for (const char* device : kDevices) {
        if (part == device) {
            return true;
        }
    }
    // COM1..COM9 and LPT1..LPT9 (COM0 and COM10 are names like any other).
    return part.size() == 4 && (part.compare(0, 3, "com") == 0 || part.compare(0, 3, "lpt") == 0) &&
           part[3] >= '1' && part[3] <= '9';
}
}  // namespace

bool IsReservedPathName(const std::string& path) {
    for (size_t begin = 0; begin <= path.size();) {
        size_t end = path.find_first_of("/\\", begin);
        if (end == std::string::npos) {
            end = path.size();
        }
        const std::string part = path.substr(begin, end - begin);
        const bool dots = part == "." || part == "..";  // left to the checks of the root
        if (!part.empty() && !dots &&
            (part.find(':') != std::string::npos || part.back() == '.' || part.back() == ' ' ||
             IsDeviceName(part))) {
            return true;
        }
        begin = end + 1;
    }
    return false;
}

namespace {
// FILETIME counts 100 ns steps.
int64_t Nanoseconds(const FILETIME& t) {
    return static_cast<int64_t>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) *
           100;
}

bool VersionOfHandle(HANDLE h, FileVersion* out) {
    BY_HANDLE_FILE_INFORMATION info{};
    FILE_BASIC_INFO basic{};
    if (h == INVALID_HANDLE_VALUE || !::GetFileInformationByHandle(h, &info) ||
        !::GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic)) {
        return false;
    }
    out->id.device = info.dwVolumeSerialNumber;
    out->id.inode = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    out->size =
        static_cast<int64_t>((static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
    out->modifiedNs = Nanoseconds(info.ftLastWriteTime);
    out->changedNs = static_cast<int64_t>(basic.ChangeTime.QuadPart) * 100;
    return true;
}
}  // namespace

bool VersionOfStream(std::FILE* file, FileVersion* out) {
    return VersionOfHandle(HandleOf(::_fileno(file)), out);
}

bool DataFile::Version(FileVersion* out) const {
    return m_iFd >= 0 && VersionOfHandle(HandleOf(m_iFd), out);
}

bool RenameOver(const std::string& from, const std::string& to) {
    return ::MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool IdentifyFile(const std::string& path, FileIdentity* out) {
    HANDLE h = QueryHandle(path, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = ::GetFileInformationByHandle(h, &info) != 0;
    ::CloseHandle(h);
    if (!known) {
        return false;
    }
    out->device = info.dwVolumeSerialNumber;
    out->inode = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}

// Paths on Windows compare without letter case and with either separator; a root such as
// "C:\" ends in its separator already.
bool IsPathInsideRoot(const std::string& realRoot, const std::string& realPath) {
    if (realRoot.empty() || realPath.empty() || realPath.size() < realRoot.size()) {
        return false;
    }
    for (size_t i = 0; i < realRoot.size(); ++i) {
        if (FoldCase(realRoot[i]) != FoldCase(realPath[i])) {
            return false;
        }
    }
    return realPath.size() == realRoot.size() || IsSeparator(realRoot.back()) ||
           IsSeparator(realPath[realRoot.size()]);
}

std::string RealPath(std::FILE* file) {
    return FinalPath(HandleOf(::_fileno(file)));
}

int64_t FileSize(std::FILE* file) {
    LARGE_INTEGER size{};
    return ::GetFileSizeEx(HandleOf(::_fileno(file)), &size) ? static_cast<int64_t>(size.QuadPart)
                                                             : -1;
}

std::FILE* OpenRegularFileForRead(const std::string& path) {
    int err = 0;
    HANDLE h = OpenRegularHandle(path, GENERIC_READ, OPEN_EXISTING, 0, /*noFollow=*/false, &err);
    if (h == INVALID_HANDLE_VALUE) {
        errno = err;
        return nullptr;
    }
    int fd = DescriptorOf(h, _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        errno = EMFILE;
        return nullptr;
    }
    std::FILE* f = ::_fdopen(fd, "rb");
    if (f == nullptr) {
        int saved = errno;
        ::_close(fd);
        errno = saved;
    }
    return f;
}

std::string RealPath(const std::string& path, int* error) {
    HANDLE h = QueryHandle(path, error);
    if (h == INVALID_HANDLE_VALUE) {
        return "";
    }
    std::string real = FinalPath(h);
    ::CloseHandle(h);
    if (real.empty() && error) {
        *error = ENOENT;
    }
    return real;
}

bool IsDirectory(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool PathExists(const std::string& path) {
    return ::GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

int64_t PathSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data)) {
        return -1;
    }
    return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

int64_t FreeDiskBytes(const std::string& path) {
    std::string folder = path;
    if (!IsDirectory(folder)) {
        const size_t slash = LastSeparator(folder);
        folder = slash == std::string::npos ? "." : folder.substr(0, slash + 1);
    }
    ULARGE_INTEGER available{};
    if (!::GetDiskFreeSpaceExW(Wide(folder).c_str(), &available, nullptr, nullptr)) {
        return -1;
    }
    return static_cast<int64_t>(available.QuadPart);
}

std::string SystemErrorText(int err) {
    char buf[512] = {};
    return ::strerror_s(buf, sizeof buf, err) == 0 ? buf : "";
}

std::string ExecutablePath() {
    return RunningFilePath();
}

std::string RunningFilePath() {
    std::wstring buf(MAX_PATH, L'\0');
    // Bounded: the longest path Windows has is 32,767 characters.
    while (buf.size() <= 32768) {
        DWORD n = ::GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) {
            return "";
        }
        if (n < buf.size()) {
            buf.resize(n);
            return win32::Utf8(buf);
        }
        buf.assign(buf.size() * 2, L'\0');
    }
    return "";
}

namespace {

// Whether a file can be made in `dir`: the only sure test, since Program Files' access rules,
// its virtualisation and a read-only share all say no in different ways.
bool FolderTakesFiles(const std::string& dir) {
    const std::wstring probe = win32::Wide(dir + "\\.orvane-write-test");
    HANDLE h = ::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        // A probe left by a crashed run still proves the folder took a file.
        return ::GetLastError() == ERROR_FILE_EXISTS;
    }
    ::CloseHandle(h);
    return true;
}

std::string FindSettingsDir() {
    const std::string own = ExecutableDir();
    if (FolderTakesFiles(own)) {
        return own;
    }
    PWSTR base = nullptr;
    std::string dir;
    if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_CREATE, nullptr, &base))) {
        dir = win32::Utf8(std::wstring(base)) + "\\Orvane";
        ::CreateDirectoryW(win32::Wide(dir).c_str(), nullptr);
    }
    ::CoTaskMemFree(base);
    return dir.empty() ? own : dir;
}

}  // namespace

// Asked once: the answer holds for the process's life, and every setting read asks.
std::string SettingsDir() {
    static const std::string dir = FindSettingsDir();
    return dir;
}

std::string ExecutableDir() {
    const std::string path = ExecutablePath();
    const size_t slash = LastSeparator(path);
    if (path.empty() || slash == std::string::npos) {
        return ".";
    }
    return path.substr(0, slash);
}

long ReadFileAt(std::FILE* file, uint64_t offset, void* buf, size_t len) {
    int error = 0;
    long n = ReadAtOffset(HandleOf(::_fileno(file)), offset, buf, len, &error);
    if (n < 0) {
        errno = error;
    }
    return n;
}

}  // namespace orvane::platform
