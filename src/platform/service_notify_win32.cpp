#include "platform/service_notify.h"

namespace orvane::platform {

// No service manager of this kind on Windows: there is nobody to tell.
bool NotifyServiceManager(const char*) {
    return true;
}

}  // namespace orvane::platform
