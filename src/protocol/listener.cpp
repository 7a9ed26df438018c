// The device listener on port 10011, the request workers it starts, and the reply sender.
#include <cerrno>
#include <cstring>

#include "platform/udp_socket.h"
#include "protocol/orvane_engine.h"
#include "protocol/service_view.h"
#include "support/language.h"
#include "support/log.h"

namespace orvane {

namespace {
constexpr int kListenWaitMs = 2000;
constexpr int kBindFailedText = 165;
}  // namespace

int OrvaneEngine::ListenIPCPortProc() {
    platform::UdpSocket sock;
    if (!sock.Open()) {
        WriteLog(kLogMajor, "ListenIPCPortProc socket failed,return -4");
        SetListenState(-1);
        return -4;
    }
    platform::Endpoint local;
    bool bound = sock.SetNonBlocking(true) && sock.SetReuseAddress() &&
                 platform::Endpoint::Parse(m_szLocalIP, kListenPort, &local) && sock.Bind(local);
    if (!bound) {
        WriteLog(kLogMajor, "ListenIPCPortProc bind error, iRet=%d, WSAGetLastError=%d", -1,
                 sock.LastError());
        sock.Close();
        SetListenState(-1);
        m_view.ShowErrorText(kBindFailedText);
        return -3;
    }
    SetListenState(1);

    char szRecvBuf[kMaxDatagram];
    while (m_bStartUpgrade.load()) {
        int ready = sock.WaitReadable(kListenWaitMs);
        if (ready < 0) {
            WriteLog(kLogMajor, "ListenIPCPortProc select iRet=%d,WSAGetLastError=%d", ready,
                     errno);
            continue;
        }
        if (ready == 0) {
            continue;
        }
        std::memset(szRecvBuf, 0, sizeof szRecvBuf);
        // One byte stays zero so the text is always terminated; a longer datagram is cut.
        long n = sock.ReceiveFrom(szRecvBuf, sizeof szRecvBuf - 1, nullptr);
        if (n <= 0) {
            WriteLog(kLogMajor, "ListenIPCPortProc recvfrom error, iRet=%d, WSAGetLastError=%d",
                     ready, n < 0 ? sock.LastError() : 0);
            continue;
        }
        WriteLog(kLogInfo, "#QMDebug ListenIPCPortProc recvfrom szRecvBuf=%s", szRecvBuf);
        if (m_bPauseTest.load()) {
            WriteLog(kLogInfo, "#QMDebug m_bPauseTest = true, continue");
            continue;
        }

        if (IsRequestMsg(szRecvBuf)) {
            auto info = std::make_unique<ThreadInfo>();
            info->running = 1;
            info->owner = this;
            std::memcpy(info->text, szRecvBuf, sizeof info->text);
            info->sequence = ++m_iRequestSeq;
            ThreadInfo* raw = info.get();
            // The record goes into the list before the thread starts, so the worker never
            // runs on a record nobody owns; the clean-up thread skips it while running is 1.
            std::lock_guard<std::mutex> lock(m_csWorkerList);
            if (!raw->thread.Start([this, raw] { return RequestIpMsgProc(raw); })) {
                WriteLog(kLogMajor, "Create RequestIpMsgProc Thread fail");
                continue;
            }
            raw->thread.SetHighestPriority();
            WriteLog(kLogInfo, "Create RequestIpMsgProc Thread, handle %p",
                     static_cast<void*>(raw));
            m_listWorkers.push_back(std::move(info));
        } else {
            auto param = std::make_unique<MsgParam>();
            param->owner = this;
            std::memcpy(param->szRecvBuf, szRecvBuf, kMaxDatagram - 1);
            WriteLog(kLogInfo,
                     "#QMDebug ListenIPCPortProc Begin PostThreadMessage(WM_OTHRE_MSG), "
                     "pMsgParam.szRecvBuf=%s",
                     param->szRecvBuf);
            if (!PostDispatchMessage(WM_OTHRE_MSG, std::move(param))) {
                WriteLog(kLogGeneral, "PostThreadMessage fail");
            }
        }
    }
    sock.Close();
    WriteLog(kLogInfo, "end ListenIPCPortProc");
    return 0;
}

int OrvaneEngine::RequestIpMsgProc(ThreadInfo* info) {
    SetThreadUiLanguage(g_iLanguage == kLanguageChinese ? kLanguageChinese : kLanguageEnglish);
    const std::string text(info->text);
    const int seq = info->sequence;
    if (text.empty()) {
        WriteLog(kLogInfo, "*%d* Enter RequestIpMsgProc!", seq);
    } else {
        WriteLog(kLogInfo, "*%d* Enter RequestIpMsgProc,message %s!", seq, text.c_str());
    }
    if (IsRequestMsg(text)) {
        RequestIpaddrProc(text, seq);
        info->running = 0;  // last access to the record
        return 0;
    }
    WriteLog(kLogGeneral, "*%d* RequestIpMsgProc pMsgType not Request_ipaddr", seq);
    info->running = 0;
    return -3;
}

int OrvaneEngine::SendToIPC(const char* text, size_t len) {
    platform::UdpSocket sock;
    if (!sock.Open()) {
        return -1;
    }
    platform::Endpoint local;
    if (!sock.SetBroadcast() || !platform::Endpoint::Parse(m_szLocalIP, 0, &local) ||
        !sock.Bind(local)) {
        return -2;
    }
    sock.SetNonBlocking(true);
    const platform::Endpoint broadcast{0xFFFFFFFFu, kReplyPort};
    sock.SendTo(text, len + 1, broadcast);  // the text and its NUL; the outcome is not examined
    return 0;
}

}  // namespace orvane
