#include "pki/outcome.h"

#include <openssl/cmp.h>

#include <cstddef>

namespace veskar::pki {
namespace {

constexpr int kNoBit = -1;

struct Row {
  Outcome outcome;
  int bit;
  const char* text;
};

constexpr Row kRows[] = {
    {Outcome::kOk, kNoBit, "done"},
    {Outcome::kUnknownReference, OSSL_CMP_PKIFAILUREINFO_signerNotTrusted,
     "the CA knows no such reference number"},
    {Outcome::kCodeMismatch, OSSL_CMP_PKIFAILUREINFO_badMessageCheck,
     "the authorisation code does not match the reference number"},
    {Outcome::kAlreadyUsed, OSSL_CMP_PKIFAILUREINFO_duplicateCertReq,
     "the reference number and authorisation code were already used"},
    {Outcome::kKeyRejected, OSSL_CMP_PKIFAILUREINFO_badCertTemplate,
     "the public key is not acceptable"},
    {Outcome::kBadProof, OSSL_CMP_PKIFAILUREINFO_badPOP, "the request's signature does not verify"},
    {Outcome::kUnavailable, OSSL_CMP_PKIFAILUREINFO_systemUnavail, "the CA is not available"},
    {Outcome::kFailed, OSSL_CMP_PKIFAILUREINFO_systemFailure, "the CA failed to certify"},
    {Outcome::kBadInput, OSSL_CMP_PKIFAILUREINFO_badCertTemplate,
     "a name, validity or key is malformed"},
    {Outcome::kNotACa, OSSL_CMP_PKIFAILUREINFO_systemUnavail, "the location holds no usable CA"},
    {Outcome::kCaExpired, OSSL_CMP_PKIFAILUREINFO_systemUnavail, "the CA certificate has expired"},
    {Outcome::kStorage, OSSL_CMP_PKIFAILUREINFO_systemFailure,
     "a CA file cannot be read or written"},
    {Outcome::kCrypto, OSSL_CMP_PKIFAILUREINFO_systemFailure, "a cryptographic operation failed"},
    {Outcome::kDelivery, OSSL_CMP_PKIFAILUREINFO_systemFailure,
     "the certificate could not be delivered"},
    {Outcome::kRejectedLocally, kNoBit, "the client turned the certificate down"},
    {Outcome::kBadResponse, kNoBit, "the CA's answer is not acceptable"},
};

constexpr bool RowsInEnumOrder() {
  for (size_t i = 0; i < sizeof(kRows) / sizeof(kRows[0]); ++i) {
    if (static_cast<size_t>(kRows[i].outcome) != i) return false;
  }
  return true;
}
static_assert(RowsInEnumOrder(), "one row per outcome, in the enum's order");

const Row& RowOf(Outcome outcome) { return kRows[static_cast<size_t>(outcome)]; }

}  // namespace

int FailureBitOf(Outcome outcome) {
  const int bit = RowOf(outcome).bit;
  return bit == kNoBit ? OSSL_CMP_PKIFAILUREINFO_systemFailure : bit;
}

Outcome OutcomeOfFailureBits(int bits) {
  for (const Row& row : kRows) {
    if (row.bit != kNoBit && (bits & (1 << row.bit)) != 0) return row.outcome;
  }
  return Outcome::kFailed;
}

Outcome AsClientSees(Outcome outcome) {
  const int bit = RowOf(outcome).bit;
  return bit == kNoBit ? outcome : OutcomeOfFailureBits(1 << bit);
}

const char* OutcomeText(Outcome outcome) { return RowOf(outcome).text; }

}  // namespace veskar::pki
