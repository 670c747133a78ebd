#ifndef VESKAR_STANDINS_COMMON_SETTINGS_H_
#define VESKAR_STANDINS_COMMON_SETTINGS_H_

#include <string>

#include "cmp/cmp_enroll.h"

namespace veskar::standins {

// What the stand-ins take from the environment (names in
// pki/environment.h), read once by each entry point that needs them:
//   VESKAR_CMP_MSG_TIMEOUT    seconds for one message round trip, default 30
//   VESKAR_CMP_TOTAL_TIMEOUT  seconds for a whole enrollment, default 120
//   VESKAR_CMP_TLS_CA_FILE    CA certificates (PEM) for https:// servers
//   VESKAR_CMP_PROXY          http://host:port of an HTTP proxy; unset or
//                             empty: none (http_proxy and the like are not
//                             read: they are the host process's)
//   VESKAR_KMP_KEY_FILE       a PEM private key for a new IPSec user
struct StandinSettings {
  cmp::ClientOptions cmp;
  std::string kmp_key_file;

  static StandinSettings FromEnvironment();
};

}  // namespace veskar::standins

#endif  // VESKAR_STANDINS_COMMON_SETTINGS_H_
