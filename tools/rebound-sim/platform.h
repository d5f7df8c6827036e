// What rebound-sim does differently on Linux and on Windows, behind small
// functions: platform_posix.cpp and platform_windows.cpp, one of which CMake
// builds. The rest of the program is the same on both.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

namespace rebound_sim::platform {

// Whether a loaded plug-in can take its seeds from the run. The Windows
// plug-in (Rebound.asi) exports nothing, so there it never can.
bool PluginCanBeSeeded();

// Ends the program with `status`, its standard streams flushed, without the
// modules it loaded seeing the process end: a plug-in whose script crashed
// is left loaded, and its detach (DllMain at the process's end on Windows,
// its static destructors on Linux) would run the crashed plug-in's code
// again.
[[noreturn]] void EndWithoutDetach(int status);

// Whether standard error is a terminal (the progress line is drawn there).
bool StandardErrorIsTerminal();

// Standard output writes lines ending in \n, on Windows too (not \r\n).
void WriteStandardOutputAsBinary();

// Whether `path` names the same open file as the process's standard output
// (/dev/stdout, /proc/self/fd/1, the terminal it prints to); false where the
// platform cannot tell.
bool IsSameAsStandardOutput(const std::filesystem::path& path);

// Creates a temporary named after `name` in `folder`, for the content of
// `target`, and opens `file` on it. The temporary gets the permissions
// `target` has, or a new file's. False, with `reason` set and nothing left
// behind, when it cannot.
bool OpenTemporary(const std::filesystem::path& folder, const std::string& name,
                   const std::filesystem::path& target, std::ofstream& file,
                   std::filesystem::path& temp, std::string& reason);

// Removes a file from a signal handler: allocates nothing, takes no lock.
void RemoveFileInSignalHandler(const char* path);

// Sends the platform's other signals that end a program from its terminal
// (SIGHUP, where there is one) to `handler` too.
void CatchHangUp(void (*handler)(int));

}  // namespace rebound_sim::platform
