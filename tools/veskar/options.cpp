#include "options.h"

#include <cctype>
#include <climits>

namespace veskar_cli {

bool Options::Parse(const Args& args, std::initializer_list<OptionSpec> specs, std::string* error) {
  given_.clear();
  for (size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    // "--name=value" is "--name value" in one word.
    const size_t equals = arg.rfind("--", 0) == 0 ? arg.find('=') : std::string::npos;
    const bool joined = equals != std::string::npos;
    const std::string joined_value = joined ? arg.substr(equals + 1) : "";
    if (joined) arg.erase(equals);
    const OptionSpec* known = nullptr;
    for (const OptionSpec& candidate : specs) {
      if (arg == candidate.name) known = &candidate;
    }
    if (known == nullptr) {
      *error = arg.rfind("-", 0) == 0 ? "unknown option '" + arg + "'"
                                      : "unexpected argument '" + arg + "'";
      return false;
    }
    if (Has(arg)) {
      *error = arg + " given twice";
      return false;
    }
    if (!known->takes_value) {
      if (joined) {
        *error = arg + " takes no value";
        return false;
      }
      given_[arg] = "";
      continue;
    }
    if (joined) {
      if (joined_value.empty()) {
        *error = arg + " needs a value";
        return false;
      }
      given_[arg] = joined_value;
      continue;
    }
    if (i + 1 >= args.size() || args[i + 1].empty() || args[i + 1].rfind("--", 0) == 0) {
      *error = arg + " needs a value";
      return false;
    }
    given_[arg] = args[++i];
  }
  return true;
}

std::string Options::Value(const std::string& name) const {
  const auto found = given_.find(name);
  return found == given_.end() ? "" : found->second;
}

const char* Options::FirstMissing(std::initializer_list<const char*> names) const {
  for (const char* name : names) {
    if (!Has(name)) return name;
  }
  return nullptr;
}

bool IsReferenceNumber(const std::string& text) {
  if (text.empty() || text.size() > 10) return false;
  for (const char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  const long long value = std::stoll(text);
  return value >= 1 && value <= INT_MAX;
}

}  // namespace veskar_cli
