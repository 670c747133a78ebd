#ifndef VESKAR_CA_CMP_SERVICE_H_
#define VESKAR_CA_CMP_SERVICE_H_

#include <openssl/cmp.h>

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "ca/local_ca.h"

namespace veskar::ca {

using pki::Bytes;

struct ServiceOptions {
  // How long an issued certificate waits for the client's confirmation.
  // Until then its pair is held for that transaction; afterwards the
  // certificate is forgotten and the pair can be used again.
  std::chrono::milliseconds confirm_timeout{std::chrono::seconds(60)};
  // Transactions open at once, beyond which new ones are refused.
  size_t max_transactions = 1024;
  // A reference number that is not registered is answered as a wrong code
  // is, so that a client cannot tell the registered numbers. Off only where
  // the client could read the register anyway (a CA folder in process).
  bool hide_unknown_references = true;
};

// The local CA answering Certificate Management Protocol messages: ir, cr
// and p10cr enroll the registered user whose reference number the request
// names as sender key identifier, protected with a password-based MAC
// under the user's authorisation code; certConf spends the pair. A pair is
// spent only when its certificate is confirmed, so a transaction broken off
// before that leaves it usable, and a later request for the pair takes it
// over (the earlier certificate's confirmation is then refused). Responses
// carry the CA certificate (caPubs of an ip, extraCerts of every
// certificate response).
//
// Whoever can reach the service learns little and costs little: of a
// request, the MAC's algorithms are checked first (an allow-list, see
// request_policy.h), then the reference number is looked up and the MAC
// verified, before any key or signature is looked at. A number that is not
// registered and a wrong code get the same answer for the same work (the
// log tells them apart); refusals are answered without verifying anything
// more. Messages of an open transaction that do not carry its MAC, and
// other messages naming it, never touch it.
// Thread-safe: messages of different transactions are handled in parallel,
// those of one transaction one after the other.
class CmpService {
 public:
  CmpService(std::unique_ptr<ca::LocalCa> ca, ServiceOptions options);
  ~CmpService();
  CmpService(const CmpService&) = delete;
  CmpService& operator=(const CmpService&) = delete;

  // What one request came to, for the log.
  struct Outcome {
    std::string request;  // "p10cr", "certConf", ... or "malformed"
    std::string log;      // lines when transactions ended, else empty
    // For a refused request, the line telling why, and the kind of
    // refusal, so that a log can fold repeated ones together ("wrong code
    // for reference number 17", "unknown reference number"); else empty.
    std::string refused;
    std::string refusal_kind;
  };

  // Answers one DER-encoded CMP message. Returns the DER response, or
  // nothing when `der` is not a CMP message at all.
  pki::Bytes Handle(const unsigned char* der, size_t size, Outcome* outcome);

  ca::LocalCa& ca() { return *ca_; }

  struct Transaction;

 private:
  std::shared_ptr<Transaction> NewTransaction(const std::string& id, int type);
  std::shared_ptr<Transaction> Begin(const std::string& id, const OSSL_CMP_MSG* request);
  std::shared_ptr<Transaction> Find(const std::string& id, const OSSL_CMP_MSG* request);
  void Sweep(Outcome* outcome);
  // Makes the pair of a transaction that was certified and not confirmed
  // pending again, unless a later transaction took it over.
  void Release(Transaction* transaction);

  // OpenSSL's server callbacks; the custom context is the Transaction.
  static OSSL_CMP_PKISI* OnCertRequest(OSSL_CMP_SRV_CTX* server, const OSSL_CMP_MSG* request,
                                       int request_id, const OSSL_CRMF_MSG* crm,
                                       const X509_REQ* p10cr, X509** certificate,
                                       STACK_OF(X509) * *chain, STACK_OF(X509) * *ca_pubs);
  static int OnCertConf(OSSL_CMP_SRV_CTX* server, const OSSL_CMP_MSG* request, int request_id,
                        const ASN1_OCTET_STRING* hash, const OSSL_CMP_PKISI* status);
  static void OnError(OSSL_CMP_SRV_CTX* server, const OSSL_CMP_MSG* request,
                      const OSSL_CMP_PKISI* status, const ASN1_INTEGER* code,
                      const OSSL_CMP_PKIFREETEXT* details);

  std::unique_ptr<ca::LocalCa> ca_;
  ServiceOptions options_;
  // MACs of requests naming no registered reference number are checked
  // under this code, so that they cost what the others do.
  const std::string stand_in_code_;
  std::mutex mutex_;  // guards transactions_ and the deadlines
  std::map<std::string, std::shared_ptr<Transaction>> transactions_;
};

// What a served CA takes from the environment, in whole seconds (see
// pki/environment.h for the names):
//   VESKAR_CA_CONFIRM_TIMEOUT  ServiceOptions::confirm_timeout, default 60
//   VESKAR_CA_IO_TIMEOUT       reading a request or writing an answer, default 10
struct ServedCaSettings {
  std::chrono::seconds confirm_timeout{60};
  std::chrono::seconds io_timeout{10};

  static ServedCaSettings FromEnvironment();
};

}  // namespace veskar::ca

#endif  // VESKAR_CA_CMP_SERVICE_H_
