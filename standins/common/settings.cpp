#include "standins/common/settings.h"

#include "pki/environment.h"

namespace veskar::standins {

StandinSettings StandinSettings::FromEnvironment() {
  StandinSettings settings;
  cmp::ClientOptions& cmp = settings.cmp;
  cmp.message_timeout =
      static_cast<int>(pki::SecondsFromEnvironment(pki::kEnvCmpMessageTimeout, cmp.message_timeout,
                                                   pki::kMostSeconds)
                           .count());
  cmp.total_timeout = static_cast<int>(
      pki::SecondsFromEnvironment(pki::kEnvCmpTotalTimeout, cmp.total_timeout, pki::kMostSeconds)
          .count());
  cmp.tls_ca_file = pki::TextFromEnvironment(pki::kEnvCmpTlsCaFile);
  cmp.proxy = pki::TextFromEnvironment(pki::kEnvCmpProxy);
  settings.kmp_key_file = pki::TextFromEnvironment(pki::kEnvKmpKeyFile);
  return settings;
}

}  // namespace veskar::standins
