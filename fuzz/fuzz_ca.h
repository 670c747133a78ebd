#ifndef VESKAR_FUZZ_FUZZ_CA_H_
#define VESKAR_FUZZ_FUZZ_CA_H_

// The CA the fuzzers serve: a temporary folder, removed at exit, with one
// user whose codes the seed requests use.

#include <stdlib.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "ca/cmp_service.h"
#include "ca/user_register.h"
#include "pki/files.h"

namespace veskar::fuzz {

inline std::string& CaFolder() {
  static std::string folder;
  return folder;
}

inline void RemoveCaFolder() {
  const std::string& folder = CaFolder();
  for (const char* name : {"ca.key", "ca.pem", "register.db", "register.db-wal", "register.db-shm",
                           "register.txt.migrated", "lock"}) {
    unlink((folder + "/" + name).c_str());
  }
  rmdir((folder + "/issued").c_str());
  rmdir(folder.c_str());
  rmdir(pki::DirectoryOf(folder).c_str());
}

inline std::unique_ptr<ca::CmpService> MakeFuzzService() {
  char pattern[] = "/tmp/veskar-fuzz-ca-XXXXXX";
  if (mkdtemp(pattern) == nullptr) abort();
  std::string& folder = CaFolder();
  folder = std::string(pattern) + "/ca";
  if (!ca::LocalCa::Create(folder, "CN=Fuzz CA", 30).ok()) abort();
  atexit(RemoveCaFolder);
  ca::RegisteredUser user;
  user.reference_number = 12345678;
  user.authorisation_code = "ABCD-EFGH-JKMN";
  user.subject = "CN=Fuzz User";
  // Written as an earlier version's text register, which the CA moves into
  // its database when it opens.
  unlink((folder + "/register.db").c_str());
  const std::string text = ca::FormatRegister({user});
  std::string error;
  if (!pki::WriteFileAtomically(folder + "/register.txt", text.data(), text.size(), 0600,
                                pki::Overwrite::kReplace, &error)) {
    abort();
  }
  std::unique_ptr<ca::LocalCa> local_ca;
  if (!ca::LocalCa::Open(folder, &local_ca).ok()) abort();
  return std::make_unique<ca::CmpService>(std::move(local_ca), ca::ServiceOptions());
}

}  // namespace veskar::fuzz

#endif  // VESKAR_FUZZ_FUZZ_CA_H_
