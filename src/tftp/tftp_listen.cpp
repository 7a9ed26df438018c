#include "tftp/tftp_listen.h"

#include "platform/file.h"
#include "support/log.h"
#include "tftp/tftp_settings.h"

namespace orvane {

namespace {

void LogNotAvailable(int code, const std::string& text, const std::string& bind) {
    WriteLog(kLogMajor,
             "Error %d\n%s\n\nOrvane tried to bind the %s port\nto the interface %s\nwhich is not "
             "available for this host\nEither remove the %s service or suppress %s interface "
             "assignation",
             code, text.c_str(), "tftp", bind.c_str(), "tftp", bind.c_str());
}

}  // namespace

std::string TftpSystemText(int err) {
    std::string text = platform::SystemErrorText(err).substr(0, 511);
    size_t cr = text.find('\r');
    return cr == std::string::npos ? text : text.substr(0, cr);
}

bool CreateTftpListeningSocket(const std::string& bindAddress, int port,
                               platform::UdpSocket* sock) {
    const std::string service = port == TftpConfig::kPort ? "tftp" : std::to_string(port);
    const bool byAddress = !bindAddress.empty();
    platform::ResolveResult resolved =
        platform::ResolvePassive(byAddress ? bindAddress.c_str() : nullptr, service.c_str());
    if (resolved.iError != 0) {
        if (resolved.bHostNotFound) {
            LogNotAvailable(resolved.iError, resolved.szText, bindAddress);
        } else {
            WriteLog(kLogMajor, "Error : Can't create socket\nError %d (%s)", resolved.iError,
                     resolved.szText.c_str());
        }
        return false;
    }
    if (!sock->OpenLike(resolved.address)) {
        WriteLog(kLogMajor, "Error : Can't create socket\nError %d (%s)", sock->LastError(),
                 TftpSystemText(sock->LastError()).c_str());
        return false;
    }
    if (sock->SetReuseAddress()) {
        WriteLog(kLogInfo, "Port %d may be reused", resolved.address.Port());
    } else {
        WriteLog(kLogInfo, "setsockopt error");
    }
    if (resolved.address.IsIPv6()) {
        sock->SetIPv6Only(false);  // a wildcard IPv6 socket then serves IPv4 clients too
    }
    sock->SetNonBlocking(true);
    if (!sock->Bind(resolved.address)) {
        const int err = sock->LastError();
        switch (platform::ClassifySocketError(err)) {
            case platform::SocketErrorKind::kInvalid:
            case platform::SocketErrorKind::kAddressInUse:
                WriteLog(kLogMajor,
                         "Error %d\n%s\n\nOrvane can not bind the %s port\nan application is "
                         "already listening on this port",
                         err, TftpSystemText(err).c_str(), "tftp");
                break;
            case platform::SocketErrorKind::kAddressNotAvailable:
                LogNotAvailable(err, TftpSystemText(err), bindAddress);
                break;
            default:
                WriteLog(kLogMajor, "Bind error %d\n%s", err, TftpSystemText(err).c_str());
                break;
        }
        sock->Close();
        WriteLog(kLogMajor, "bind port to %s port %s failed\n",
                 resolved.address.NumericHost().c_str(), resolved.address.NumericPort().c_str());
        return false;
    }
    return true;
}

}  // namespace orvane
