#ifndef VESKAR_TESTS_IPSEC_IPSEC_TEST_SUPPORT_H_
#define VESKAR_TESTS_IPSEC_IPSEC_TEST_SUPPORT_H_

// Shared by the IPSec agent tests: a private temporary directory per test,
// and readers of the fake toolkit's journal.

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <veskar/veskar.h>

#include "fakes/fake_kmp_control.h"

namespace ipsec_test {

constexpr char kManager[] = "mgr.example";
constexpr char kServer[] = "dir.example";
// The INI file the agent writes for kManager and kServer, as the fake's
// journal quotes it.
constexpr char kIniQuoted[] =
    "[Entrust Settings]\\nManager=mgr.example+709\\nServer=dir.example+389\\n"
    "ClientType=Heavy\\nSigningKey=DSA";

// A new directory that is $TMPDIR while the object lives.
class ScopedTempDir {
 public:
  ScopedTempDir() {
    const char* old = std::getenv("TMPDIR");
    had_old_ = old != nullptr;
    if (had_old_) old_ = old;
    std::string pattern = (had_old_ && old[0] != '\0' ? old_ : std::string("/tmp")) +
                          "/veskar-ipsec-XXXXXX";
    if (mkdtemp(&pattern[0]) != nullptr) path_ = pattern;
    setenv("TMPDIR", path_.c_str(), 1);
  }
  ~ScopedTempDir() {
    if (had_old_) {
      setenv("TMPDIR", old_.c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
    for (const std::string& name : Entries()) unlink((path_ + "/" + name).c_str());
    rmdir(path_.c_str());
  }
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;

  bool ok() const { return !path_.empty(); }
  const std::string& path() const { return path_; }
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    if (DIR* dir = opendir(path_.c_str())) {
      while (dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
      }
      closedir(dir);
    }
    return names;
  }

 private:
  std::string path_;
  std::string old_;
  bool had_old_ = false;
};

inline std::vector<std::string> JournalLines() {
  std::vector<std::string> lines;
  std::istringstream in(FakeKmp_Journal());
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The entry names of the journal, in call order.
inline std::vector<std::string> Calls() {
  std::vector<std::string> calls;
  for (const std::string& line : JournalLines()) calls.push_back(line.substr(0, line.find(' ')));
  return calls;
}

// The value of `key=` in a journal line, without its quotes (escapes kept);
// "<missing>" when the line has no such key.
inline std::string Field(const std::string& line, const std::string& key) {
  const size_t at = line.find(" " + key + "=");
  if (at == std::string::npos) return "<missing>";
  size_t pos = at + key.size() + 2;
  if (pos < line.size() && line[pos] == '"') {
    std::string value;
    for (++pos; pos < line.size() && line[pos] != '"'; ++pos) {
      value += line[pos];
      if (line[pos] == '\\' && pos + 1 < line.size()) value += line[++pos];
    }
    return value;
  }
  return line.substr(pos, line.find(' ', pos) - pos);
}

inline std::vector<unsigned char> Bytes(const char* text) {
  return std::vector<unsigned char>(text, text + std::char_traits<char>::length(text));
}

}  // namespace ipsec_test

#endif  // VESKAR_TESTS_IPSEC_IPSEC_TEST_SUPPORT_H_
