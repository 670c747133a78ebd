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
//   VESKAR_CMP_TRUST_FILE     trust anchors (PEM) for answers a CA signs
//   VESKAR_CMP_RECIPIENT      the recipient name (a DN); default the empty name
//   VESKAR_CMP_PROXY          http://host:port of an HTTP proxy for every
//                             CA; set but empty: none. Unset: http_proxy,
//                             https_proxy, all_proxy and no_proxy decide,
//                             as curl reads them (cmp/proxy_choice.h)
//   VESKAR_KMP_KEY_FILE       a PEM private key for a new IPSec user
struct StandinSettings {
  cmp::ClientOptions cmp;
  std::string kmp_key_file;

  static StandinSettings FromEnvironment();
};

}  // namespace veskar::standins

#endif  // VESKAR_STANDINS_COMMON_SETTINGS_H_
