#ifndef VESKAR_PKI_OUTCOME_H_
#define VESKAR_PKI_OUTCOME_H_

namespace veskar::pki {

// What an enrollment came to, in the words the CA and its clients share.
// A CA refuses with one PKIFailureInfo bit per outcome; a client reads the
// bits back as the first outcome in this order whose bit is set, so the
// general outcomes come before the details only the CA itself tells apart.
enum class Outcome {
  kOk,
  kUnknownReference,  // the CA knows no such reference number
  kCodeMismatch,      // the authorisation code is not the registered one
  kAlreadyUsed,       // the pair was used before
  kKeyRejected,       // the public key to certify is not acceptable
  kBadProof,          // the request's signature (proof of possession)
  kUnavailable,       // no CA to answer: none there, no answer, or expired
  kFailed,            // anything else
  // Told apart by the CA only; read back as one of the above.
  kBadInput,   // a malformed name, validity or key
  kNotACa,     // the location holds no usable CA
  kCaExpired,  // the CA certificate is no longer valid
  kStorage,    // a file could not be read or written
  kCrypto,     // OpenSSL failed
  kDelivery,   // the caller's delivery step failed
  // Met by a client only.
  kRejectedLocally,  // the client turned the certificate down
  kBadResponse,      // an answer that is not acceptable CMP
};

// The PKIFailureInfo bit a CA refuses with; systemFailure for the outcomes
// a CA never sends (kOk and the client's own).
int FailureBitOf(Outcome outcome);

// The outcome a client reads from a refusal's PKIFailureInfo bits; kFailed
// when none of them is one of this table's.
Outcome OutcomeOfFailureBits(int bits);

// What a client can know of `outcome`: the outcome its bit reads back as,
// or itself when it has no bit.
Outcome AsClientSees(Outcome outcome);

// A short description, for a person.
const char* OutcomeText(Outcome outcome);

}  // namespace veskar::pki

#endif  // VESKAR_PKI_OUTCOME_H_
