// What the command makes of a CA location and of a refused pair, when the
// stand-in toolkits issue from a local CA.

#include <memory>
#include <string>
#include <vector>

#include "ca/local_ca.h"
#include "enroll.h"

namespace veskar_cli {

int CheckCaLocation(const char* command, const std::string& ca) {
  // A CMP server's URL is for the toolkit to reach; a folder must exist.
  const bool server = ca.rfind("http://", 0) == 0 || ca.rfind("https://", 0) == 0;
  if (ca.empty() || server) return kExitOk;
  if (!IsDirectory(ca)) {
    return Failure(command,
                   "there is no CA folder " + ca + " (make one with 'veskar ca init " + ca + "')");
  }
  // A folder that is no CA, or one this user cannot read, is named as such
  // rather than left to a toolkit that may only say the request failed.
  std::unique_ptr<veskar::ca::LocalCa> local_ca;
  const veskar::ca::CaStatus opened = veskar::ca::LocalCa::Open(ca, &local_ca);
  return opened.ok() ? kExitOk : Failure(command, opened.message);
}

std::string RefusalReason(const std::string& ca_folder, const std::string& reference,
                          const std::string& code) {
  namespace ca = veskar::ca;
  std::unique_ptr<ca::LocalCa> local_ca;
  std::vector<ca::RegisteredUser> users;
  if (!ca::LocalCa::Open(ca_folder, &local_ca).ok() || !local_ca->ListUsers(&users).ok()) return "";
  for (const ca::RegisteredUser& user : users) {
    if (std::to_string(user.reference_number) != reference) continue;
    // In the CA's own order: only the code's holder learns about its use.
    if (!ca::AuthorisationCodesMatch(code, user.authorisation_code)) {
      return "the authorisation code does not match reference number " + reference;
    }
    return user.used ? "reference number " + reference + " already used" : "";
  }
  return "reference number " + reference + " is not registered at the CA";
}

}  // namespace veskar_cli
