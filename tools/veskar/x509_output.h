#ifndef VESKAR_TOOLS_VESKAR_X509_OUTPUT_H_
#define VESKAR_TOOLS_VESKAR_X509_OUTPUT_H_

#include <string>

#include "file_io.h"

namespace veskar_cli {

enum class CertFormat { kPem, kDer };

// "pem" or "der", in any case. False for anything else.
bool ParseCertFormat(const std::string& text, CertFormat* format);

// Reads the PKCS #10 request in `path`, PEM or DER, into *der. Fails with
// *error when the file cannot be read or holds no request.
bool ReadRequest(const std::string& path, Bytes* der, std::string* error);

// Makes a fresh EC P-256 key, writes it to `key_path` as unencrypted PKCS #8
// PEM in a new owner-only file (an OutputKind::kNewKey output), and
// fills *der with a PKCS #10 request for it, named CN=`common_name` and
// signed by it. Fails with *error, leaving no key file behind.
bool NewKeyAndRequest(const std::string& key_path, const std::string& common_name, Bytes* der,
                      std::string* error);

// Writes the DER certificate `der` (`size` bytes) to `path` in `format`
// as an OutputKind::kCertificate output. Fails with *error when `der` holds
// no certificate or `path` cannot take it.
bool WriteCertificate(const std::string& path, const unsigned char* der, size_t size,
                      CertFormat format, std::string* error);

// A few lines about the DER certificate `der`: subject, issuer, serial
// number and validity, each "  <what>: <value>\n". Empty when `der` holds no
// certificate.
std::string DescribeCertificate(const unsigned char* der, size_t size);

}  // namespace veskar_cli

#endif  // VESKAR_TOOLS_VESKAR_X509_OUTPUT_H_
