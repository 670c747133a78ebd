#include "file_io.h"

#include <cstdio>

namespace veskar_cli {

std::string AbsolutePath(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  const std::string current = CurrentFolder();
  if (current.empty()) return path;
  return path == "." ? current : current + "/" + path;
}

bool ReadStandardInput(size_t max_size, Bytes* out, std::string* error) {
  out->clear();
  unsigned char chunk[65536];
  for (;;) {
    const size_t got = std::fread(chunk, 1, sizeof chunk, stdin);
    out->insert(out->end(), chunk, chunk + got);
    if (out->size() > max_size) {
      *error = "standard input holds more than " + std::to_string(max_size) + " bytes";
      return false;
    }
    if (got < sizeof chunk) break;
  }
  if (std::ferror(stdin)) {
    *error = "cannot read standard input";
    return false;
  }
  return true;
}

std::string NormalPath(const std::string& path) {
  if (path.empty()) return path;
  const std::string absolute = AbsolutePath(path);
  std::string out;
  size_t start = 0;
  while (start <= absolute.size()) {
    size_t end = absolute.find('/', start);
    if (end == std::string::npos) end = absolute.size();
    const std::string part = absolute.substr(start, end - start);
    if (part == "..") {
      const size_t slash = out.rfind('/');
      out.erase(slash == std::string::npos ? 0 : slash);
    } else if (!part.empty() && part != ".") {
      out += "/" + part;
    }
    start = end + 1;
  }
  return out.empty() ? "/" : out;
}

}  // namespace veskar_cli
