#include "platform/system_proxy.h"

namespace orvane::platform {

SystemProxy GetSystemProxy() {
    return {};
}

}  // namespace orvane::platform
