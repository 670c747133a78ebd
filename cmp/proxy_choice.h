#ifndef VESKAR_CMP_PROXY_CHOICE_H_
#define VESKAR_CMP_PROXY_CHOICE_H_

#include <optional>
#include <string>

namespace veskar::cmp {

// The proxy settings an enrollment is given, as read from the environment.
struct ProxySettings {
  // The toolkit's own setting: when set (even empty) it decides alone, and
  // empty means no proxy at all.
  std::optional<std::string> override_proxy;
  // What the host's environment says, as curl reads it: http_proxy (only
  // lower case), https_proxy or HTTPS_PROXY, all_proxy or ALL_PROXY for
  // either, no_proxy or NO_PROXY.
  std::string http_proxy;
  std::string https_proxy;
  std::string all_proxy;
  std::string no_proxy;
};

// The proxy for a server at `host`:`port` reached over https (`tls`) or
// http: its URL as configured ("" for none). The environment's proxies
// may leave out "http://"; it is added here.
std::string ChooseProxy(const ProxySettings& settings, bool tls, const std::string& host,
                        const std::string& port);

// Whether the no_proxy list `list` exempts `host`:`port` from the proxy:
// "*" exempts every host; an entry is a host name that also exempts its
// subdomains (a leading dot changes nothing), or an IP address compared as
// written, with an optional ":port" that narrows it to that port.
bool ExemptFromProxy(const std::string& list, const std::string& host, const std::string& port);

}  // namespace veskar::cmp

#endif  // VESKAR_CMP_PROXY_CHOICE_H_
