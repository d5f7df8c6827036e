// Text and paths between the simulator's narrow strings and the Windows API's
// UTF-16, and the system's reason for a failed call. Used only by the Windows
// halves in sim/platform/; keeps <windows.h> out of every header.
//
// Narrow strings are in the process's ANSI code page, as the command line and
// the C runtime's file functions take them. rebound-sim.exe's manifest sets
// that code page to UTF-8 (rebound-sim.exe.manifest); where Windows ignores
// the manifest (before Windows 10 1903) it is the legacy code page, and the
// conversions here still agree with the command line.
#pragma once

#include <string>

namespace sim::platform {

// False when `narrow` is not valid in the ANSI code page.
bool WideFromNarrow(const std::string& narrow, std::wstring& wide);
std::string NarrowFromWide(const std::wstring& wide);
// FormatMessage's text for a Windows error code, with the code: "The
// specified module could not be found (error 126)".
std::string SystemErrorText(unsigned long code);
// The folder of the running executable, with a trailing backslash; empty when
// it cannot be found.
std::wstring ExecutableFolder();

}  // namespace sim::platform
