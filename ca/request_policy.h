#ifndef VESKAR_CA_REQUEST_POLICY_H_
#define VESKAR_CA_REQUEST_POLICY_H_

#include <openssl/evp.h>

#include <string>

#include "ca/ca_status.h"
#include "ca/der_fields.h"

namespace veskar::ca {

// What the served CA accepts of a request before it spends any work on
// it: cheap checks of fields, made before the MAC is computed or a
// signature verified.

// Iterations of the password-based MAC's hash at most: clients use 500 to
// 1,024; each iteration is work the CA does for whoever sends a request.
constexpr long kMostMacIterations = 10000;
// Salt bytes at most.
constexpr long kMostMacSalt = 64;

// Whether `protection` is a password-based MAC with a hash of the SHA-1 or
// SHA-2 family and HMAC with one of them, at most kMostMacIterations
// iterations. False with the reason, for the requester.
bool MacAcceptable(const MacParameters& protection, std::string* why);

// The largest keys this CA certifies, so that checking a request's
// signature costs little: RSA and DSA moduli of at most kMostKeyBits, RSA
// public exponents odd and below 2^kMostExponentBits, elliptic curves by
// name only. kKeyRejected with the reason otherwise.
constexpr int kMostKeyBits = 8192;
constexpr int kMostExponentBits = 64;
CaStatus CheckKeyBounds(EVP_PKEY* key);

}  // namespace veskar::ca

#endif  // VESKAR_CA_REQUEST_POLICY_H_
