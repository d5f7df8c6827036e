// The recording build's system pieces on Windows (Rebound-recorder.asi):
// settings from the environment, the file, the writer thread, and the file
// versions of the host DLL and of the game. Everything here uses kernel32
// alone and fixed buffers, never the heap of its own accord: the writer
// thread may be terminated at an unload, and must hold no lock then.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdint>

#include "src/recorder/system.h"

namespace rebound::recorder::platform {

namespace {

// The host's scriptWait as this module imports it: the value of the import
// address table's slot, which the loader filled with the function's address
// in the host DLL. (Read by name in assembly: as a C++ extern the compiler
// would reach the slot through an indirection of its own, whose name the
// decorated one breaks.)
const void* HostScriptWaitAddress() {
  const void* address = nullptr;
#if defined(__clang__)
  __asm__("movq __imp_?scriptWait@@YAXK@Z(%%rip), %0" : "=r"(address));
#else
  __asm__("movq \"__imp_?scriptWait@@YAXK@Z\"(%%rip), %0" : "=r"(address));
#endif
  return address;
}

}  // namespace

}  // namespace rebound::recorder::platform

namespace rebound::recorder::platform {

namespace {

constexpr DWORD kPathChars = 32768;

// ==== The platform half's state =========================================================
struct WindowsState {
  HMODULE module = nullptr;
  wchar_t givenFolder[kPathChars] = {};  // REBOUND_RECORDING_DIR, empty when not set
  wchar_t path[kPathChars] = {};         // scratch for paths
  HANDLE file = INVALID_HANDLE_VALUE;
  HANDLE thread = nullptr;
  void (*threadMain)() = nullptr;
};
WindowsState windows;

std::uint64_t NumberFromEnvironment(const wchar_t* name) {
  wchar_t text[32];
  const DWORD length = GetEnvironmentVariableW(name, text, 32);
  if (length == 0 || length >= 32) return 0;
  std::uint64_t value = 0;
  for (DWORD i = 0; i < length; ++i) {
    if (text[i] < L'0' || text[i] > L'9') return 0;
    value = value * 10 + static_cast<std::uint64_t>(text[i] - L'0');
  }
  return value;
}

// Appends to a wide path; false when it would not fit.
bool AppendText(wchar_t* path, std::size_t& length, const wchar_t* text) {
  for (; *text != L'\0'; ++text) {
    if (length + 1 >= kPathChars) return false;
    path[length++] = *text;
  }
  path[length] = L'\0';
  return true;
}

bool AppendNumber(wchar_t* path, std::size_t& length, unsigned value, int width) {
  wchar_t digits[12];
  int count = 0;
  do {
    digits[count++] = static_cast<wchar_t>(L'0' + value % 10);
    value /= 10;
  } while (value != 0 || count < width);
  wchar_t text[12];
  for (int i = 0; i < count; ++i) text[i] = digits[count - 1 - i];
  text[count] = L'\0';
  return AppendText(path, length, text);
}

std::size_t Length(const wchar_t* text) {
  std::size_t n = 0;
  while (text[n] != L'\0') ++n;
  return n;
}

// Creates the folder and those above it that are missing. A step that
// fails (a drive's root, a folder that is there) is left to the file's
// creation to name.
void MakeFolders(const wchar_t* folder) {
  wchar_t* path = windows.path;
  std::size_t length = 0;
  path[0] = L'\0';
  if (!AppendText(path, length, folder)) return;
  for (std::size_t i = 1; i < length; ++i) {
    if (path[i] != L'\\' && path[i] != L'/') continue;
    const wchar_t separator = path[i];
    path[i] = L'\0';
    CreateDirectoryW(path, nullptr);
    path[i] = separator;
  }
  CreateDirectoryW(path, nullptr);
}

// A new file in `folder`: Rebound-recording-<date>-<time>[-N].jsonl. False
// when the folder cannot take it.
bool CreateIn(const wchar_t* folder) {
  if (folder[0] == L'\0') return false;
  SYSTEMTIME now;
  GetLocalTime(&now);
  for (unsigned n = 1; n < 1000; ++n) {
    wchar_t* path = windows.path;
    std::size_t length = 0;
    path[0] = L'\0';
    bool fits = AppendText(path, length, folder);
    if (fits && length != 0 && path[length - 1] != L'\\' && path[length - 1] != L'/')
      fits = AppendText(path, length, L"\\");
    fits = fits && AppendText(path, length, L"Rebound-recording-") &&
           AppendNumber(path, length, now.wYear, 4) && AppendText(path, length, L"-") &&
           AppendNumber(path, length, now.wMonth, 2) && AppendText(path, length, L"-") &&
           AppendNumber(path, length, now.wDay, 2) && AppendText(path, length, L"-") &&
           AppendNumber(path, length, now.wHour, 2) && AppendNumber(path, length, now.wMinute, 2) &&
           AppendNumber(path, length, now.wSecond, 2);
    if (fits && n > 1) fits = AppendText(path, length, L"-") && AppendNumber(path, length, n, 1);
    if (!fits || !AppendText(path, length, L".jsonl")) return false;
    const HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      windows.file = file;
      return true;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return false;
  }
  return false;
}

// The file's name (not its folder, which may name the user) in UTF-8.
void FileNameOf(HMODULE module, char* out, int capacity) {
  wchar_t* path = windows.path;
  const DWORD length = GetModuleFileNameW(module, path, kPathChars);
  if (length == 0 || length >= kPathChars) return;
  const wchar_t* name = path;
  for (const wchar_t* p = path; *p != L'\0'; ++p) {
    if (*p == L'\\' || *p == L'/') name = p + 1;
  }
  if (WideCharToMultiByte(CP_UTF8, 0, name, -1, out, capacity, nullptr, nullptr) == 0)
    out[0] = '\0';
}

void AppendDecimal(char* out, int& at, unsigned value) {
  char digits[8];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (count > 0) out[at++] = digits[--count];
}

// The file version of a loaded module, "a.b.c.d", read from its version
// resource where the loader mapped it.
void FileVersionOf(HMODULE module, char* out) {
  const HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16));
  if (resource == nullptr) return;
  const HGLOBAL loaded = LoadResource(module, resource);
  const auto* data =
      static_cast<const std::uint8_t*>(loaded != nullptr ? LockResource(loaded) : nullptr);
  const DWORD size = SizeofResource(module, resource);
  if (data == nullptr) return;
  // The fixed file information follows the block's "VS_VERSION_INFO" key,
  // 32-bit aligned; it opens with its signature.
  constexpr DWORD kSignature = 0xFEEF04BD;
  for (DWORD at = 0; at + 16 <= size && at < 256; at += 4) {
    DWORD word[4];
    CopyMemory(word, data + at, sizeof word);
    if (word[0] != kSignature) continue;
    int n = 0;
    AppendDecimal(out, n, HIWORD(word[2]));
    out[n++] = '.';
    AppendDecimal(out, n, LOWORD(word[2]));
    out[n++] = '.';
    AppendDecimal(out, n, HIWORD(word[3]));
    out[n++] = '.';
    AppendDecimal(out, n, LOWORD(word[3]));
    out[n] = '\0';
    return;
  }
}

