// Loading and unloading the library the way a host's dlopen/dlclose does:
// attach loads the toolkits, detach releases them, the CMS toolkit first.

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/read_all.h"

namespace {

TEST(LibraryUnload, ReleasesCmsToolkitThenIpsecToolkitExactlyOnce) {
  char log_template[] = "/tmp/veskar-unload-XXXXXX";
  const int fd = mkstemp(log_template);
  ASSERT_GE(fd, 0);
  close(fd);
  const std::string log_path = log_template;
  setenv("VESKAR_FAKE_TOOLKIT_LOG", log_path.c_str(), 1);

  void* library = dlopen(VESKAR_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  // GetAvaliableServices has C++ linkage.
  auto services = reinterpret_cast<int (*)()>(dlsym(library, "_Z20GetAvaliableServicesv"));
  ASSERT_NE(services, nullptr);
  EXPECT_EQ(services(), 7);
  EXPECT_EQ(ReadAll(log_path), "load cmsapi32\nload kmpapi32\n");

  ASSERT_EQ(dlclose(library), 0);
  EXPECT_EQ(ReadAll(log_path), "load cmsapi32\nload kmpapi32\nunload cmsapi32\nunload kmpapi32\n");
  std::remove(log_path.c_str());
}

}  // namespace
