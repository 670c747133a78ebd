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
  cmp.trust_file = pki::TextFromEnvironment(pki::kEnvCmpTrustFile);
  cmp.recipient = pki::TextFromEnvironment(pki::kEnvCmpRecipient);
  cmp::ProxySettings& proxies = cmp.proxies;
  if (pki::IsSetInEnvironment(pki::kEnvCmpProxy)) {
    proxies.override_proxy = pki::TextFromEnvironment(pki::kEnvCmpProxy);
  }
  proxies.http_proxy = pki::TextFromEnvironment(pki::kEnvHttpProxy);
  proxies.https_proxy = pki::FirstFromEnvironment(pki::kEnvHttpsProxy, pki::kEnvHttpsProxyUpper);
  proxies.all_proxy = pki::FirstFromEnvironment(pki::kEnvAllProxy, pki::kEnvAllProxyUpper);
  proxies.no_proxy = pki::FirstFromEnvironment(pki::kEnvNoProxy, pki::kEnvNoProxyUpper);
  settings.kmp_key_file = pki::TextFromEnvironment(pki::kEnvKmpKeyFile);
  return settings;
}

}  // namespace veskar::standins
