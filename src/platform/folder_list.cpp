#include "platform/folder_list.h"

#include <dirent.h>
#include <sys/stat.h>

#include <memory>

namespace orvane::platform {

namespace {

struct DirCloser {
    void operator()(DIR* d) const { closedir(d); }
};

bool IsDirectoryEntry(const std::string& folder, const dirent& e) {
    if (e.d_type == DT_DIR) {
        return true;
    }
    if (e.d_type != DT_UNKNOWN && e.d_type != DT_LNK) {
        return false;
    }
    struct stat st {};
    std::string full = folder + "/" + e.d_name;
    return ::stat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

bool ListFolder(const std::string& path, std::vector<FolderEntry>* entries) {
    entries->clear();
    std::unique_ptr<DIR, DirCloser> dir(::opendir(path.c_str()));
    if (!dir) {
        return false;
    }
    while (const dirent* e = ::readdir(dir.get())) {
        entries->push_back(FolderEntry{e->d_name, IsDirectoryEntry(path, *e)});
    }
    return true;
}

}  // namespace orvane::platform
