#include "app/upgrade_folder_check.h"

#include <filesystem>

#include "platform/file.h"
#include "support/language.h"

namespace orvane {

namespace {

namespace fs = std::filesystem;

// Refused with everything beneath them: the system keeps its programs, settings, devices and
// run-time state there, and no operator keeps firmware there.
const char* const kSystemTrees[] = {"/bin", "/boot", "/dev", "/etc", "/proc",
                                    "/run", "/sbin", "/sys", "/usr"};
// Refused themselves only: the folders below them are where operators keep their files (a
// service's state under /var/lib, a user's home, root's own checkout in /root).
const char* const kSystemFolders[] = {"/", "/var", "/home", "/root"};

bool IsInside(const std::string& path, const std::string& tree) {
    return path == tree || (path.size() > tree.size() && path.compare(0, tree.size(), tree) == 0 &&
                            path[tree.size()] == '/');
}

// "/lib", "/lib32", "/lib64", "/libx32" and whatever else the system names so, with their trees.
bool IsInsideLibrary(const std::string& path) {
    return path.compare(0, 4, "/lib") == 0;
}

bool IsSystemPath(const std::string& path) {
    for (const char* folder : kSystemFolders) {
        if (path == folder) {
            return true;
        }
    }
    for (const char* tree : kSystemTrees) {
        if (IsInside(path, tree)) {
            return true;
        }
    }
    return IsInsideLibrary(path);
}

// The absolute path with every symbolic link of its existing part resolved; empty when it
// cannot be formed.
std::string ResolvedPath(const std::string& folder) {
    std::error_code ec;
    fs::path resolved = fs::weakly_canonical(fs::absolute(platform::FsPath(folder), ec), ec);
    if (ec) {
        return "";
    }
    std::string text = platform::FsString(resolved.lexically_normal());
    while (text.size() > 1 && text.back() == '/') {
        text.pop_back();
    }
    return text;
}

}  // namespace

FolderRefusal CheckUpgradeFolder(const std::string& folder) {
    const std::string resolved = ResolvedPath(folder);
    if (resolved.empty()) {
        return FolderRefusal::kNotAFolder;
    }
    if (IsSystemPath(resolved)) {
        return FolderRefusal::kSystemFolder;
    }
    std::error_code ec;
    return fs::is_directory(platform::FsPath(resolved), ec) ? FolderRefusal::kNone
                                                            : FolderRefusal::kNotAFolder;
}

FolderRefusal PrepareUpgradeFolder(const std::string& folder) {
    const FolderRefusal before = CheckUpgradeFolder(folder);
    if (before != FolderRefusal::kNotAFolder) {
        return before;
    }
    std::error_code ec;
    if (!fs::exists(platform::FsPath(folder), ec)) {
        fs::create_directory(platform::FsPath(folder),
                             ec);  // one level; a failure shows in the check below
    }
    return CheckUpgradeFolder(folder);
}

std::string FolderRefusalText(FolderRefusal refusal, const std::string& folder) {
    const bool chinese = g_iLanguage == kLanguageChinese;
    switch (refusal) {
        case FolderRefusal::kSystemFolder:
            return chinese
                       ? "升级文件目录 " + folder + " 是系统目录，不能提供给设备，请选择其他目录"
                       : "The upgrade file directory " + folder +
                             " is a system folder and is not served to devices; choose "
                             "another directory";
        case FolderRefusal::kNotAFolder:
            return chinese ? "升级文件目录 " + folder + " 不是目录，也无法创建，请选择其他目录"
                           : "The upgrade file directory " + folder +
                                 " is not a directory and cannot be created; choose another "
                                 "directory";
        case FolderRefusal::kNone:
            break;
    }
    return "";
}

}  // namespace orvane
