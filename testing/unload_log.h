#ifndef VESKAR_TESTING_UNLOAD_LOG_H_
#define VESKAR_TESTING_UNLOAD_LOG_H_

#include <cstdio>
#include <cstdlib>

// Appends "<event> <toolkit>" to the file named by VESKAR_FAKE_TOOLKIT_LOG,
// so a test in another module can see when a fake was loaded and unloaded.
inline void FakeToolkitLog(const char* event, const char* toolkit) {
  const char* path = std::getenv("VESKAR_FAKE_TOOLKIT_LOG");
  if (path == nullptr || path[0] == '\0') return;
  if (std::FILE* log = std::fopen(path, "a")) {
    std::fprintf(log, "%s %s\n", event, toolkit);
    std::fclose(log);
  }
}

#endif  // VESKAR_TESTING_UNLOAD_LOG_H_