DWORD WINAPI ThreadMain(LPVOID /*unused*/) {
  windows.threadMain();
  return 0;
}

}  // namespace

Settings ReadSettings(ModuleHandle module) noexcept {
  windows.module = static_cast<HMODULE>(module);
  windows.givenFolder[0] = L'\0';
  const DWORD length =
      GetEnvironmentVariableW(L"REBOUND_RECORDING_DIR", windows.givenFolder, kPathChars);
  if (length >= kPathChars) windows.givenFolder[0] = L'\0';
  Settings settings;
  settings.ringBytes =
      static_cast<std::size_t>(NumberFromEnvironment(L"REBOUND_RECORDER_RING_BYTES"));
  settings.maxFileBytes = NumberFromEnvironment(L"REBOUND_RECORDER_MAX_BYTES");
  return settings;
}

const char* PlatformName() noexcept { return "windows"; }

void ReadHostFiles(HostFiles& files) noexcept {
  files = HostFiles{};
  HMODULE host = nullptr;
  if (GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          static_cast<LPCWSTR>(HostScriptWaitAddress()), &host) &&
      host != nullptr) {
    FileNameOf(host, files.hostFile, sizeof files.hostFile);
    FileVersionOf(host, files.hostVersion);
  }
  const HMODULE game = GetModuleHandleW(nullptr);
  if (game != nullptr) {
    FileNameOf(game, files.gameFile, sizeof files.gameFile);
    FileVersionOf(game, files.gameVersion);
  }
}

