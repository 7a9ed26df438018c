#pragma once

#include <string>

namespace orvane::test {

// Stands in for the service manager: a datagram socket bound to a NOTIFY_SOCKET-style name (a
// path, or '@' and a name in the abstract namespace).
class NotifyReceiver {
  public:
    explicit NotifyReceiver(const std::string& name);
    ~NotifyReceiver();
    NotifyReceiver(const NotifyReceiver&) = delete;
    NotifyReceiver& operator=(const NotifyReceiver&) = delete;

    bool Bound() const { return m_bBound; }

    // The next datagram, or "(none)" when nothing comes within timeoutMs.
    std::string Receive(int timeoutMs);

  private:
    int m_iFd = -1;
    bool m_bBound = false;
};

}  // namespace orvane::test
