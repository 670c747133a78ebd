// A toolkit's own static copy of OpenSSL as a guest in a host's process,
// here built with that set-up against the system's libcrypto, in a process
// of its own that has not used OpenSSL before: a configuration file planted
// where OpenSSL looks for one is not read once an entry point came first.

#include <gtest/gtest.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "standins/common/entry_guard.h"

namespace veskar::standins {
namespace {

// Whether the default library context can fetch SHA-256.
bool DefaultContextFetches() {
  EVP_MD* digest = EVP_MD_fetch(nullptr, "SHA256", nullptr);
  EVP_MD_free(digest);
  return digest != nullptr;
}

void SetEnvironment(const char* name, const std::string& value) {
#ifdef _WIN32
  _putenv_s(name, value.c_str());
#else
  setenv(name, value.c_str(), 1);
#endif
}

// A configuration that has OpenSSL load a provider module that is not
// there, in place of its built-in ones: read, it leaves the default
// context fetching nothing.
class PlantedConfiguration {
 public:
  PlantedConfiguration()
      : path_(std::filesystem::temp_directory_path() /
              ("veskar-planted-" + std::to_string(std::rand()) + ".cnf")) {
    std::ofstream(path_) << "config_diagnostics = 1\n"
                            "openssl_conf = planted_init\n"
                            "[planted_init]\nproviders = planted_providers\n"
                            "[planted_providers]\nplanted = planted_provider\n"
                            "[planted_provider]\nmodule = "
                         << (path_.parent_path() / "planted-provider.module").string()
                         << "\nactivate = 1\n";
    SetEnvironment("OPENSSL_CONF", path_.string());
  }
  ~PlantedConfiguration() {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
  }
  PlantedConfiguration(const PlantedConfiguration&) = delete;
  PlantedConfiguration& operator=(const PlantedConfiguration&) = delete;

 private:
  std::filesystem::path path_;
};

TEST(OpensslGuestTest, AnEntryPointFirstLeavesAPlantedConfigurationUnread) {
  const PlantedConfiguration planted;
  // OpenSSL's ordinary set-up reads it (in a child: that set-up cannot be
  // undone in this process).
  EXPECT_EXIT(std::_Exit(OPENSSL_init_crypto(OPENSSL_INIT_LOAD_CONFIG, nullptr) == 1 &&
                                 !DefaultContextFetches()
                             ? 0
                             : 1),
              ::testing::ExitedWithCode(0), "")
      << "the planted configuration is not read by an ordinary set-up";

  EXPECT_EQ(Guarded(-1, [] { return DefaultContextFetches() ? 0 : 1; }), 0);
  // Later requests for the configuration, a host's or OpenSSL's own, find
  // OpenSSL set up without it.
  EXPECT_EQ(OPENSSL_init_crypto(OPENSSL_INIT_LOAD_CONFIG, nullptr), 1);
  EXPECT_TRUE(DefaultContextFetches());
}

}  // namespace
}  // namespace veskar::standins
