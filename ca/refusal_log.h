#ifndef VESKAR_CA_REFUSAL_LOG_H_
#define VESKAR_CA_REFUSAL_LOG_H_

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>

namespace veskar::ca {

// Folds repeated refusals into few log lines: the first refusal of a kind
// (its key, e.g. a source and a reference number) is logged as it is; the
// ones after it are counted, and told as one line when `every` of them
// have come or, at the next one, when `interval` has passed since the
// kind was last told. A guessing flood thus costs a line every `every`
// requests or `interval`, whichever comes first, per kind. Keeps at most
// `max_kinds` kinds, forgetting the ones told longest ago. Thread-safe.
class RefusalLog {
 public:
  using Clock = std::chrono::steady_clock;
  struct Options {
    size_t every = 1000;
    std::chrono::seconds interval{60};
    size_t max_kinds = 4096;
  };

  RefusalLog() : RefusalLog(Options()) {}
  explicit RefusalLog(Options options) : options_(options) {}

  // The line to log for one refusal of kind `key`, told as `line`; empty
  // when it is only counted.
  std::string Note(const std::string& key, const std::string& line, Clock::time_point now);

 private:
  struct Kind {
    size_t unreported = 0;
    Clock::time_point told;
  };
  void Forget();

  Options options_;
  std::mutex mutex_;
  std::map<std::string, Kind> kinds_;
};

}  // namespace veskar::ca

#endif  // VESKAR_CA_REFUSAL_LOG_H_
