// Text and paths between the simulator's UTF-8 strings and the Windows API's
// UTF-16, and the system's reason for a failed call. Used only by the Windows
// halves in sim/platform/; keeps <windows.h> out of every header.
#pragma once

#include <string>

namespace sim::platform {

// False when `utf8` is not valid UTF-8.
bool WideFromUtf8(const std::string& utf8, std::wstring& wide);
std::string Utf8FromWide(const std::wstring& wide);
// FormatMessage's text for a Windows error code, with the code: "The
// specified module could not be found (error 126)".
std::string SystemErrorText(unsigned long code);
// The folder of the running executable, with a trailing backslash; empty when
// it cannot be found.
std::wstring ExecutableFolder();

}  // namespace sim::platform
