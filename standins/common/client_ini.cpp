#include "standins/common/client_ini.h"

#include <sstream>

#include "pki/files.h"

namespace veskar::standins {
namespace {

constexpr size_t kMaxIniSize = 64 * 1024;

std::string WithoutSuffix(std::string value, const std::string& suffix) {
  if (value.size() >= suffix.size() &&
      value.compare(value.size() - suffix.size(), suffix.size(), suffix) == 0) {
    value.erase(value.size() - suffix.size());
  }
  return value;
}

}  // namespace

bool ReadClientIni(const char* path, ClientSettings* settings, std::string* error) {
  if (path == nullptr || path[0] == '\0') {
    *error = "no client INI file was given";
    return false;
  }
  pki::Bytes content;
  if (!pki::ReadWholeFile(path, kMaxIniSize, &content, error)) return false;
  std::istringstream in(std::string(content.begin(), content.end()));
  std::string line;
  bool has_manager = false;
  *settings = ClientSettings();
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t equals = line.find('=');
    if (line.empty() || line[0] == '[' || line[0] == ';' || equals == std::string::npos) continue;
    const std::string key = line.substr(0, equals);
    const std::string value = line.substr(equals + 1);
    if (key == "Manager") {
      settings->ca = CaLocation::Parse(value);
      has_manager = true;
    } else if (key == "Server") {
      settings->publish_directory = WithoutSuffix(value, "+389");
    }
  }
  if (!has_manager || settings->ca.empty()) {
    *error = std::string("the client INI file ") + path + " names no certificate authority";
    return false;
  }
  return true;
}

}  // namespace veskar::standins
