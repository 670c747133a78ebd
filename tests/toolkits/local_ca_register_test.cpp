// The CA's register in its database: moved once from the text register of
// earlier versions, and consistent after processes are killed at any moment
// while they register users, enroll or migrate.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <thread>

#include "ca/local_ca.h"
#include "pki/distinguished_name.h"
#include "test_pki.h"

namespace veskar::ca {
namespace {

using toolkit_test::TestCa;
using toolkit_test::WriteFile;
namespace fs = std::filesystem;

// Every used pair has the certificate it was spent on; returns the users.
std::vector<RegisteredUser> CheckRegister(LocalCa& ca) {
  std::vector<RegisteredUser> users;
  const CaStatus listed = ca.ListUsers(&users);
  EXPECT_TRUE(listed.ok()) << listed.message;
  for (const RegisteredUser& listed_user : users) {
    RegisteredUser user;
    EXPECT_TRUE(ca.FindUser(listed_user.reference_number, &user).ok());
    if (!user.used) continue;
    pki::X509Ptr certificate = toolkit_test::ParseCertificate(user.certificate);
    EXPECT_TRUE(certificate) << "used without its certificate: " << user.reference_number;
    if (certificate) {
      EXPECT_EQ(pki::SerialText(certificate.get()), user.serial);
    }
  }
  return users;
}

// Turns a CA folder into one an earlier version made: the same users, in a
// text register.
void MakeTextRegister(TestCa& test_ca, const std::vector<RegisteredUser>& users) {
  test_ca.ca.reset();
  for (const char* name : {"register.db", "register.db-wal", "register.db-shm"}) {
    fs::remove(test_ca.directory + "/" + name);
  }
  WriteFile(test_ca.directory + "/register.txt", FormatRegister(users));
}

TEST(RegisterMigrationTest, TextRegisterMovesOnceAndStaysBeside) {
  TestCa test_ca;
  pki::EvpPkeyPtr key = pki::NewEcKey();
  IssuedCertificate issued;
  ASSERT_TRUE(test_ca.ca
                  ->Issue(test_ca.user.reference_number, test_ca.user.authorisation_code, key.get(),
                          {}, &issued)
                  .ok());
  const RegisteredUser pending = test_ca.AddUser("CN=Pending");
  std::vector<RegisteredUser> before;
  ASSERT_TRUE(test_ca.ca->ListUsers(&before).ok());
  // A used pair of an old register whose copy was lost stays used.
  RegisteredUser lost = pending;
  lost.reference_number = 17;
  lost.used = true;
  lost.serial = "ABCDEF";
  before.push_back(lost);
  MakeTextRegister(test_ca, before);

  std::unique_ptr<LocalCa> ca;
  const CaStatus opened = LocalCa::Open(test_ca.directory, &ca);
  ASSERT_TRUE(opened.ok()) << opened.message;
  EXPECT_FALSE(fs::exists(test_ca.directory + "/register.txt"));
  EXPECT_TRUE(fs::exists(test_ca.directory + "/register.txt.migrated"));
  std::vector<RegisteredUser> after;
  ASSERT_TRUE(ca->ListUsers(&after).ok());
  ASSERT_EQ(after.size(), 3u);
  for (size_t i = 0; i < after.size(); ++i) {
    EXPECT_EQ(after[i].reference_number, before[i].reference_number);
    EXPECT_EQ(after[i].authorisation_code, before[i].authorisation_code);
    EXPECT_EQ(after[i].used, before[i].used);
    EXPECT_EQ(after[i].serial, before[i].serial);
  }
  RegisteredUser user;
  ASSERT_TRUE(ca->FindUser(test_ca.user.reference_number, &user).ok());
  EXPECT_EQ(user.certificate, issued.der) << "the certificate came from its copy in issued/";
  ASSERT_TRUE(ca->FindUser(17, &user).ok());
  EXPECT_TRUE(user.used);
  EXPECT_TRUE(user.certificate.empty());

  // The moved register is the one in use: the pending pair enrolls, the
  // used one does not, and the kept text file is never read again.
  EXPECT_EQ(ca->Issue(test_ca.user.reference_number, test_ca.user.authorisation_code, key.get(), {},
                      &issued)
                .error,
            pki::Outcome::kAlreadyUsed);
  EXPECT_TRUE(
      ca->Issue(pending.reference_number, pending.authorisation_code, key.get(), {}, &issued).ok());
  WriteFile(test_ca.directory + "/register.txt.migrated", "damaged");
  ca.reset();
  ASSERT_TRUE(LocalCa::Open(test_ca.directory, &ca).ok());
  ASSERT_TRUE(ca->ListUsers(&after).ok());
  EXPECT_EQ(after.size(), 3u);
}

// A child process doing `work` is killed at a random moment, `rounds`
// times; `check` runs after each.
template <typename Work, typename Check>
void KillAtRandom(int rounds, int max_delay_us, const Work& work, const Check& check) {
  std::mt19937 random(std::random_device{}());
  for (int round = 0; round < rounds; ++round) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      work();
      _exit(0);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(random() % max_delay_us));
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_FALSE(WIFEXITED(status) && WEXITSTATUS(status) != 0)
        << "the child failed on its own: " << WEXITSTATUS(status);
    check(round);
  }
}