bool OpenRecordingFile() noexcept {
  // A folder the tester named is the only one tried, made if missing. The
  // module has no console to say it cannot write there: the testers' README
  // tells what to check.
  if (windows.givenFolder[0] != L'\0') {
    MakeFolders(windows.givenFolder);
    return CreateIn(windows.givenFolder);
  }
  // Beside the module, unless that folder cannot be written (the game under
  // Program Files).
  static wchar_t folder[kPathChars];
  const DWORD length = GetModuleFileNameW(windows.module, folder, kPathChars);
  if (length != 0 && length < kPathChars) {
    std::size_t end = Length(folder);
    while (end != 0 && folder[end - 1] != L'\\' && folder[end - 1] != L'/') --end;
    folder[end] = L'\0';
    if (end != 0 && CreateIn(folder)) return true;
  }
  // %LOCALAPPDATA%\Rebound\recordings\, made if missing.
  const DWORD base = GetEnvironmentVariableW(L"LOCALAPPDATA", folder, kPathChars);
  if (base == 0 || base >= kPathChars) return false;
  std::size_t at = base;
  if (!AppendText(folder, at, L"\\Rebound")) return false;
  CreateDirectoryW(folder, nullptr);
  if (!AppendText(folder, at, L"\\recordings")) return false;
  CreateDirectoryW(folder, nullptr);
  return CreateIn(folder);
}

bool WriteToFile(const char* data, std::size_t bytes) noexcept {
  if (windows.file == INVALID_HANDLE_VALUE) return false;
  while (bytes != 0) {
    const DWORD chunk = bytes > 0x40000000U ? 0x40000000U : static_cast<DWORD>(bytes);
    DWORD written = 0;
    if (!WriteFile(windows.file, data, chunk, &written, nullptr) || written == 0) return false;
    data += written;
    bytes -= written;
  }
  return true;
}

bool TruncateFile(std::uint64_t bytes) noexcept {
  if (windows.file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(bytes);
  return SetFilePointerEx(windows.file, at, nullptr, FILE_BEGIN) && SetEndOfFile(windows.file);
}

void CloseFile() noexcept {
  if (windows.file != INVALID_HANDLE_VALUE) CloseHandle(windows.file);
  windows.file = INVALID_HANDLE_VALUE;
}

bool StartWriterThread(void (*main)()) noexcept {
  windows.threadMain = main;
  windows.thread = CreateThread(nullptr, 0, &ThreadMain, nullptr, 0, nullptr);
  return windows.thread != nullptr;
}

// Called from DllMain, under the loader's lock, with the file's turn taken
// from the writer: never waits for the thread to finish of its own accord,
// which it could not do while the lock is held. On an unload the thread still
// runs (sleeping, or about to take the turn and find it gone) and its code is
// about to be unmapped: it is terminated, which runs no DLL notification, so
// waiting for its handle after that cannot deadlock. At the process's exit
// the system has ended it already.
void EndWriterThread(bool processExit) noexcept {
  if (windows.thread == nullptr) return;
  if (!processExit) {
    TerminateThread(windows.thread, 0);
    WaitForSingleObject(windows.thread, 1000);
  }
  CloseHandle(windows.thread);
  windows.thread = nullptr;
}

void SleepMs(unsigned ms) noexcept { Sleep(ms); }

}  // namespace rebound::recorder::platform
