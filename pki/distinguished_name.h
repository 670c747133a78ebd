#ifndef VESKAR_PKI_DISTINGUISHED_NAME_H_
#define VESKAR_PKI_DISTINGUISHED_NAME_H_

#include <string>

#include "pki/openssl_util.h"

namespace veskar::pki {

// Parses a distinguished name written the usual way, most specific part
// first: "CN=Alice Example, O=Example Ltd, C=GB" (RFC 4514 order, "\," and
// "\2C" escapes), or OpenSSL's slash form "/C=GB/O=Example Ltd/CN=Alice",
// which lists the parts the other way round. Attribute types are OpenSSL's
// short or long names (CN, O, OU, C, L, ST, emailAddress, ...). Returns null
// and sets *error on a malformed name, an unknown type, an empty value or a
// value OpenSSL refuses for its type (for example a C that is not two
// letters). Multi-valued parts ("CN=a+UID=b") are not supported.
X509NamePtr ParseName(const std::string& text, std::string* error);

// The name in the form ParseName reads back: "CN=Alice Example, O=Example
// Ltd, C=GB", with UTF-8 kept and special characters escaped.
std::string NameText(const X509_NAME* name);

}  // namespace veskar::pki

#endif  // VESKAR_PKI_DISTINGUISHED_NAME_H_
