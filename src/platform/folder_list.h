#pragma once

#include <string>
#include <vector>

namespace orvane::platform {

struct FolderEntry {
    std::string szName;
    bool bDirectory = false;  // a symbolic link counts as what it points to
};

// Lists `path` in the order the file system returns its entries, "." and ".." included.
// False (and no entries) when the folder cannot be opened.
bool ListFolder(const std::string& path, std::vector<FolderEntry>* entries);

}  // namespace orvane::platform
