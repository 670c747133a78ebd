#include "ca/cmp_service.h"

#include <openssl/err.h>

#include <climits>

#include "ca/der_fields.h"
#include "pki/cmp_util.h"
#include "pki/distinguished_name.h"
#include "pki/environment.h"
#include "pki/outcome.h"

namespace veskar::ca {

using Clock = std::chrono::steady_clock;

// One enrollment, from its certificate request to the confirmation.
struct CmpService::Transaction {
  CmpService* service = nullptr;
  std::string id;  // transactionID, hexadecimal
  pki::SrvCtxPtr server;
  std::mutex mutex;  // one message of the transaction at a time

  int reference_number = 0;
  std::string code;  // the registered authorisation code
  // Set when the request is to be refused before anything else, because
  // its protection cannot be checked or does not verify.
  std::string refusal;
  int refusal_bit = OSSL_CMP_PKIFAILUREINFO_badMessageCheck;

  Clock::time_point deadline;  // guarded by the service's mutex

  ca::IssuedCertificate made;
  bool certified = false;
  bool confirmed = false;
  bool finished = false;
  std::string log;  // why it ended
};

namespace {

const char* BodyName(int type) {
  switch (type) {
    case pki::kBodyIr:
      return "ir";
    case pki::kBodyCr:
      return "cr";
    case pki::kBodyP10cr:
      return "p10cr";
    case pki::kBodyKur:
      return "kur";
    case pki::kBodyCertConf:
      return "certConf";
    case pki::kBodyPollReq:
      return "pollReq";
    case pki::kBodyError:
      return "error";
    case pki::kBodyGenm:
      return "genm";
    case pki::kBodyRr:
      return "rr";
    default:
      return "other";
  }
}

bool StartsTransaction(int type) {
  return type == pki::kBodyIr || type == pki::kBodyCr || type == pki::kBodyP10cr;
}

OSSL_CMP_PKISI* Rejection(int bit, const std::string& text) {
  return OSSL_CMP_STATUSINFO_new(OSSL_CMP_PKISTATUS_rejection, 1 << bit, text.c_str());
}

pki::X509StackPtr StackOf(X509* certificate) {
  pki::X509StackPtr stack(sk_X509_new_null());
  X509* copy = X509_dup(certificate);
  if (!stack || copy == nullptr || sk_X509_push(stack.get(), copy) <= 0) {
    X509_free(copy);
    return nullptr;
  }
  return stack;
}

}  // namespace

CmpService::CmpService(std::unique_ptr<ca::LocalCa> ca, ServiceOptions options)
    : ca_(std::move(ca)), options_(options) {}

CmpService::~CmpService() = default;

std::shared_ptr<CmpService::Transaction> CmpService::NewTransaction(const std::string& id,
                                                                    int type) {
  auto transaction = std::make_shared<Transaction>();
  transaction->service = this;
  transaction->id = id;
  transaction->deadline = Clock::now() + options_.confirm_timeout;
  transaction->server.reset(OSSL_CMP_SRV_CTX_new(nullptr, nullptr));
  OSSL_CMP_SRV_CTX* server = transaction->server.get();
  if (server == nullptr ||
      OSSL_CMP_SRV_CTX_init(server, transaction.get(), OnCertRequest, nullptr, nullptr, OnError,
                            OnCertConf, nullptr) != 1 ||
      OSSL_CMP_SRV_CTX_set_grant_implicit_confirm(server, 0) != 1 ||
      OSSL_CMP_SRV_CTX_set_accept_raverified(server, 0) != 1 ||
      !pki::Quiet(OSSL_CMP_SRV_CTX_get0_cmp_ctx(server))) {
    return nullptr;
  }
  // Anything but a new enrollment or a step of an open one is answered
  // with an error; unprotected, as there is no key to protect it with.
  if (!StartsTransaction(type)) {
    transaction->refusal = "no open transaction " + id;
    OSSL_CMP_SRV_CTX_set_accept_unprotected(server, 1);
    OSSL_CMP_SRV_CTX_set_send_unprotected_errors(server, 1);
  }
  return transaction;
}

std::shared_ptr<CmpService::Transaction> CmpService::Begin(const std::string& id,
                                                           const OSSL_CMP_MSG* request) {
  std::shared_ptr<Transaction> transaction = NewTransaction(id, OSSL_CMP_MSG_get_bodytype(request));
  if (!transaction) return nullptr;
  auto refuse = [&](int bit, std::string why) {
    transaction->refusal = std::move(why);
    transaction->refusal_bit = bit;
    OSSL_CMP_SRV_CTX_set_accept_unprotected(transaction->server.get(), 1);
    OSSL_CMP_SRV_CTX_set_send_unprotected_errors(transaction->server.get(), 1);
    return transaction;
  };
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (id.empty()) return refuse(OSSL_CMP_PKIFAILUREINFO_badDataFormat, "no transaction ID");
    if (transactions_.count(id) != 0) {
      return refuse(OSSL_CMP_PKIFAILUREINFO_transactionIdInUse, "transaction ID " + id + " in use");
    }
    if (transactions_.size() >= options_.max_transactions) {
      return refuse(OSSL_CMP_PKIFAILUREINFO_systemUnavail,
                    "too many enrollments in progress; try again later");
    }
  }
  const std::optional<std::string> key_id = SenderKeyId(request);
  if (!key_id) {
    return refuse(OSSL_CMP_PKIFAILUREINFO_badMessageCheck,
                  "the request names no reference number (sender key identifier)");
  }
  int reference = 0;
  ca::RegisteredUser user;
  if (!ca::ParseReferenceNumber(*key_id, &reference)) {
    return refuse(OSSL_CMP_PKIFAILUREINFO_signerNotTrusted,
                  "reference number '" + pki::Printable(*key_id) + "' is not registered");
  }
  const ca::CaStatus found = ca_->FindUser(reference, &user);
  if (!found.ok()) return refuse(pki::FailureBitOf(found.error), found.message);
  transaction->reference_number = reference;
  transaction->code = user.authorisation_code;

