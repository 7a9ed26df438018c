#pragma once

// Helpers shared by the Windows side of the platform seam only: the rest of the program keeps
// UTF-8 in std::string, and every Win32 call here takes the wide-character form.

#include <string>

namespace orvane::platform::win32 {

std::wstring Wide(const std::string& utf8);
std::string Utf8(const std::wstring& wide);
std::string Utf8(const wchar_t* wide, size_t length);

// The system's text for a Win32 or Winsock error code, in UTF-8, without the trailing line end.
std::string ErrorText(unsigned long code);

// The errno value that the rest of the program branches on for a Win32 file error (ENOENT for
// a missing file, EACCES for a refused one...); EIO when no closer value exists.
int ErrnoFromWin32(unsigned long code);

// Starts Winsock 2.2 once for the process (the sockets layer's start; it is never stopped, as
// the process's end stops it).
void EnsureWinsock();

}  // namespace orvane::platform::win32
