#ifndef VESKAR_TESTS_SUPPORT_READ_ALL_H_
#define VESKAR_TESTS_SUPPORT_READ_ALL_H_

#include <fstream>
#include <sstream>
#include <string>

// The whole text of the file at `path`; empty when it cannot be read.
inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

#endif  // VESKAR_TESTS_SUPPORT_READ_ALL_H_