  // The request must carry a MAC under the registered code. Checked apart
  // first, so that a mismatch is answered with its own reason.
  pki::CtxPtr check(OSSL_CMP_CTX_new(nullptr, nullptr));
  if (!check || !pki::Quiet(check.get()) || !pki::SetSecret(check.get(), user.authorisation_code) ||
      OSSL_CMP_validate_msg(check.get(), request) != 1) {
    ERR_clear_error();
    return refuse(OSSL_CMP_PKIFAILUREINFO_badMessageCheck,
                  "bad message check: the authorisation code does not match reference number " +
                      std::to_string(reference));
  }
  OSSL_CMP_CTX* context = OSSL_CMP_SRV_CTX_get0_cmp_ctx(transaction->server.get());
  if (!pki::SetSecret(context, user.authorisation_code) ||
      OSSL_CMP_CTX_set1_referenceValue(context,
                                       reinterpret_cast<const unsigned char*>(key_id->data()),
                                       static_cast<int>(key_id->size())) != 1) {
    return nullptr;
  }
  return transaction;
}

std::shared_ptr<CmpService::Transaction> CmpService::Find(const std::string& id, int type) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = transactions_.find(id);
    if (it != transactions_.end()) return it->second;
  }
  return NewTransaction(id, type);
}

bool CmpService::Hold(Transaction* transaction) {
  std::lock_guard<std::mutex> guard(mutex_);
  const Clock::time_point now = Clock::now();
  auto it = holders_.find(transaction->reference_number);
  if (it != holders_.end() && it->second != transaction && it->second->deadline > now) {
    return false;
  }
  holders_[transaction->reference_number] = transaction;
  transaction->deadline = now + options_.confirm_timeout;
  return true;
}

void CmpService::Release(Transaction* transaction) {
  std::lock_guard<std::mutex> guard(mutex_);
  ReleaseLocked(transaction);
}

void CmpService::ReleaseLocked(Transaction* transaction) {
  auto it = holders_.find(transaction->reference_number);
  if (it != holders_.end() && it->second == transaction) holders_.erase(it);
  if (transaction->certified && !transaction->confirmed) {
    ca_->Release(transaction->reference_number, transaction->id);
  }
}

void CmpService::Sweep(Outcome* outcome) {
  std::lock_guard<std::mutex> guard(mutex_);
  const Clock::time_point now = Clock::now();
  for (auto it = transactions_.begin(); it != transactions_.end();) {
    if (it->second->deadline > now) {
      ++it;
      continue;
    }
    if (!outcome->log.empty()) outcome->log += '\n';
    outcome->log += "transaction " + it->first + ", reference number " +
                    std::to_string(it->second->reference_number) +
                    ": no confirmation in time; the pair is usable again";
    ReleaseLocked(it->second.get());
    it = transactions_.erase(it);
  }
}

