#ifndef VESKAR_CA_REGISTER_STORE_H_
#define VESKAR_CA_REGISTER_STORE_H_

#include <functional>
#include <vector>

#include "ca/ca_status.h"
#include "ca/user_register.h"

namespace veskar::ca {

// Where the CA keeps its register of users. Changes are serialised across
// threads and processes, so that a pair is spent at most once; readers see
// the register before or after a change, never half of one.
class RegisterStore {
 public:
  virtual ~RegisterStore() = default;

  // The register as it stands.
  virtual CaStatus Read(std::vector<RegisteredUser>* users) const = 0;

  // Runs `change` on the register, read under the writers' lock, which is
  // held until `change` returns. `change` stores the users it was given,
  // as they then are, with `save` (as often as it needs).
  using Save = std::function<CaStatus()>;
  virtual CaStatus Change(const std::function<CaStatus(std::vector<RegisteredUser>& users,
                                                       const Save& save)>& change) = 0;
};

}  // namespace veskar::ca

#endif  // VESKAR_CA_REGISTER_STORE_H_
