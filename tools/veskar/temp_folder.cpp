// What both systems' private temporary folders share: the files in it.

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "os.h"

namespace veskar_cli {

std::vector<std::string> PrivateTempFolder::Files(const std::string& prefix,
                                                  const std::string& suffix) const {
  namespace fs = std::filesystem;
  std::vector<std::string> names;
  std::error_code failed;
  for (const fs::directory_entry& entry : fs::directory_iterator(path_, failed)) {
    const std::string name = entry.path().filename().string();
    if (name.size() >= prefix.size() + suffix.size() &&
        name.compare(0, prefix.size(), prefix) == 0 &&
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
      names.push_back(name);
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace veskar_cli
