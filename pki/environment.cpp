#include "pki/environment.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace veskar::pki {

std::chrono::seconds SecondsFromEnvironment(const char* name, int fallback, int most) {
  const char* text = std::getenv(name);
  if (text == nullptr || text[0] == '\0') return std::chrono::seconds(fallback);
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (*end != '\0' || errno != 0 || value < 1 || value > most) {
    std::fprintf(stderr, "%s=%s is not a number of seconds from 1 to %d; using %d\n", name, text,
                 most, fallback);
    return std::chrono::seconds(fallback);
  }
  return std::chrono::seconds(value);
}

std::string TextFromEnvironment(const char* name) {
  const char* text = std::getenv(name);
  return text != nullptr ? text : "";
}

bool IsSetInEnvironment(const char* name) { return std::getenv(name) != nullptr; }

std::string FirstFromEnvironment(const char* name, const char* fallback) {
  const std::string first = TextFromEnvironment(name);
  return first.empty() ? TextFromEnvironment(fallback) : first;
}

}  // namespace veskar::pki
