// The folder helpers on Windows.

#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>

#include <memory>

#include "pki/folders.h"
#include "pki/win32_errors.h"

namespace veskar::pki {
namespace {

struct LocalFreer {
  void operator()(void* memory) const { LocalFree(memory); }
};

// The current user's SID as text ("S-1-5-21-..."), "" when it cannot be had.
std::string CurrentUserSid() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return "";
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::string buffer(size, '\0');
  std::string sid;
  char* text = nullptr;
  if (size > 0 && GetTokenInformation(token, TokenUser, &buffer[0], size, &size) &&
      ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(&buffer[0])->User.Sid, &text)) {
    sid = text;
    LocalFree(text);
  }
  CloseHandle(token);
  return sid;
}

}  // namespace

bool IsFolder(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsAbsentOrEmptyFolder(const std::string& path, bool* exists, std::string* error) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD code = GetLastError();
    *exists = false;
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return true;
    *error = "cannot use " + path + ": " + WindowsErrorText(code);
    return false;
  }
  *exists = true;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    *error = "cannot use " + path + ": it is not a folder";
    return false;
  }
  WIN32_FIND_DATAA entry{};
  HANDLE search = FindFirstFileA((path + "\\*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return true;
  bool empty = true;
  do {
    const std::string name = entry.cFileName;
    if (name != "." && name != "..") empty = false;
  } while (empty && FindNextFileA(search, &entry));
  FindClose(search);
  if (!empty) *error = path + " is not empty; a new CA needs an empty or new folder";
  return empty;
}

bool CreateNewFolder(const std::string& path, std::string* error) {
  if (CreateDirectoryA(path.c_str(), nullptr)) return RestrictFolderToOwner(path, error);
  *error = "cannot create " + path + ": " + WindowsErrorText(GetLastError());
  return false;
}

// Windows has no mode bits: the folder gets an access list of its own,
// inherited by what is made in it, that lets in its owner alone.
bool RestrictFolderToOwner(const std::string& path, std::string* error) {
  const std::string sid = CurrentUserSid();
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const std::string sddl = "D:P(A;OICI;FA;;;" + sid + ")";
  if (sid.empty() || !ConvertStringSecurityDescriptorToSecurityDescriptorA(
                         sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
    *error = "cannot restrict " + path + ": " + WindowsErrorText(GetLastError());
    return false;
  }
  const std::unique_ptr<void, LocalFreer> owned(descriptor);
  PACL dacl = nullptr;
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  DWORD result = ERROR_INVALID_SECURITY_DESCR;
  if (GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) && present) {
    result = SetNamedSecurityInfoA(const_cast<char*>(path.c_str()), SE_FILE_OBJECT,
                                   DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                   nullptr, nullptr, dacl, nullptr);
  }
  if (result == ERROR_SUCCESS) return true;
  *error = "cannot restrict " + path + ": " + WindowsErrorText(result);
  return false;
}

void RemoveFileOrFolder(const std::string& path) {
  if (!DeleteFileA(path.c_str())) RemoveDirectoryA(path.c_str());
}

std::string CanonicalPath(const std::string& path) {
  char resolved[MAX_PATH];
  const DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, resolved, nullptr);
  if (length == 0 || length >= MAX_PATH) return path;
  std::string result(resolved, length);
  // One folder, one text: Windows names are not case-sensitive.
  CharLowerBuffA(&result[0], static_cast<DWORD>(result.size()));
  return result;
}

}  // namespace veskar::pki
