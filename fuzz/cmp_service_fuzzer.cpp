// The CA's CMP request handling on arbitrary bytes: whatever arrives, an
// answer or a refusal, never a crash, an overrun or a leak. The CA lives in a
// temporary folder with one user whose codes the seed requests use.

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <string>

#include "ca/cmp_service.h"
#include "ca/user_register.h"
#include "pki/files.h"

namespace {

std::string folder;

void RemoveFolder() {
  for (const char* name : {"ca.key", "ca.pem", "register.db", "register.db-wal", "register.db-shm",
                           "register.txt.migrated", "lock"}) {
    unlink((folder + "/" + name).c_str());
  }
  rmdir((folder + "/issued").c_str());
  rmdir(folder.c_str());
  rmdir(veskar::pki::DirectoryOf(folder).c_str());
}

veskar::ca::CmpService* MakeService() {
  char pattern[] = "/tmp/veskar-cmp-fuzz-XXXXXX";
  if (mkdtemp(pattern) == nullptr) abort();
  folder = std::string(pattern) + "/ca";
  if (!veskar::ca::LocalCa::Create(folder, "CN=Fuzz CA", 30).ok()) abort();
  atexit(RemoveFolder);
  veskar::ca::RegisteredUser user;
  user.reference_number = 12345678;
  user.authorisation_code = "ABCD-EFGH-JKMN";
  user.subject = "CN=Fuzz User";
  // Written as an earlier version's text register, which the CA moves into
  // its database when it opens.
  unlink((folder + "/register.db").c_str());
  const std::string text = veskar::ca::FormatRegister({user});
  std::string error;
  if (!veskar::pki::WriteFileAtomically(folder + "/register.txt", text.data(), text.size(), 0600,
                                        veskar::pki::Overwrite::kReplace, &error)) {
    abort();
  }
  std::unique_ptr<veskar::ca::LocalCa> ca;
  if (!veskar::ca::LocalCa::Open(folder, &ca).ok()) abort();
  return new veskar::ca::CmpService(std::move(ca), veskar::ca::ServiceOptions());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static veskar::ca::CmpService* service = MakeService();
  veskar::ca::CmpService::Outcome outcome;
  const veskar::pki::Bytes answer = service->Handle(data, size, &outcome);
  // Every input is classified; bytes that are not CMP get no answer.
  if (outcome.request.empty() || (outcome.request == "malformed" && !answer.empty())) abort();
  return 0;
}
