#include "ca/refusal_log.h"

#include <algorithm>
#include <vector>

namespace veskar::ca {

std::string RefusalLog::Note(const std::string& key, const std::string& line,
                             Clock::time_point now) {
  std::lock_guard<std::mutex> guard(mutex_);
  auto it = kinds_.find(key);
  if (it == kinds_.end()) {
    if (kinds_.size() >= options_.max_kinds) Forget();
    kinds_[key].told = now;
    return line;
  }
  Kind& kind = it->second;
  ++kind.unreported;
  if (kind.unreported < options_.every && now - kind.told < options_.interval) return "";
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now - kind.told).count();
  const std::string told = line + " (" + std::to_string(kind.unreported) + " times in the last " +
                           std::to_string(seconds) + " s)";
  kind.unreported = 0;
  kind.told = now;
  return told;
}

void RefusalLog::Forget() {
  // The older half goes: a kind that comes back is told afresh.
  std::vector<Clock::time_point> times;
  times.reserve(kinds_.size());
  for (const auto& entry : kinds_) times.push_back(entry.second.told);
  auto middle = times.begin() + static_cast<std::ptrdiff_t>(times.size() / 2);
  std::nth_element(times.begin(), middle, times.end());
  const Clock::time_point cut = *middle;
  for (auto it = kinds_.begin(); it != kinds_.end();) {
    it = it->second.told <= cut ? kinds_.erase(it) : std::next(it);
  }
}

}  // namespace veskar::ca
