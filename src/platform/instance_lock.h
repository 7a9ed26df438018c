#pragma once

#include <string>

namespace orvane::platform {

// An exclusive advisory lock on a file, held for as long as the object lives (or until the
// process ends or executes another program: the descriptor is close-on-exec).
class InstanceLock {
  public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Creates `path` when absent and takes the lock without waiting. False when another
    // process holds it, when the file cannot be created or locked, or when `path` is a symbolic
    // link or anything but a regular file of the calling user.
    bool TryAcquire(const std::string& path);
    bool IsHeld() const { return m_iFd >= 0; }
    // Lets the lock go before the object ends (a restart hands it to the instance it starts).
    void Release();

  private:
    int m_iFd = -1;
};

// Folder for this login's runtime files: $XDG_RUNTIME_DIR, else $TMPDIR, else /tmp. For root
// only a folder that root alone can write counts, else /run.
std::string RuntimeDir();

}  // namespace orvane::platform
