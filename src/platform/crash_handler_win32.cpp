#include "platform/crash_handler.h"

#include <windows.h>
// dbghelp.h needs windows.h first.
#include <dbghelp.h>

#include <csignal>
#include <cwchar>

#include "platform/win32_util.h"

// A crash leaves a real minidump, CrashDir\YYYY-MM-DD\YYYYMMDD_HHMMSS.dmp in local time, written
// by the unhandled-exception filter, and for an abort (which raises no exception) by the abort
// signal's handler with the context of that moment.

namespace orvane::platform {

namespace {

constexpr size_t kMaxDir = MAX_PATH - 32;  // room for "\YYYY-MM-DD\YYYYMMDD_HHMMSS.dmp"

wchar_t g_szCrashDir[MAX_PATH];
LONG g_iHandling = 0;

struct DumpJob {
    EXCEPTION_POINTERS* exception;
    DWORD threadId;
};

void WriteDump(EXCEPTION_POINTERS* exception, DWORD threadId) {
    SYSTEMTIME t{};
    ::GetLocalTime(&t);
    wchar_t dayDir[MAX_PATH];
    wchar_t file[MAX_PATH];
    std::swprintf(dayDir, MAX_PATH, L"%ls\\%04u-%02u-%02u", g_szCrashDir, t.wYear, t.wMonth,
                  t.wDay);
    std::swprintf(file, MAX_PATH, L"%ls\\%04u%02u%02u_%02u%02u%02u.dmp", dayDir, t.wYear, t.wMonth,
                  t.wDay, t.wHour, t.wMinute, t.wSecond);
    ::CreateDirectoryW(g_szCrashDir, nullptr);  // an existing folder is fine
    ::CreateDirectoryW(dayDir, nullptr);
    HANDLE h = ::CreateFileW(file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                             nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return;
    }
    MINIDUMP_EXCEPTION_INFORMATION info{};
    info.ThreadId = threadId;
    info.ExceptionPointers = exception;
    info.ClientPointers = FALSE;
    ::MiniDumpWriteDump(::GetCurrentProcess(), ::GetCurrentProcessId(), h,
                        static_cast<MINIDUMP_TYPE>(MiniDumpNormal | MiniDumpWithThreadInfo),
                        exception ? &info : nullptr, nullptr, nullptr);
    ::CloseHandle(h);
}

// On a thread of its own: the crashed thread's stack may be the thing that overflowed.
DWORD WINAPI RunDump(void* arg) {
    const auto* job = static_cast<const DumpJob*>(arg);
    WriteDump(job->exception, job->threadId);
    return 0;
}

void DumpFromAnotherThread(EXCEPTION_POINTERS* exception) {
    if (::InterlockedExchange(&g_iHandling, 1) != 0) {
        ::Sleep(10000);  // another thread writes the record and ends the process
        return;
    }
    DumpJob job{exception, ::GetCurrentThreadId()};
    HANDLE thread = ::CreateThread(nullptr, 0, RunDump, &job, 0, nullptr);
    if (thread == nullptr) {
        WriteDump(exception, job.threadId);
        return;
    }
    ::WaitForSingleObject(thread, 60000);
    ::CloseHandle(thread);
}

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* exception) {
    DumpFromAnotherThread(exception);
    return EXCEPTION_CONTINUE_SEARCH;  // the system ends the process as it would have
}

void OnAbort(int) {
    CONTEXT context{};
    ::RtlCaptureContext(&context);
    EXCEPTION_RECORD record{};
    record.ExceptionCode = STATUS_FATAL_APP_EXIT;
    record.ExceptionAddress = reinterpret_cast<void*>(context.Rip);
    EXCEPTION_POINTERS pointers{&record, &context};
    DumpFromAnotherThread(&pointers);
    ::TerminateProcess(::GetCurrentProcess(), 3);  // abort's own exit status
}

}  // namespace

bool InstallCrashHandler(const std::string& crashDir) {
    const std::wstring dir = win32::Wide(crashDir);
    if (dir.empty() || dir.size() >= kMaxDir) {
        return false;
    }
    std::wmemcpy(g_szCrashDir, dir.c_str(), dir.size() + 1);
    for (wchar_t& c : g_szCrashDir) {
        c = c == L'/' ? L'\\' : c;
    }
    // Load the debug help library now: the filter must not depend on a load that may fail.
    ::LoadLibraryW(L"dbghelp.dll");
    ::SetUnhandledExceptionFilter(OnUnhandledException);
    // No "report this problem" box: the record is written and the process ends.
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    return std::signal(SIGABRT, OnAbort) != SIG_ERR;
}

}  // namespace orvane::platform
