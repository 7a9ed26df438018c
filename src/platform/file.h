#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

namespace orvane::platform {

// Which file a path names (links followed): the same file under another name, through a
// link or in another letter case has the same identity.
struct FileIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
    bool operator==(const FileIdentity& o) const { return device == o.device && inode == o.inode; }
};
// False (and `out` untouched) when the path names nothing.
bool IdentifyFile(const std::string& path, FileIdentity* out);

// A file as it is at one moment: which file, its size and when its content and its metadata
// last changed. Another file under the same name, or the same file written in place, has
// another version (the change time cannot be set back by a writer, as the modification time
// can).
struct FileVersion {
    FileIdentity id;
    int64_t size = -1;
    int64_t modifiedNs = 0;
    int64_t changedNs = 0;
    bool operator==(const FileVersion& o) const {
        return id == o.id && size == o.size && modifiedNs == o.modifiedNs &&
               changedNs == o.changedNs;
    }
    bool operator!=(const FileVersion& o) const { return !(*this == o); }
};
// The version of what an open stream reads; false when it cannot be found.
bool VersionOfStream(std::FILE* file, FileVersion* out);

// A file opened for appending lines that other processes may read meanwhile.
class AppendFile {
  public:
    AppendFile() = default;
    ~AppendFile();
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    // Opens for writing, creating the file if absent and keeping its contents. Only the
    // name's own regular file is taken: a symbolic link as the last name (ELOOP), a folder
    // (EISDIR), a pipe or a device (EINVAL) is refused, and opening never blocks.
    bool OpenAlways(const std::string& path);
    // Whether `path` still names the file that is open (false once it was removed, renamed
    // or replaced on disk, or when nothing is open).
    bool IsStillAt(const std::string& path) const;
    bool SeekEnd();
    bool Write(const void* data, size_t len);
    // Appends all `len` bytes or none: after a short write (a full disk) the file is cut back
    // to where it ended, so no part of them stays for the next write to join. False with
    // LastError() set when they are not there.
    bool AppendWhole(const void* data, size_t len);
    // Pushes what was written to the disk.
    bool Flush();
    void Close();
    int LastError() const { return m_iLastError; }

  private:
    int m_iFd = -1;
    int m_iLastError = 0;
};

// A regular file read at offsets or written in sequence; closes itself. Failures return
// false / -1 and leave the errno in LastError().
class DataFile {
  public:
    DataFile() = default;
    ~DataFile();
    DataFile(const DataFile&) = delete;
    DataFile& operator=(const DataFile&) = delete;

    // Opens an existing regular file for reading. A folder, a device or a pipe is refused
    // (EISDIR or EINVAL) and never blocks the caller.
    bool OpenRead(const std::string& path);
    // Opens for writing, creating the file when absent; an existing file keeps its content
    // until Truncate. A symbolic link as the last name is refused (ELOOP), so what is opened is
    // always the name's own file.
    bool OpenWrite(const std::string& path);
    bool IsOpen() const { return m_iFd >= 0; }
    void Close();

    bool Truncate();
    int64_t Size() const;
    // Bytes read at `offset` (less only at the end of the file), or -1.
    long ReadAt(int64_t offset, void* buf, size_t len);
    bool Write(const void* data, size_t len);
    // The canonical path of what is open (symbolic links resolved); empty when unknown.
    std::string RealPath() const;
    // The version of what is open; false when nothing is, or it cannot be found.
    bool Version(FileVersion* out) const;

    int LastError() const { return m_iLastError; }

  private:
    int m_iFd = -1;
    int m_iLastError = 0;
};

// Gives `from` the name `to`, replacing a file of that name (Windows' C rename refuses to).
bool RenameOver(const std::string& from, const std::string& to);

// The temporary name of a ReplacementFile: the prefix, a number, the suffix.
constexpr const char* kUploadTempPrefix = ".upload-";
constexpr const char* kUploadTempSuffix = ".part";
// Whether a file name (without its folder) has the form of such a temporary name, in any
// letter case.
bool IsReplacementTempName(const std::string& name);
// The prefix of a cloud download's temporary name (a number and kUploadTempSuffix follow).
constexpr const char* kDownloadTempPrefix = ".orvane-download-";
// Whether a file name (without its folder) is a temporary file of the program's own, an
// upload's or a cloud download's, in any letter case.
bool IsProgramTempName(const std::string& name);

