// The command's calls into Windows: the loader and the toolkits it found,
// files, the console and its control events, and the temporary folder. A
// toolkit is whatever cmsapi32.dll or kmpapi32.dll the DLL search finds; a
// package puts the stand-ins beside veskar.exe, where the search looks
// first, so nothing has to be done to fall back on them.

#include <fcntl.h>
#include <io.h>
#include <veskar/veskar.h>
#include <windows.h>
// After windows.h, which it needs.
#include <sddl.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "os.h"

namespace veskar_cli {
namespace {

// The file behind `module`, "" when Windows does not say.
std::string ModuleFile(HMODULE module) {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::string(path, length) : "";
}

// What Windows calls `error`, without the full stop and line end.
std::string WindowsErrorText(DWORD error) {
  char* text = nullptr;
  FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string reason = text != nullptr ? text : "";
  if (text != nullptr) LocalFree(text);
  reason.erase(reason.find_last_not_of("\r\n .") + 1);
  return reason.empty() ? "Windows error " + std::to_string(error) : reason;
}

// The errno value nearest to a Windows error, for the callers' strerror.
int ErrnoOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_WRITE_PROTECT:
      return EROFS;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    case ERROR_DIRECTORY:
      return ENOTDIR;
    default:
      return EIO;
  }
}

// The folder part of a file name: up to its last '\' or '/'.
std::string FolderOf(const std::string& file) {
  const size_t separator = file.find_last_of("\\/");
  return separator == std::string::npos ? "." : file.substr(0, separator);
}

// Opens the existing file or folder `path` for `access` (0 to look at it
// only), sharing it with everyone else.
HANDLE OpenExisting(const std::string& path, DWORD access) {
  return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// What names a file whatever the path to it: its volume and its index.
struct FileIdentity {
  DWORD volume = 0;
  DWORD high = 0;
  DWORD low = 0;
  bool operator==(const FileIdentity& other) const {
    return volume == other.volume && high == other.high && low == other.low;
  }
};

bool IdentityOf(HANDLE handle, FileIdentity* identity) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) return false;
  *identity = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
  return true;
}

bool IdentityOf(const std::string& path, FileIdentity* identity) {
  const HANDLE handle = OpenExisting(path, FILE_READ_ATTRIBUTES);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const bool known = IdentityOf(handle, identity);
  CloseHandle(handle);
  return known;
}

// True when both names lead to one existing file or folder.
bool SameFile(const std::string& a, const std::string& b) {
  FileIdentity of_a;
  FileIdentity of_b;
  return IdentityOf(a, &of_a) && IdentityOf(b, &of_b) && of_a == of_b;
}

bool IsPlainFile(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// `path` as Windows spells it in full ("Z:\\work\\..." for "/work/..."
// under Wine), or `path` when it cannot.
std::string FullPath(const std::string& path) {
  char full[MAX_PATH];
  const DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
  return length > 0 && length < MAX_PATH ? std::string(full, length) : path;
}

// A name part no other run or attempt of this run takes.
std::string UniqueSuffix(unsigned attempt) {
  char suffix[64];
  std::snprintf(suffix, sizeof suffix, "%lx-%llx-%x", GetCurrentProcessId(),
                static_cast<unsigned long long>(GetTickCount64()), attempt);
  return suffix;
}

constexpr unsigned kAttempts = 100;

// True when `handle` is the console, as opposed to a file, pipe or device.
bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

// The control event that came while held, one higher than its number
// (CTRL_C_EVENT is 0), or 0; and the event that ends the hold, for the
// handler waiting on it.
std::atomic<DWORD> held_event{0};
HANDLE hold_released = nullptr;

BOOL WINAPI HoldControlEvent(DWORD event) {
  held_event = event + 1;
  // Windows ends the process once the handler of a closed console, logoff
  // or shutdown returns, or a few seconds after it was called: the held
  // step gets those seconds to finish.
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && hold_released != nullptr) {
    WaitForSingleObject(hold_released, INFINITE);
  }
  return TRUE;
}

// The console input and its mode before a prompt, for the handler that
// puts it back.
HANDLE prompt_input = nullptr;
DWORD mode_before_prompt = 0;

BOOL WINAPI RestoreEchoAndGoOn(DWORD /*event*/) {
  SetConsoleMode(prompt_input, mode_before_prompt);
  return FALSE;  // the next handler, or Windows' own, ends the run
}

