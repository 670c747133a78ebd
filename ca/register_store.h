#ifndef VESKAR_CA_REGISTER_STORE_H_
#define VESKAR_CA_REGISTER_STORE_H_

#include <string>
#include <vector>

#include "ca/ca_status.h"
#include "ca/user_register.h"

namespace veskar::ca {

// How a change of a pair's state came out when it did not apply.
enum class PairChange {
  kDone,
  kUnknown,     // no such reference number
  kUsed,        // the pair was spent (before, or meanwhile)
  kSuperseded,  // another transaction holds the pair now, or none does
};

// Where the CA keeps its register of users. A pair is pending, held by one
// transaction (with the certificate made for it, not yet confirmed), or
// used (with its certificate). Each change of state is atomic and on disk
// when the call returns, whatever other threads and processes do: a pair
// is spent at most once, and never without its certificate.
class RegisterStore {
 public:
  virtual ~RegisterStore() = default;

  // Every user, in the order they were registered.
  virtual CaStatus List(std::vector<RegisteredUser>* users) const = 0;
  // The user with `reference_number`, with the certificate when it has one
  // (kUnknownReference when there is none).
  virtual CaStatus Find(int reference_number, RegisteredUser* user) const = 0;
  // Whether a certificate of this register has the serial (hex).
  virtual CaStatus SerialTaken(const std::string& serial, bool* taken) const = 0;

  // Registers `user` (subject and code set) under a fresh reference
  // number, which is filled in.
  virtual CaStatus Add(RegisteredUser* user) = 0;

  // Pending or held -> held by `holder` with a certificate not yet
  // confirmed; a later Hold supersedes an earlier one.
  virtual CaStatus Hold(int reference_number, const std::string& holder, const std::string& serial,
                        const pki::Bytes& certificate, PairChange* change) = 0;
  // Held by `holder` -> used, with the certificate it holds.
  virtual CaStatus Confirm(int reference_number, const std::string& holder, PairChange* change) = 0;
  // Pending or held -> used with `certificate`, in one step.
  virtual CaStatus Spend(int reference_number, const std::string& serial,
                         const pki::Bytes& certificate, PairChange* change) = 0;
  // Held by `holder`, or used with `serial` when `holder` is empty ->
  // pending, its certificate forgotten.
  virtual CaStatus Release(int reference_number, const std::string& holder,
                           const std::string& serial) = 0;
};

}  // namespace veskar::ca

#endif  // VESKAR_CA_REGISTER_STORE_H_