// Whether a path below a served folder (either separator) names something other than the
// file it spells on this system: on Windows a device in any folder and with any extension
// (CON, NUL.bin, COM1.txt), a stream (a.bin:x, a.bin::$DATA), or a part ending in a dot or a
// space, which the system drops (so "Config.ini." opens Config.ini). Never on Linux.
bool IsReservedPathName(const std::string& path);

// std::filesystem and the file streams take a narrow name in the system's code page on
// Windows, while the program's strings are UTF-8 (a folder named in Chinese): every path goes
// in through FsPath and comes back through FsString.
inline std::filesystem::path FsPath(const std::string& utf8) {
    return std::filesystem::u8path(utf8);
}
inline std::string FsString(const std::filesystem::path& path) {
    return path.u8string();
}

// A file written under a temporary name in the folder of the file it replaces, and put in that
// file's place by one rename only at Commit: a reader of the old file keeps reading it whole,
// and a write that fails or is abandoned leaves nothing behind. The temporary name begins
// with "." and never ends in ".bin". Closes (and discards) itself.
class ReplacementFile {
  public:
    ReplacementFile() = default;
    ~ReplacementFile();
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    // Creates the temporary file beside `target`. Refused when `target` exists as anything
    // but a writable regular file (ELOOP for a symbolic link, EISDIR, EINVAL, EACCES).
    bool Open(const std::string& target);
    bool IsOpen() const { return m_iFd >= 0; }
    bool Write(const void* data, size_t len);
    // The canonical path of the folder the file lands in; empty when unknown.
    std::string RealFolder() const;
    // Pushes the data to the disk and renames the file over the target; on failure the
    // temporary file is removed and the target left as it was.
    bool Commit();
    // Removes the temporary file; nothing once committed.
    void Discard();

    int LastError() const { return m_iLastError; }

  private:
    int m_iDirFd = -1;  // the target's folder: every later step is relative to this folder
    int m_iFd = -1;
    std::string m_szFolder;  // where no folder descriptor exists (Windows), the folder's path
    std::string m_szTempName;
    std::string m_szTargetName;
    int m_iLastError = 0;
};

// Files of this size or more are neither served nor catalogued: a transfer keeps sizes and
// offsets in 32 bits.
constexpr int64_t kMaxServedFileSize = int64_t{1} << 31;

// Whether the canonical `realPath` is the canonical `realRoot` or lies below it.
bool IsPathInsideRoot(const std::string& realRoot, const std::string& realPath);

// Opens an existing regular file for reading as a binary stdio stream. Null for anything else
// (a folder, a pipe, a device) with the errno set: opening never blocks, as a pipe without a
// writer would.
std::FILE* OpenRegularFileForRead(const std::string& path);

// The canonical absolute path of an existing file or folder (links resolved); empty when it
// does not exist. The errno is kept in `error` when given.
std::string RealPath(const std::string& path, int* error = nullptr);
// The canonical path and the size of what an open stream reads; empty and -1 when unknown.
std::string RealPath(std::FILE* file);
int64_t FileSize(std::FILE* file);

bool IsDirectory(const std::string& path);

// Whether anything (a link too, even a dangling one) has this name.
bool PathExists(const std::string& path);

// Size of the file at `path` in bytes; -1 when it cannot be read.
int64_t PathSize(const std::string& path);

// Bytes an unprivileged writer may still put on the file system that holds `path`; -1 when
// unknown.
int64_t FreeDiskBytes(const std::string& path);

// Text of a system error code.
std::string SystemErrorText(int err);

// The program's folder, without a trailing separator: ExecutablePath's.
std::string ExecutableDir();
// The folder the program keeps Config.ini (and crash records) in by default: its own folder,
// except on Windows where that folder is not writable (Program Files for a user who is not an
// administrator): there the user's local application data folder's Orvane, made when missing.
std::string SettingsDir();
// The program's path as its users know it (links resolved): the orvane command's when it ran
// this process (LauncherPath), else the running file's; empty when unknown.
std::string ExecutablePath();
// The running file's own path (links resolved), whoever started it; empty when unknown.
std::string RunningFilePath();

// Reads up to `len` bytes at `offset` of an open stream without moving it, so several threads
// may read their own parts of one file at once. The bytes read (less only at the end of the
// file), or -1 with the errno set.
long ReadFileAt(std::FILE* file, uint64_t offset, void* buf, size_t len);

}  // namespace orvane::platform
