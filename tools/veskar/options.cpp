#include "options.h"

#include <algorithm>
#include <cctype>
#include <climits>

namespace veskar_cli {
namespace {

const Option* Find(const Verb& verb, const std::string& name) {
  for (const Option& option : verb.options) {
    if (name == option.name) return &option;
  }
  return nullptr;
}

std::string Label(const Option& option) {
  return std::string(option.name) + (option.value ? std::string(" ") + option.value : "");
}

}  // namespace

bool Options::Parse(const Args& args, const Verb& verb, std::string* error) {
  given_.clear();
  operands_.clear();
  for (size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    if (arg.empty() || arg[0] != '-' || arg == "-") {
      if (operands_.size() < verb.max_operands) {
        operands_.push_back(arg);
        continue;
      }
      *error = verb.too_many ? verb.too_many : "unexpected argument '" + arg + "'";
      return false;
    }
    // "--name=value" is "--name value" in one word.
    const size_t equals = arg.rfind("--", 0) == 0 ? arg.find('=') : std::string::npos;
    const bool joined = equals != std::string::npos;
    const std::string joined_value = joined ? arg.substr(equals + 1) : "";
    if (joined) arg.erase(equals);
    const Option* known = Find(verb, arg);
    if (known == nullptr) {
      *error = "unknown option '" + arg + "'";
      return false;
    }
    if (Has(arg)) {
      *error = arg + " given twice";
      return false;
    }
    if (known->value == nullptr) {
      if (joined) {
        *error = arg + " takes no value";
        return false;
      }
      given_[arg] = "";
      continue;
    }
    if (joined ? joined_value.empty()
               : i + 1 >= args.size() || args[i + 1].empty() || args[i + 1].rfind("--", 0) == 0) {
      *error = arg + " needs a value";
      return false;
    }
    given_[arg] = joined ? joined_value : args[++i];
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

std::string Usage(const Verb& verb) {
  // The help text starts in one column, past the longest label that fits
  // (and no nearer than most verbs have it); a longer label has a line of
  // its own.
  constexpr size_t kLongestBesideHelp = 20;
  size_t width = 18;
  for (const Option& option : verb.options) {
    const size_t length = Label(option).size();
    if (length <= kLongestBesideHelp) width = std::max(width, length);
  }
  const std::string indent(2 + width + 2, ' ');
  std::string text = std::string(verb.synopsis) + "\n" + verb.about;
  if (!verb.options.empty()) text += "\n";
  for (const Option& option : verb.options) {
    const std::string label = "  " + Label(option);
    text += label.size() + 2 > indent.size()
                ? label + "\n" + indent
                : label + std::string(indent.size() - label.size(), ' ');
    for (const char* c = option.help; *c != '\0'; ++c) {
      text += *c;
      if (*c == '\n') text += indent;
    }
    text += "\n";
  }
  if (verb.notes != nullptr) text += std::string("\n") + verb.notes;
  return text;
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
