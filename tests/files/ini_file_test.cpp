// The INI file of one request as an owned resource: removed once, quietly at
// the end of its scope, with a report when removed explicitly.

#include "files/ini_file.h"

#include <gtest/gtest.h>
#include <veskar/file_exception.h>

#include <cerrno>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/env.h"
#include "support/temp_dir.h"

namespace {

// Records each removal; refuses them all when asked to.
class RemovalLog : public veskar::EnvWrapper {
 public:
  RemovalLog() : EnvWrapper(veskar::Env::Default()) { previous_ = veskar::SetEnvForTesting(this); }
  ~RemovalLog() override { veskar::SetEnvForTesting(previous_); }
  int RemoveFile(const std::string& path) override {
    removed.push_back(path);
    return refuse ? EBUSY : EnvWrapper::RemoveFile(path);
  }
  std::vector<std::string> removed;
  bool refuse = false;

 private:
  veskar::Env* previous_;
};

bool Exists(const std::string& path) { return std::ifstream(path).good(); }

class IniFileTest : public ::testing::Test {
 protected:
  std::string MakeFile(const char* name) {
    const std::string path = tmp_.path() + "/" + name;
    std::ofstream(path) << "[Entrust Settings]";
    return path;
  }
  ScopedTempDir tmp_;
  RemovalLog env_;
};

TEST_F(IniFileTest, EndOfScopeRemovesOnceAndNeverThrows) {
  const std::string path = MakeFile("a.ini");
  { veskar::IniFile file(path.c_str()); }
  EXPECT_FALSE(Exists(path));

  const std::string kept = MakeFile("b.ini");
  env_.refuse = true;
  EXPECT_NO_THROW({ veskar::IniFile file(kept.c_str()); });
  EXPECT_EQ(env_.removed, (std::vector<std::string>{path, kept}));
}

TEST_F(IniFileTest, ExplicitRemovalReportsOnceAndTheScopeDoesNotRetry) {
  const std::string path = MakeFile("a.ini");
  env_.refuse = true;
  {
    veskar::IniFile file(path.c_str());
    try {
      file.Remove();
      ADD_FAILURE() << "no CFileException";
    } catch (const CFileException& error) {
      EXPECT_EQ(std::string(error.m_strFileName), path);
      EXPECT_EQ(error.m_lOsError, EBUSY);
    }
    EXPECT_FALSE(file.owns_file());
    EXPECT_NO_THROW(file.Remove());  // nothing left to remove
  }
  EXPECT_EQ(env_.removed.size(), 1u);
}

TEST_F(IniFileTest, OwnershipMovesAndReleaseKeepsTheFile) {
  const std::string first = MakeFile("a.ini");
  const std::string second = MakeFile("b.ini");
  {
    veskar::IniFile a(first.c_str());
    veskar::IniFile b(std::move(a));
    EXPECT_FALSE(a.owns_file());
    veskar::IniFile c(second.c_str());
    c = std::move(b);  // the file c owned goes now
    EXPECT_EQ(env_.removed, std::vector<std::string>{second});
    EXPECT_TRUE(Exists(first));
    EXPECT_EQ(c.path(), first);
  }
  EXPECT_EQ(env_.removed, (std::vector<std::string>{second, first}));

  const std::string kept = MakeFile("c.ini");
  {
    veskar::IniFile file(kept.c_str());
    EXPECT_EQ(file.Release(), kept);
  }
  EXPECT_TRUE(Exists(kept));
  EXPECT_EQ(env_.removed.size(), 2u);
}

}  // namespace