// Sets `name` to `value` (unsets it for null), in the C runtime's copy of
// the environment, which getenv reads, and in Windows', which
// GetTempPath and child processes read.
void SetVariable(const char* name, const std::string* value) {
  _putenv((std::string(name) + "=" + (value != nullptr ? *value : "")).c_str());
  SetEnvironmentVariableA(name, value != nullptr ? value->c_str() : nullptr);
}

// Creates the folder `path` with access for the user running us alone,
// inherited by what is made in it. A Windows error, or 0.
DWORD CreateOwnerOnlyFolder(const std::string& path) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return GetLastError();
  char buffer[256];
  DWORD size = 0;
  const bool have_user = GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size) != 0;
  DWORD failure = have_user ? 0 : GetLastError();
  CloseHandle(token);
  char* sid = nullptr;
  if (have_user && !ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &sid)) {
    failure = GetLastError();
  }
  if (failure != 0) return failure;
  // A protected list: nothing comes from the parent folder.
  const std::string descriptor = std::string("D:P(A;OICI;FA;;;") + sid + ")";
  LocalFree(sid);
  SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, FALSE};
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(
          descriptor.c_str(), SDDL_REVISION_1, &attributes.lpSecurityDescriptor, nullptr)) {
    return GetLastError();
  }
  const bool made = CreateDirectoryA(path.c_str(), &attributes) != 0;
  failure = made ? 0 : GetLastError();
  LocalFree(attributes.lpSecurityDescriptor);
  return failure;
}

}  // namespace

std::string LoadedLibraryFile() {
  const void* inside = reinterpret_cast<const void*>(&GetAvaliableServices);
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          static_cast<LPCSTR>(inside), &module)) {
    return "";
  }
  return ModuleFile(module);
}

void UseBinaryStandardStreams() {
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
}

void UseStandInToolkits(char** /*argv*/, bool /*disabled*/) {}

// Beside veskar.exe, as a package has them; or, for a veskar.exe running
// where the build made it, in the build's toolkit folder.
std::string StandInFolder(const char* file) {
  const std::string own = FolderOf(ModuleFile(nullptr));
  if (IsPlainFile(own + "\\" + file)) return own;
  if (!SameFile(own, VESKAR_EXECUTABLE_BUILD_DIR)) return "";
  std::string name = file;
  const std::string folder =
      FullPath(VESKAR_STANDIN_BUILD_DIR "/" + name.substr(0, name.find('.')));
  return IsPlainFile(folder + "\\" + file) ? folder : "";
}

std::string StandInAdvice(const std::string& folder) {
  if (SameFile(folder, FolderOf(ModuleFile(nullptr)))) return "";
  return "put that folder on PATH, or copy the DLL beside veskar.exe";
}

bool StandInLoaded(const Toolkit& toolkit) {
  std::string path;
  std::string missing;
  if (!InspectLoadedToolkit(toolkit, &path, &missing)) return false;
  const std::string folder = StandInFolder(toolkit.file);
  return !folder.empty() && SameFile(path, folder + "\\" + toolkit.file);
}

bool InspectLoadedToolkit(const Toolkit& toolkit, std::string* path, std::string* missing) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, toolkit.file, &module)) {
    return false;
  }
  const std::string file = ModuleFile(module);
  *path = file.empty() ? "(unknown file)" : file;
  missing->clear();
  for (const EntryName& entry : toolkit.entry_points) {
#if defined(_M_IX86) || defined(__i386__)
    const char* name = entry.decorated;
#else
    const char* name = entry.plain;
#endif
    if (GetProcAddress(module, name) == nullptr) {
      *missing += std::string(missing->empty() ? "" : ", ") + entry.plain;
    }
  }
  return true;
}

std::string WhyNotLoaded(const char* file) {
  const HMODULE module = LoadLibraryA(file);
  if (module != nullptr) {
    FreeLibrary(module);
    return "it loads now, so it was added after the library started";
  }
  return WindowsErrorText(GetLastError());
}

// Standard output is a file on a disk, and the one `path` names.
bool IsStandardOutput(const std::string& path) {
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  FileIdentity of_out;
  FileIdentity of_path;
  return out != nullptr && out != INVALID_HANDLE_VALUE && GetFileType(out) == FILE_TYPE_DISK &&
         IdentityOf(out, &of_out) && IdentityOf(path, &of_path) && of_out == of_path;
}