// 24 enrollments at once, half in one step (Issue), half confirmed after
// being held as a served CA does, killed at random: no pair is lost, every
// spent one has its certificate, and the CA serves again at once.
TEST(RegisterCrashTest, EnrollmentsKilledAtRandomLoseNoCertificate) {
  constexpr int kEnrollments = 24;
  TestCa test_ca;
  std::vector<RegisteredUser> users;
  for (int i = 0; i < kEnrollments; ++i) {
    users.push_back(test_ca.AddUser("CN=Crash " + std::to_string(i)));
  }
  pki::EvpPkeyPtr key = pki::NewEcKey();
  size_t registered = users.size() + 1;
  int spent = 0;
  KillAtRandom(
      20, 60000,
      [&] {
        std::unique_ptr<LocalCa> ca;
        if (!LocalCa::Open(test_ca.directory, &ca).ok()) _exit(3);
        std::vector<std::thread> threads;
        for (int i = 0; i < kEnrollments; ++i) {
          threads.emplace_back([&, i] {
            const RegisteredUser& user = users[static_cast<size_t>(i)];
            IssuedCertificate made;
            if (i % 2 == 0) {
              ca->Issue(user.reference_number, user.authorisation_code, key.get(), {}, &made);
              return;
            }
            const std::string holder = "T" + std::to_string(i);
            bool superseded = false;
            if (ca->Certify(user.reference_number, user.authorisation_code, key.get(), &made)
                    .ok() &&
                ca->Hold(user.reference_number, holder, made).ok()) {
              ca->Confirm(user.reference_number, holder, made, &superseded);
            }
          });
        }
        for (std::thread& thread : threads) thread.join();
      },
      [&](int) {
        std::unique_ptr<LocalCa> ca;
        const CaStatus opened = LocalCa::Open(test_ca.directory, &ca);
        ASSERT_TRUE(opened.ok()) << opened.message;
        const std::vector<RegisteredUser> after = CheckRegister(*ca);
        ASSERT_EQ(after.size(), registered);
        // Spent pairs are replaced by new ones, so that every round enrolls.
        for (RegisteredUser& user : users) {
          RegisteredUser now;
          ASSERT_TRUE(ca->FindUser(user.reference_number, &now).ok());
          if (!now.used) continue;
          ++spent;
          user = test_ca.AddUser("CN=Again");
          ++registered;
        }
        const RegisteredUser fresh = test_ca.AddUser("CN=After");
        ++registered;
        IssuedCertificate issued;
        EXPECT_TRUE(
            ca->Issue(fresh.reference_number, fresh.authorisation_code, key.get(), {}, &issued)
                .ok());
      });
  EXPECT_GT(spent, 0) << "no enrollment got as far as its certificate";
}

// Registration killed at random: every user whose registration returned is
// in the register with its code.
TEST(RegisterCrashTest, AddUserKilledAtRandomLosesNoUser) {
  TestCa test_ca;
  std::map<int, std::string> reported;
  KillAtRandom(
      12, 40000,
      [&] {
        std::unique_ptr<LocalCa> ca;
        if (!LocalCa::Open(test_ca.directory, &ca).ok()) _exit(3);
        for (int i = 0;; ++i) {
          RegisteredUser added;
          if (!ca->AddUser("CN=Crash " + std::to_string(i), &added).ok()) _exit(4);
          const std::string line =
              std::to_string(added.reference_number) + " " + added.authorisation_code + "\n";
          WriteFile(test_ca.scratch.File("added-" + std::to_string(added.reference_number)), line);
        }
      },
      [&](int) {
        for (const auto& entry : fs::directory_iterator(test_ca.scratch.path())) {
          const std::string name = entry.path().filename();
          if (name.rfind("added-", 0) != 0) continue;
          const int reference = std::stoi(name.substr(6));
          RegisteredUser user;
          ASSERT_TRUE(test_ca.ca->FindUser(reference, &user).ok()) << reference;
          reported[reference] = user.authorisation_code;
        }
      });
  std::vector<RegisteredUser> users;
  ASSERT_TRUE(test_ca.ca->ListUsers(&users).ok());
  EXPECT_GE(users.size(), reported.size() + 1);
  EXPECT_FALSE(reported.empty());
}

// A migration killed at random is done again, completely, on the next open.
TEST(RegisterCrashTest, MigrationKilledAtRandomIsRedone) {
  TestCa test_ca;
  std::vector<RegisteredUser> users;
  for (int i = 0; i < 20000; ++i) {
    RegisteredUser user;
    user.reference_number = 10000000 + i;
    user.authorisation_code = "CODE-" + std::to_string(i);
    user.subject = "CN=User " + std::to_string(i);
    users.push_back(user);
  }
  const std::string directory = test_ca.directory;
  MakeTextRegister(test_ca, users);
  KillAtRandom(
      10, 150000,
      [&] {
        std::unique_ptr<LocalCa> ca;
        if (!LocalCa::Open(directory, &ca).ok()) _exit(3);
      },
      [&](int) {
        std::unique_ptr<LocalCa> ca;
        const CaStatus opened = LocalCa::Open(directory, &ca);
        ASSERT_TRUE(opened.ok()) << opened.message;
        std::vector<RegisteredUser> after;
        ASSERT_TRUE(ca->ListUsers(&after).ok());
        ASSERT_EQ(after.size(), users.size());
        EXPECT_EQ(after.back().authorisation_code, users.back().authorisation_code);
        ca.reset();
        MakeTextRegister(test_ca, users);  // the next round migrates again
      });
}

}  // namespace
}  // namespace veskar::ca
