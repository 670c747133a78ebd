#include "files/temp_files.h"

#include <cerrno>
#include <cstring>
#include <random>
#include <string>

#include "files/ini_file.h"
#include "framework/messages.h"
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

// A name whose number is taken is tried again with the number of a new
// unique file this many times; after that the number grows by
// kLongNumberDigits random hexadecimal digits, which nobody can have taken
// all of.
constexpr int kShortNameTries = 8;
constexpr int kLongNameTries = 8;
constexpr int kLongNumberDigits = 12;

std::string RandomHexDigits(int count) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::random_device random;
  std::string digits;
  while (static_cast<int>(digits.size()) < count) {
    unsigned int bits = random();
    for (int i = 0; i < 8 && static_cast<int>(digits.size()) < count; ++i, bits >>= 4) {
      digits += kDigits[bits & 0xF];
    }
  }
  return digits;
}

// Makes a new, empty, owner-only file in `directory` whose name is `prefix`,
// a hexadecimal number and ".`extension`", by renaming a unique file. A
// name that is already taken (a file left by an earlier run, or planted) is
// never touched and never a failure: another number is drawn. Returns 0 and
// the path in *path, or an errno value with nothing of ours left behind.
int MakeUniqueFileWithExtension(Env* env, const std::string& directory, const char* prefix,
                                const std::string& extension, std::string* path) {
  std::string unique;
  int error = env->CreateUniqueFile(directory, prefix, &unique);
  if (error != 0) return error;
  for (int attempt = 0; attempt < kShortNameTries + kLongNameTries; ++attempt) {
    std::string target = WithoutExtension(unique);
    if (attempt >= kShortNameTries) target += RandomHexDigits(kLongNumberDigits);
    target += "." + extension;
    error = env->RenameNoReplace(unique, target);
    if (error == 0) {
      *path = std::move(target);
      return 0;
    }
    if (!IsNameTaken(error)) break;
    if (attempt + 1 < kShortNameTries) {
      env->RemoveFile(unique);
      error = env->CreateUniqueFile(directory, prefix, &unique);
      if (error != 0) return error;
    }
  }
  env->RemoveFile(unique);
  return error;
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
  std::string ini;
  if (MakeUniqueFileWithExtension(env, TempDirectoryOrDot(env), prefix, "ini", &ini) != 0) {
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
  const int write_error = env->WriteExistingFile(ini, bytes.data(), bytes.size());
  if (write_error != 0) {
    // The name no longer leads to the file made above: what it leads to now
    // is someone else's, and stays.
    if (write_error == EPERM) file.Release();
    return fail();
  }
  CString path(ini.c_str());
  file.Release();
  return path;
}

void RemoveTempFileQuietly(const CString& path) {
  CurrentEnv()->RemoveFile(static_cast<const char*>(path));
}

CString MakeEmptyTempFile(const CString& prefix, const CString& extension) {
  Env* env = CurrentEnv();
  const std::string directory = TempDirectoryOrDot(env);
  std::string path;
  const int error = EqualsIgnoringCase(extension, "tmp")
                        ? env->CreateUniqueFile(directory, static_cast<const char*>(prefix), &path)
                        : MakeUniqueFileWithExtension(env, directory, prefix,
                                                      static_cast<const char*>(extension), &path);
  return error == 0 ? CString(path.c_str()) : CString();
}

}  // namespace veskar
