#ifndef VESKAR_TESTS_SUPPORT_JOURNAL_H_
#define VESKAR_TESTS_SUPPORT_JOURNAL_H_

#include <sstream>
#include <string>
#include <vector>

// A fake toolkit's journal: one line per call, the entry name first.
class Journal {
 public:
  explicit Journal(const std::string& text) {
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines_.push_back(line);
  }

  const std::vector<std::string>& lines() const { return lines_; }

  // The entry names, in call order.
  std::vector<std::string> Calls() const {
    std::vector<std::string> names;
    for (const std::string& line : lines_) names.push_back(line.substr(0, line.find(' ')));
    return names;
  }

  // The lines of calls to `entry`, in order.
  std::vector<std::string> Of(const std::string& entry) const {
    std::vector<std::string> out;
    for (const std::string& line : lines_) {
      if (line == entry || line.rfind(entry + " ", 0) == 0) out.push_back(line);
    }
    return out;
  }

  // The names called after the first call to `entry`.
  std::vector<std::string> CallsAfter(const std::string& entry) const {
    std::vector<std::string> all = Calls();
    for (size_t i = 0; i < all.size(); ++i) {
      if (all[i] == entry) return std::vector<std::string>(all.begin() + i + 1, all.end());
    }
    return {};
  }

 private:
  std::vector<std::string> lines_;
};

inline std::string HexOf(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

#endif  // VESKAR_TESTS_SUPPORT_JOURNAL_H_