OSSL_CMP_PKISI* CmpService::OnCertRequest(OSSL_CMP_SRV_CTX* server, const OSSL_CMP_MSG* request,
                                          int /*request_id*/, const OSSL_CRMF_MSG* crm,
                                          const X509_REQ* p10cr, X509** certificate,
                                          STACK_OF(X509) * *chain, STACK_OF(X509) * *ca_pubs) {
  auto* transaction = static_cast<Transaction*>(OSSL_CMP_SRV_CTX_get0_custom_ctx(server));
  CmpService* service = transaction->service;
  const std::string reference = std::to_string(transaction->reference_number);
  auto reject = [&](int bit, const std::string& why) {
    transaction->log = "reference number " + reference + ": refused: " + why;
    return Rejection(bit, why);
  };
  if (!transaction->refusal.empty()) {
    transaction->log = "refused: " + transaction->refusal;
    return Rejection(transaction->refusal_bit, transaction->refusal);
  }
  if (OSSL_CMP_MSG_get_bodytype(request) == pki::kBodyKur) {
    return reject(OSSL_CMP_PKIFAILUREINFO_badRequest, "key update is not offered");
  }
  pki::EvpPkeyPtr key;
  if (p10cr != nullptr) {
    EVP_PKEY* requested = X509_REQ_get0_pubkey(const_cast<X509_REQ*>(p10cr));
    if (requested != nullptr && EVP_PKEY_up_ref(requested) == 1) key.reset(requested);
  } else if (crm != nullptr) {
    key = TemplatePublicKey(crm);
  }
  if (!key) {
    return reject(OSSL_CMP_PKIFAILUREINFO_badCertTemplate, "the request carries no public key");
  }
  // A second request for a pair being enrolled is a duplicate while the
  // first one's certificate awaits its confirmation.
  if (!service->Hold(transaction)) {
    return reject(OSSL_CMP_PKIFAILUREINFO_duplicateCertReq,
                  "reference number " + reference +
                      " is being enrolled in another transaction; try again when it ends");
  }
  const ca::CaStatus status = service->ca_->Certify(
      transaction->reference_number, transaction->code, key.get(), &transaction->made);
  pki::X509StackPtr chain_out;
  pki::X509StackPtr ca_out;
  if (status.ok()) {
    chain_out = StackOf(service->ca_->certificate());
    ca_out = StackOf(service->ca_->certificate());
  }
  X509* issued = status.ok() ? X509_dup(transaction->made.certificate.get()) : nullptr;
  ca::CaStatus held = status;
  if (status.ok())
    held = service->ca_->Hold(transaction->reference_number, transaction->id, transaction->made);
  if (!held.ok() || !chain_out || !ca_out || issued == nullptr) {
    X509_free(issued);
    service->Release(transaction);
    return reject(pki::FailureBitOf(held.ok() ? pki::Outcome::kFailed : held.error),
                  held.ok() ? "out of memory" : held.message);
  }
  transaction->certified = true;
  *certificate = issued;
  *chain = chain_out.release();
  *ca_pubs = ca_out.release();
  return OSSL_CMP_STATUSINFO_new(OSSL_CMP_PKISTATUS_accepted, 0, nullptr);
}

int CmpService::OnCertConf(OSSL_CMP_SRV_CTX* server, const OSSL_CMP_MSG* /*request*/,
                           int /*request_id*/, const ASN1_OCTET_STRING* hash,
                           const OSSL_CMP_PKISI* status) {
  auto* transaction = static_cast<Transaction*>(OSSL_CMP_SRV_CTX_get0_custom_ctx(server));
  CmpService* service = transaction->service;
  const std::string reference = std::to_string(transaction->reference_number);
  transaction->finished = true;
  // The hold lasts until the register says whether the pair is spent: let go
  // earlier, and a second request for the pair is certified in between,
  // only to fail at its own confirmation instead of being told it is used.
  struct HoldRelease {
    CmpService* service;
    Transaction* transaction;
    ~HoldRelease() { service->Release(transaction); }
  } release{service, transaction};
  if (!transaction->certified) {
    transaction->log = "unexpected certConf";
    ERR_raise_data(ERR_LIB_CMP, CMP_R_ERROR_UNEXPECTED_CERTCONF, "no certificate to confirm");
    return 0;
  }
  const int client_status = status == nullptr ? OSSL_CMP_PKISTATUS_accepted : PkiStatusOf(status);
  if (client_status != OSSL_CMP_PKISTATUS_accepted &&
      client_status != OSSL_CMP_PKISTATUS_grantedWithMods) {
    transaction->log = "reference number " + reference +
                       ": the client rejected its certificate; the pair stays usable";
    return 1;
  }
  X509* certificate = transaction->made.certificate.get();
  ASN1_OCTET_STRING* expected = X509_digest_sig(certificate, nullptr, nullptr);
  const bool same = expected != nullptr && hash != nullptr && ASN1_STRING_cmp(expected, hash) == 0;
  ASN1_OCTET_STRING_free(expected);
  if (!same) {
    transaction->log = "reference number " + reference + ": confirmation of another certificate";
    ERR_raise_data(ERR_LIB_CMP, CMP_R_CERTHASH_UNMATCHED,
                   "the confirmed hash is not the issued certificate's");
    return 0;
  }
  bool superseded = false;
  const ca::CaStatus recorded = service->ca_->Confirm(
      transaction->reference_number, transaction->id, transaction->made, &superseded);
  if (!recorded.ok()) {
    transaction->log = "reference number " + reference + ": not issued: " + recorded.message;
    ERR_raise_data(ERR_LIB_CMP, CMP_R_ERROR_PROCESSING_MESSAGE, "%s", recorded.message.c_str());
    return 0;
  }
  transaction->confirmed = true;
  transaction->log = "reference number " + reference + ": issued serial " +
                     pki::SerialText(certificate) + " to " +
                     pki::NameText(X509_get_subject_name(certificate));
  return 1;
}

