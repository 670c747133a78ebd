// What the PKI verbs ask of Windows: files, the console and its control
// events, and the run's own temporary folder.

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "os.h"
#include "pki/folders.h"
#include "pki/win32_errors.h"

namespace veskar_cli {
namespace {

namespace pki = veskar::pki;

// Opens the existing file or folder `path` for `access`, sharing it with
// everyone else.
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

// A name part no other run, nor another attempt of this run, takes.
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
// the environment, which getenv reads, and in Windows', which GetTempPath
// and child processes read.
void SetVariable(const char* name, const std::string* value) {
  _putenv((std::string(name) + "=" + (value != nullptr ? *value : "")).c_str());
  SetEnvironmentVariableA(name, value != nullptr ? value->c_str() : nullptr);
}

}  // namespace

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
    *error_number = pki::ErrnoOfWindowsError(GetLastError());
    return false;
  }
  const DWORD access = (attributes & FILE_ATTRIBUTE_DIRECTORY)
                           ? (write ? FILE_ADD_FILE : FILE_LIST_DIRECTORY)
                           : (write ? FILE_WRITE_DATA : FILE_READ_DATA);
  const HANDLE handle = OpenExisting(path, access);
  if (handle == INVALID_HANDLE_VALUE) {
    *error_number = pki::ErrnoOfWindowsError(GetLastError());
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
  return pki::ErrnoOfWindowsError(failure);
}

int OpenForWriting(const std::string& path) {
  return _open(path.c_str(), _O_WRONLY | _O_BINARY | _O_NOINHERIT);
}

int StandardOutputFd() {
  std::fflush(stdout);
  _setmode(_fileno(stdout), _O_BINARY);
  return _fileno(stdout);
}

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
  quiet_ = IsConsole(prompt_input) && GetConsoleMode(prompt_input, &mode_before_prompt);
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
    *error =
        "cannot find the temporary folder (TMP, TEMP): " + pki::WindowsErrorText(GetLastError());
    return false;
  }
  parent_.assign(buffer, length);
  // "C:\Temp\" ends in a separator, "C:\" is one.
  while (parent_.size() > 3 && (parent_.back() == '\\' || parent_.back() == '/')) {
    parent_.pop_back();
  }
  std::string reason = "every name tried is taken";
  for (unsigned attempt = 0; attempt < kAttempts; ++attempt) {
    const std::string candidate = parent_ + "\\veskar-" + UniqueSuffix(attempt);
    // A name another run took is tried again with another.
    if (GetFileAttributesA(candidate.c_str()) != INVALID_FILE_ATTRIBUTES) continue;
    if (pki::CreateNewFolder(candidate, &reason)) {
      path_ = candidate;
      Install("TMP");
      Install("TEMP");
      return true;
    }
    // Made but not restricted to us, it goes (it is empty).
    RemoveDirectoryA(candidate.c_str());
    break;
  }
  *error = "cannot use the temporary folder " + parent_ + " (TMP, TEMP): " + reason;
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
