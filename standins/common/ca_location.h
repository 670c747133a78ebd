#ifndef VESKAR_STANDINS_COMMON_CA_LOCATION_H_
#define VESKAR_STANDINS_COMMON_CA_LOCATION_H_

#include <string>

#include "ca/local_ca.h"
#include "cmp/cmp_enroll.h"

namespace veskar::standins {

// Where the CA is, as a client INI file's Manager= entry or the command
// names it: the http:// or https:// URL of a CMP server, or the folder of a
// local CA, which then answers the same CMP messages in this process.
class CaLocation {
 public:
  CaLocation() = default;

  // Reads a location, without the "+709" port suffix the library appends to
  // the manager's name.
  static CaLocation Parse(const std::string& text);

  bool empty() const { return text_.empty(); }
  bool is_server() const { return server_; }
  const std::string& text() const { return text_; }

  // Whether the location can be a CA, as far as can be told without
  // enrolling: a URL can (its server is first asked when enrolling); a
  // folder must exist and hold a CA. On failure *reason says why.
  bool Check(std::string* reason) const;

  // The way to the CA for one enrollment. A folder is served by one
  // in-process server for all enrollments of this process that use it at
  // the same time, so that they see each other's transactions as a served
  // CA's clients do. Fails with the reason (kNotACa) when the folder holds
  // no CA.
  ca::CaStatus Connect(cmp::Transport* transport) const;

  // Why a local CA would refuse the pair (reference number, authorisation
  // code), in its own order; "" when it would not, or when the location is
  // a server or no CA (a server says for itself).
  std::string PairRefusal(int reference_number, const std::string& authorisation_code) const;

 private:
  std::string text_;
  bool server_ = false;
};

// Parses and checks `text` as CaLocation::Check does.
bool CheckCaLocation(const std::string& text, std::string* reason);

}  // namespace veskar::standins

#endif  // VESKAR_STANDINS_COMMON_CA_LOCATION_H_