void CmpService::OnError(OSSL_CMP_SRV_CTX* server, const OSSL_CMP_MSG* /*request*/,
                         const OSSL_CMP_PKISI* /*status*/, const ASN1_INTEGER* /*code*/,
                         const OSSL_CMP_PKIFREETEXT* /*details*/) {
  auto* transaction = static_cast<Transaction*>(OSSL_CMP_SRV_CTX_get0_custom_ctx(server));
  transaction->finished = true;
  transaction->service->Release(transaction);
  transaction->log = "reference number " + std::to_string(transaction->reference_number) +
                     ": the client broke off; the pair stays usable";
}

pki::Bytes CmpService::Handle(const unsigned char* der, size_t size, Outcome* outcome) {
  *outcome = Outcome();
  Sweep(outcome);
  const unsigned char* p = der;
  pki::MsgPtr request(size == 0 || size > static_cast<size_t>(LONG_MAX)
                          ? nullptr
                          : d2i_OSSL_CMP_MSG(nullptr, &p, static_cast<long>(size)));
  if (!request || p != der + size) {
    ERR_clear_error();
    outcome->request = "malformed";
    if (!outcome->log.empty()) outcome->log += '\n';
    outcome->log += "refused: not a CMP message";
    return {};
  }
  const int type = OSSL_CMP_MSG_get_bodytype(request.get());
  outcome->request = BodyName(type);
  const std::string id =
      pki::HexText(OSSL_CMP_HDR_get0_transactionID(OSSL_CMP_MSG_get0_header(request.get())));
  std::shared_ptr<Transaction> transaction =
      StartsTransaction(type) ? Begin(id, request.get()) : Find(id, type);
  if (!transaction) {
    ERR_clear_error();
    return {};
  }
  pki::MsgPtr response;
  {
    std::lock_guard<std::mutex> guard(transaction->mutex);
    ERR_set_mark();
    response.reset(OSSL_CMP_SRV_process_request(transaction->server.get(), request.get()));
    ERR_pop_to_mark();
    // A certificate request that produced no certificate ends here, as
    // does anything answered without an open transaction.
    if (!transaction->certified) transaction->finished = true;
  }
  const bool registered = StartsTransaction(type) && !transaction->finished && !id.empty();
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (registered) {
      transactions_[id] = transaction;
    } else if (transaction->finished) {
      auto it = transactions_.find(id);
      if (it != transactions_.end() && it->second == transaction) transactions_.erase(it);
    }
  }
  if (transaction->finished) {
    std::string line = !transaction->log.empty()       ? transaction->log
                       : !transaction->refusal.empty() ? "refused: " + transaction->refusal
                                                       : std::string(BodyName(type)) + " refused";
    if (!outcome->log.empty()) outcome->log += '\n';
    outcome->log += line;
  }
  if (!response) return {};
  return pki::Encoded(response.get(), i2d_OSSL_CMP_MSG);
}

ServedCaSettings ServedCaSettings::FromEnvironment() {
  ServedCaSettings settings;
  settings.confirm_timeout = pki::SecondsFromEnvironment(
      pki::kEnvCaConfirmTimeout, static_cast<int>(settings.confirm_timeout.count()),
      pki::kMostSeconds);
  settings.io_timeout = pki::SecondsFromEnvironment(
      pki::kEnvCaIoTimeout, static_cast<int>(settings.io_timeout.count()), pki::kMostSeconds);
  return settings;
}

}  // namespace veskar::ca