// Opens the file or folder for what is asked, which Windows checks against
// its access list: for a folder, the right to add a file or to list it.
bool MayAccess(const std::string& path, bool write, int* error_number) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    *error_number = ErrnoOf(GetLastError());
    return false;
  }
  const DWORD access = (attributes & FILE_ATTRIBUTE_DIRECTORY)
                           ? (write ? FILE_ADD_FILE : FILE_LIST_DIRECTORY)
                           : (write ? FILE_WRITE_DATA : FILE_READ_DATA);
  const HANDLE handle = OpenExisting(path, access);
  if (handle == INVALID_HANDLE_VALUE) {
    *error_number = ErrnoOf(GetLastError());
    return false;
  }
  CloseHandle(handle);
  return true;
}

int TryMakingAFileIn(const std::string& folder) {
  DWORD failure = ERROR_FILE_EXISTS;
  for (unsigned attempt = 0; attempt < kAttempts && failure == ERROR_FILE_EXISTS; ++attempt) {
    const std::string probe = folder + "\\probe-" + UniqueSuffix(attempt);
    const HANDLE file = CreateFileA(probe.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      CloseHandle(file);
      return 0;
    }
    failure = GetLastError();
  }
  return ErrnoOf(failure);
}

int OpenForWriting(const std::string& path) {
  return _open(path.c_str(), _O_WRONLY | _O_BINARY | _O_NOINHERIT);
}

int StandardOutputFd() { return _fileno(stdout); }

bool StandardInputIsTerminal() { return IsConsole(GetStdHandle(STD_INPUT_HANDLE)); }

bool StandardOutputIsTerminal() { return IsConsole(GetStdHandle(STD_OUTPUT_HANDLE)); }

struct HeldSignals::Mask {};

HeldSignals::HeldSignals() : previous_(new Mask) {
  held_event = 0;
  hold_released = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(HoldControlEvent, TRUE);
}

HeldSignals::~HeldSignals() {
  SetConsoleCtrlHandler(HoldControlEvent, FALSE);
  if (held_event != 0) {
    // What Windows does for an unhandled Ctrl-C, once what was written is
    // out of the C runtime's buffers.
    std::fflush(nullptr);
    ExitProcess(STATUS_CONTROL_C_EXIT);
  }
  if (hold_released != nullptr) {
    SetEvent(hold_released);
    CloseHandle(hold_released);
    hold_released = nullptr;
  }
}

EchoOff::EchoOff() {
  prompt_input = GetStdHandle(STD_INPUT_HANDLE);
  quiet_ =
      prompt_input != INVALID_HANDLE_VALUE && GetConsoleMode(prompt_input, &mode_before_prompt);
  if (!quiet_) return;
  SetConsoleCtrlHandler(RestoreEchoAndGoOn, TRUE);
  SetConsoleMode(prompt_input, mode_before_prompt & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
}

EchoOff::~EchoOff() {
  if (!quiet_) return;
  SetConsoleMode(prompt_input, mode_before_prompt);
  SetConsoleCtrlHandler(RestoreEchoAndGoOn, FALSE);
  // Without echo, the Enter that ended the line did not move to the next.
  std::fputs("\n", stderr);
}

bool PrivateTempFolder::Make(std::string* error) {
  char buffer[MAX_PATH + 1];
  const DWORD length = GetTempPathA(sizeof buffer, buffer);
  if (length == 0 || length > MAX_PATH) {
    *error = "cannot find the temporary folder (TMP, TEMP): " + WindowsErrorText(GetLastError());
    return false;
  }
  parent_.assign(buffer, length);
  // "C:\Temp\" ends in a separator, "C:\" is one.
  while (parent_.size() > 3 && (parent_.back() == '\\' || parent_.back() == '/')) {
    parent_.pop_back();
  }
  DWORD failure = ERROR_ALREADY_EXISTS;
  for (unsigned attempt = 0; attempt < kAttempts && failure == ERROR_ALREADY_EXISTS; ++attempt) {
    const std::string candidate = parent_ + "\\veskar-" + UniqueSuffix(attempt);
    failure = CreateOwnerOnlyFolder(candidate);
    if (failure == 0) {
      path_ = candidate;
      Install("TMP");
      Install("TEMP");
      return true;
    }
  }
  *error =
      "cannot use the temporary folder " + parent_ + " (TMP, TEMP): " + WindowsErrorText(failure);
  return false;
}

void PrivateTempFolder::Install(const char* name) {
  const char* value = std::getenv(name);
  saved_.push_back({name, value != nullptr, value != nullptr ? value : ""});
  SetVariable(name, &path_);
}

PrivateTempFolder::~PrivateTempFolder() {
  if (path_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
  for (const SavedVariable& saved : saved_) {
    SetVariable(saved.name, saved.had ? &saved.value : nullptr);
  }
}

}  // namespace veskar_cli
