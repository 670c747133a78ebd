#include "cmp/proxy_choice.h"

#include "pki/text_fields.h"

namespace veskar::cmp {
namespace {

// Splits an entry into its host and its port ("" when it names none); an
// IPv6 address is written in brackets when a port follows, and may be
// written bare without one.
void SplitEntry(const std::string& entry, std::string* host, std::string* port) {
  port->clear();
  if (!entry.empty() && entry[0] == '[') {
    const size_t close = entry.find(']');
    *host = entry.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    if (close != std::string::npos && entry.compare(close + 1, 1, ":") == 0) {
      *port = entry.substr(close + 2);
    }
    return;
  }
  const size_t colon = entry.find(':');
  if (colon != std::string::npos && entry.find(':', colon + 1) == std::string::npos) {
    *host = entry.substr(0, colon);
    *port = entry.substr(colon + 1);
  } else {
    *host = entry;
  }
}

// An IP address, which only matches as written: no suffix of one is a
// domain.
bool IsAddress(const std::string& text) {
  return text.find(':') != std::string::npos ||
         text.find_first_not_of("0123456789.") == std::string::npos;
}

}  // namespace

bool ExemptFromProxy(const std::string& list, const std::string& host, const std::string& port) {
  const std::string name = pki::AsciiLower(host);
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find_first_of(", ", start);
    if (end == std::string::npos) end = list.size();
    const std::string entry = pki::AsciiLower(pki::TrimmedBlanks(list.substr(start, end - start)));
    start = end + 1;
    if (entry.empty()) continue;
    if (entry == "*") return true;
    std::string entry_host;
    std::string entry_port;
    SplitEntry(entry, &entry_host, &entry_port);
    if (!entry_port.empty() && entry_port != port) continue;
    while (!entry_host.empty() && entry_host[0] == '.') entry_host.erase(0, 1);
    if (entry_host.empty()) continue;
    if (name == entry_host) return true;
    if (IsAddress(entry_host)) continue;
    if (name.size() > entry_host.size() &&
        name.compare(name.size() - entry_host.size(), entry_host.size(), entry_host) == 0 &&
        name[name.size() - entry_host.size() - 1] == '.') {
      return true;
    }
  }
  return false;
}

std::string ChooseProxy(const ProxySettings& settings, bool tls, const std::string& host,
                        const std::string& port) {
  if (settings.override_proxy) return *settings.override_proxy;
  std::string proxy = tls ? settings.https_proxy : settings.http_proxy;
  if (proxy.empty()) proxy = settings.all_proxy;
  proxy = pki::TrimmedBlanks(proxy);
  if (proxy.empty() || ExemptFromProxy(settings.no_proxy, host, port)) return "";
  return proxy.find("://") == std::string::npos ? "http://" + proxy : proxy;
}

}  // namespace veskar::cmp
