#pragma once

namespace orvane::platform {

// Tells the service manager that started this process about its state ("READY=1",
// "STOPPING=1", "STATUS=..." lines), with one datagram to the socket that NOTIFY_SOCKET names:
// a path, or an abstract address when it begins with '@'. Does nothing when NOTIFY_SOCKET is
// unset, so a program started any other way is unaffected. False when it is set but the
// datagram could not be sent.
bool NotifyServiceManager(const char* state);

}  // namespace orvane::platform
