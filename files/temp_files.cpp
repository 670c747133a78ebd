#include "files/temp_files.h"

#include <cstring>
#include <string>

#include "base/messages.h"
#include "files/ini_file.h"
#include "platform/env.h"

namespace veskar {
namespace {

constexpr char kSigningKeyLine[] = "\nSigningKey=DSA";

std::string TempDirectoryOrDot(Env* env) {
  std::string directory = env->TempDirectory();
  return directory.empty() ? "." : directory;
}

// The part of `path` before its last '.', or all of it when there is none.
std::string WithoutExtension(const std::string& path) {
  const size_t dot = path.rfind('.');
  const size_t slash = path.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path;
  return path.substr(0, dot);
}

bool FitsOnOneLine(const CString& location) {
  const char* text = location;
  if (std::strlen(text) != static_cast<size_t>(location.GetLength())) return false;
  return std::strpbrk(text, "\r\n") == nullptr;
}

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringCase(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    if (AsciiLower(*a) != AsciiLower(*b)) return false;
  }
  return *a == *b;
}

}  // namespace

CString WriteClientIniFile(const char* prefix, const CString& manager, const CString& server,
                           CString* error) {
  auto fail = [&]() {
    error->Format("Failed to create initialization file for %s and %s.\n",
                  static_cast<const char*>(manager), static_cast<const char*>(server));
    return CString();
  };
  if (!FitsOnOneLine(manager) || !FitsOnOneLine(server)) return fail();

  Env* env = CurrentEnv();
  std::string unique;
  if (env->CreateUniqueFile(TempDirectoryOrDot(env), prefix, &unique) != 0) return fail();

  const std::string ini = WithoutExtension(unique) + ".ini";
  if (env->RenameNoReplace(unique, ini) != 0) {
    env->RemoveFile(unique);
    return fail();
  }

  // From here the file is ours: it goes again on a failed write and when an
  // exception (out of memory) leaves.
  IniFile file(ini.c_str());
  CString content;
  content.Format(static_cast<unsigned int>(kMsgIniTemplate), static_cast<const char*>(manager),
                 static_cast<const char*>(server));
  std::string bytes(content, static_cast<size_t>(content.GetLength()));
  bytes += kSigningKeyLine;
  if (env->WriteExistingFile(ini, bytes.data(), bytes.size()) != 0) return fail();
  CString path(ini.c_str());
  file.Release();
  return path;
}

CString MakeEmptyTempFile(const CString& prefix, const CString& extension) {
  Env* env = CurrentEnv();
  std::string unique;
  if (env->CreateUniqueFile(TempDirectoryOrDot(env), static_cast<const char*>(prefix), &unique) !=
      0) {
    return CString();
  }
  if (EqualsIgnoringCase(extension, "tmp")) return CString(unique.c_str());

  const std::string renamed = WithoutExtension(unique) + "." + static_cast<const char*>(extension);
  if (env->RenameNoReplace(unique, renamed) != 0) {
    env->RemoveFile(unique);
    return CString();
  }
  return CString(renamed.c_str());
}

}  // namespace veskar
