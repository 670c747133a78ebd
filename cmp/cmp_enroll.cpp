#include "cmp/cmp_enroll.h"

#include <openssl/err.h>
#include <openssl/http.h>
#include <openssl/ssl.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <thread>
#include <utility>

#include "cmp/http_link.h"
#include "cmp/system_trust.h"
#include "pki/cmp_util.h"
#include "pki/distinguished_name.h"
#include "pki/environment.h"
#include "pki/signals.h"
#include "pki/thread_slot.h"

namespace veskar::cmp {
namespace {

using Clock = std::chrono::steady_clock;

// What the certificate confirmation callback works with.
struct Confirmation {
  const Enrollment* enrollment = nullptr;
  pki::X509Ptr ca_certificate;
  pki::Outcome outcome = pki::Outcome::kRejectedLocally;
  std::string rejection;  // why the certificate was turned down here
};

// How an answer is protected.
enum class Protection { kNone, kMac, kSignature };

// What the transfer callback works with: the way to the CA and the time
// the whole enrollment may take.
struct Session {
  const Enrollment* enrollment = nullptr;
  std::unique_ptr<HttpLink> link;  // for a URL; else the in-process answer
  Clock::time_point deadline;
  std::string failure;                        // why the last message did not go through
  Protection protection = Protection::kNone;  // of the last answer
};

// The lines OpenSSL's CMP code logs on this thread while it enrolls: the
// last error, and whether a negative answer was taken without (valid)
// protection.
struct LogState {
  std::string last_error;
  bool unauthenticated = false;
};
struct LogStateTag;
LogState& ThreadLogState() { return pki::ThreadSlot<LogState, LogStateTag>::Mine(); }

int KeepLog(const char* /*func*/, const char* /*file*/, int /*line*/, OSSL_CMP_severity level,
            const char* message) {
  if (message == nullptr) return 1;
  if (level <= OSSL_CMP_LOG_ERR) ThreadLogState().last_error = message;
  // OpenSSL takes an unprotected (or wrongly protected) refusal only after
  // saying so, as a warning.
  if (level == OSSL_CMP_LOG_WARNING && std::strstr(message, "ignoring ") != nullptr &&
      std::strstr(message, " protection of ") != nullptr) {
    ThreadLogState().unauthenticated = true;
  }
  return 1;
}

// The protection of `message`, read from its encoding: OpenSSL 3.0 has no
// getter for the header's protectionAlg ([1] after pvno, sender and
// recipient).
Protection ProtectionOf(const OSSL_CMP_MSG* message) {
  const pki::Bytes der = pki::Encoded(message, i2d_OSSL_CMP_MSG);
  const unsigned char* p = der.data();
  const unsigned char* end = p + der.size();
  long length = 0;
  int tag = 0;
  int klass = 0;
  const auto next = [&](const unsigned char* limit) {
    return (ASN1_get_object(&p, &length, &tag, &klass, limit - p) & 0x80) == 0 &&
           length <= limit - p;
  };
  if (der.empty() || !next(end) || !next(end)) return Protection::kNone;
  const unsigned char* header_end = p + length;
  for (int field = 0; p < header_end && next(header_end); ++field) {
    if (field >= 3 && klass == V_ASN1_CONTEXT_SPECIFIC && tag == 1) {
      const unsigned char* algorithm_end = p + length;
      if (!next(algorithm_end)) return Protection::kSignature;
      ASN1_OBJECT* oid = d2i_ASN1_OBJECT(nullptr, &p, algorithm_end - p);
      const int nid = oid != nullptr ? OBJ_obj2nid(oid) : NID_undef;
      ASN1_OBJECT_free(oid);
      return nid == NID_id_PasswordBasedMAC || nid == NID_id_DHBasedMac ? Protection::kMac
                                                                        : Protection::kSignature;
    }
    p += length;
  }
  return Protection::kNone;
}

// Seconds left of the whole enrollment, rounded up.
int SecondsLeft(const Session& session) {
  const auto left = session.deadline - Clock::now();
  return static_cast<int>(std::chrono::ceil<std::chrono::seconds>(left).count());
}

// Every message goes through here: over the link within the message
// time-out and what is left of the total one, or to the in-process CA.
OSSL_CMP_MSG* Transfer(OSSL_CMP_CTX* context, const OSSL_CMP_MSG* request) {
  auto* session = static_cast<Session*>(OSSL_CMP_CTX_get_transfer_cb_arg(context));
  const Enrollment& enrollment = *session->enrollment;
  OSSL_CMP_MSG* answer = nullptr;
  if (session->link) {
    const int left = SecondsLeft(*session);
    const int seconds = std::min(enrollment.options.message_timeout, left);
    if (seconds <= 0) {
      session->failure = "the total time-out of " +
                         std::to_string(enrollment.options.total_timeout) + " s ran out";
      return nullptr;
    }
    answer = session->link->Exchange(request, seconds);
    if (answer == nullptr) session->failure = session->link->failure();
  } else {
    const pki::Bytes asked = pki::Encoded(request, i2d_OSSL_CMP_MSG);
    const pki::Bytes got = asked.empty() ? pki::Bytes() : enrollment.transport.answer(asked);
    const unsigned char* p = got.data();
    answer = got.empty() ? nullptr : d2i_OSSL_CMP_MSG(nullptr, &p, static_cast<long>(got.size()));
    if (answer == nullptr) session->failure = "no answer";
  }
  if (answer != nullptr) session->protection = ProtectionOf(answer);
  return answer;
}

// The CA certificate among `candidates` that issued `certificate`, read
// into `libctx`: OpenSSL reads a response's certificates into the default
// context, whose algorithms may not be there for the signature check.
pki::X509Ptr IssuerAmong(STACK_OF(X509) * candidates, X509* certificate, OSSL_LIB_CTX* libctx) {
  pki::X509StackPtr owned(candidates);
  for (int i = 0; owned && i < sk_X509_num(owned.get()); ++i) {
    const pki::Bytes der = pki::CertificateToDer(sk_X509_value(owned.get(), i));
    pki::X509Ptr candidate = pki::CertificateFromBytes(der.data(), der.size(), libctx);
    EVP_PKEY* key = candidate ? X509_get0_pubkey(candidate.get()) : nullptr;
    if (key != nullptr && X509_check_issued(candidate.get(), certificate) == X509_V_OK &&
        X509_verify(certificate, key) == 1) {
      return candidate;
    }
  }
  return nullptr;
}

// Runs before certConf: the certificate must be for our key and come with
// the CA certificate that issued it; then the caller's delivery. A refusal
// is recorded before anything is returned, so that the user reads this
// client's reason and not the status of the rejection it sends.
int ConfirmCertificate(OSSL_CMP_CTX* context, X509* certificate, int fail_info, const char** text) {
  auto* confirmation = static_cast<Confirmation*>(OSSL_CMP_CTX_get_certConf_cb_arg(context));
  const Enrollment& enrollment = *confirmation->enrollment;
  EVP_PKEY* requested =
      enrollment.pkcs10 != nullptr ? X509_REQ_get0_pubkey(enrollment.pkcs10) : enrollment.new_key;
  auto reject = [&](pki::Outcome outcome, std::string why, int bit) {
    confirmation->outcome = outcome;
    confirmation->rejection = std::move(why);
    *text = "certificate not accepted by the client";
    return fail_info != 0 ? fail_info : 1 << bit;
  };
  // OpenSSL's own check (OSSL_CMP_certConf_cb) takes its argument as a trust
  // store; the chain is checked here instead, against the CA that answers.
  if (requested == nullptr || EVP_PKEY_eq(X509_get0_pubkey(certificate), requested) != 1) {
    return reject(pki::Outcome::kBadResponse,
                  "the CA returned a certificate for another key; refused it and told the CA",
                  OSSL_CMP_PKIFAILUREINFO_incorrectData);
  }
  if (fail_info != 0) {
    return reject(pki::Outcome::kBadResponse,
                  "the CA's certificate does not fit the request; refused it and told the CA",
                  OSSL_CMP_PKIFAILUREINFO_badCertId);
  }
  OSSL_LIB_CTX* libctx = enrollment.libctx;
  pki::X509Ptr ca = IssuerAmong(OSSL_CMP_CTX_get1_caPubs(context), certificate, libctx);
  if (!ca) ca = IssuerAmong(OSSL_CMP_CTX_get1_extraCertsIn(context), certificate, libctx);
  if (!ca) {
    return reject(pki::Outcome::kBadResponse,
                  "the CA returned its certificate without the CA certificate that issued it",
                  OSSL_CMP_PKIFAILUREINFO_badCertId);
  }
  std::string why;
  if (enrollment.accept && !enrollment.accept(certificate, ca.get(), &why)) {
    return reject(pki::Outcome::kRejectedLocally, why, OSSL_CMP_PKIFAILUREINFO_badCertId);
  }
  confirmation->ca_certificate = std::move(ca);
  return 0;
}

// The server's status, failure bits and texts as one line, marked when the
// answer came over the network unauthenticated: anyone on the way could
// have written it.
std::string RefusalText(OSSL_CMP_CTX* context, pki::Outcome outcome, bool over_network) {
  std::string text;
  const OSSL_CMP_PKIFREETEXT* strings = OSSL_CMP_CTX_get0_statusString(context);
  for (int i = 0; i < sk_ASN1_UTF8STRING_num(strings); ++i) {
    const ASN1_UTF8STRING* line = sk_ASN1_UTF8STRING_value(strings, i);
    if (!text.empty()) text += "; ";
    text.append(reinterpret_cast<const char*>(ASN1_STRING_get0_data(line)),
                static_cast<size_t>(ASN1_STRING_length(line)));
  }
  char buffer[OSSL_CMP_PKISI_BUFLEN];
  const char* status = OSSL_CMP_CTX_snprint_PKIStatus(context, buffer, sizeof(buffer));
  if (text.empty()) {
    text = std::string(pki::OutcomeText(outcome)) +
           (status != nullptr ? std::string(" (") + status + ")" : "");
  }
  return over_network && ThreadLogState().unauthenticated
             ? "the server's unauthenticated answer: " + text
             : text;
}

// The errors OpenSSL queued: the first one's text with its detail, and
// whether one of them is about the protection of an answer.
struct Errors {
  std::string first;
  bool protection = false;
  bool key_usage = false;
};

Errors TakeErrors() {
  Errors errors;
  const char* data = nullptr;
  int flags = 0;
  unsigned long error;
  while ((error = ERR_get_error_all(nullptr, nullptr, nullptr, &data, &flags)) != 0) {
    if (ERR_GET_LIB(error) == ERR_LIB_CMP) {
      switch (ERR_GET_REASON(error)) {
        case CMP_R_MISSING_KEY_USAGE_DIGITALSIGNATURE:
          errors.key_usage = true;
          errors.protection = true;
          break;
        case CMP_R_MISSING_TRUST_ANCHOR:
        case CMP_R_NO_SUITABLE_SENDER_CERT:
        case CMP_R_ERROR_VALIDATING_PROTECTION:
        case CMP_R_ERROR_VALIDATING_SIGNATURE:
        case CMP_R_SRVCERT_DOES_NOT_VALIDATE_MSG:
        case CMP_R_MISSING_PROTECTION:
          errors.protection = true;
          break;
        default:
          break;
      }
    }
    if (errors.first.empty()) {
      const char* reason = ERR_reason_error_string(error);
      errors.first = reason != nullptr ? reason : "error " + std::to_string(error);
      if ((flags & ERR_TXT_STRING) != 0 && data != nullptr && data[0] != '\0') {
        errors.first += std::string(" (") + data + ")";
      }
    }
  }
  return errors;
}

EnrollResult Failure(pki::Outcome outcome, std::string reason) {
  EnrollResult result;
  result.outcome = outcome;
  result.reason = std::move(reason);
  return result;
}

// What keeps `proxy` from naming an HTTP proxy as http://host[:port]; ""
// when nothing does. A user name is not quoted back: it may carry a password.
std::string ProxyProblem(const std::string& proxy, std::string* host, std::string* port) {
  int use_tls = 0;
  char* user = nullptr;
  char* parsed_host = nullptr;
  char* parsed_port = nullptr;
  char* path = nullptr;
  const bool parsed = OSSL_HTTP_parse_url(proxy.c_str(), &use_tls, &user, &parsed_host,
                                          &parsed_port, nullptr, &path, nullptr, nullptr) == 1;
  ERR_clear_error();
  std::string problem;
  if (parsed && user[0] != '\0') {
    problem = "the proxy's URL holds a user name, which is not supported";
  } else if (!parsed || use_tls != 0 || proxy.rfind("http://", 0) != 0 || parsed_host[0] == '\0' ||
             std::strcmp(path, "/") != 0) {
    problem = "the proxy '" + pki::Printable(proxy) + "' is not an http://host:port URL";
  } else {
    *host = parsed_host;
    *port = parsed_port;
  }
  OPENSSL_free(user);
  OPENSSL_free(parsed_host);
  OPENSSL_free(parsed_port);
  OPENSSL_free(path);
  return problem;
}

// A TLS context that verifies servers against the configured CA file, or
// else the system's trust store.
EnrollResult SetUpTls(SslCtxPtr* tls, OSSL_LIB_CTX* libctx, const ClientOptions& options) {
  tls->reset(SSL_CTX_new_ex(libctx, nullptr, TLS_client_method()));
  SSL_CTX* context = tls->get();
  if (context == nullptr) {
    return Failure(pki::Outcome::kFailed, "cannot set up TLS: " + pki::TakeOpensslError());
  }
  const std::string& ca_file = options.tls_ca_file;
  std::string error;
  if (ca_file.empty() ? !TrustSystemStore(context, libctx, &error)
                      : SSL_CTX_load_verify_locations(context, ca_file.c_str(), nullptr) != 1) {
    if (error.empty()) error = pki::TakeOpensslError();
    ERR_clear_error();
    return Failure(pki::Outcome::kNotACa, "cannot load the TLS trust store" +
                                              (ca_file.empty() ? "" : " " + ca_file) +
                                              (error.empty() ? "" : ": " + error));
  }
  SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
  SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
  return EnrollResult();
}

// The way to the CA: the link to the URL's server (through the proxy the
// settings choose for it), or the in-process answer function. *proxy
// names the proxy, for messages.
EnrollResult Connect(const Enrollment& enrollment, Session* session, std::string* proxy) {
  const Transport& transport = enrollment.transport;
  if (transport.url.empty()) {
    if (!transport.answer) return Failure(pki::Outcome::kFailed, "no way to reach the CA");
    return EnrollResult();
  }
  int use_tls = 0;
  char* host = nullptr;
  char* port = nullptr;
  char* path = nullptr;
  if (OSSL_HTTP_parse_url(transport.url.c_str(), &use_tls, nullptr, &host, &port, nullptr, &path,
                          nullptr, nullptr) != 1) {
    ERR_clear_error();
    return Failure(pki::Outcome::kNotACa, "'" + transport.url + "' is not a usable URL");
  }
  HttpTarget target;
  target.host = host;
  target.port = port;
  target.path = path;
  target.tls = use_tls != 0;
  OPENSSL_free(host);
  OPENSSL_free(port);
  OPENSSL_free(path);
  *proxy = ChooseProxy(enrollment.options.proxies, target.tls, target.host, target.port);
  if (!proxy->empty()) {
    const std::string problem = ProxyProblem(*proxy, &target.proxy_host, &target.proxy_port);
    if (!problem.empty()) return Failure(pki::Outcome::kFailed, problem);
  }
  SslCtxPtr tls;
  if (target.tls) {
    EnrollResult result = SetUpTls(&tls, enrollment.libctx, enrollment.options);
    if (!result.ok()) return result;
  }
  session->link = std::make_unique<HttpLink>(std::move(target), tls.get());
  return EnrollResult();
}

// Signed answers are taken when their signer chains to the configured
// trust anchors; an anchor need not be self-signed. Nothing in an answer
// is trusted by itself.
EnrollResult SetUpTrust(OSSL_CMP_CTX* context, const Enrollment& enrollment) {
  const std::string& file = enrollment.options.trust_file;
  if (file.empty()) return EnrollResult();
  X509_STORE* store = X509_STORE_new();
  if (store == nullptr ||
      X509_STORE_load_file_ex(store, file.c_str(), enrollment.libctx, nullptr) != 1 ||
      X509_STORE_set_flags(store, X509_V_FLAG_PARTIAL_CHAIN) != 1 ||
      OSSL_CMP_CTX_set0_trustedStore(context, store) != 1) {
    X509_STORE_free(store);
    return Failure(pki::Outcome::kFailed, std::string("cannot read the trust anchors in ") +
                                              pki::kEnvCmpTrustFile + "=" + file + ": " +
                                              pki::TakeOpensslError());
  }
  return EnrollResult();
}

EnrollResult SetUpRecipient(OSSL_CMP_CTX* context, const std::string& recipient) {
  if (recipient.empty()) return EnrollResult();
  std::string error;
  const pki::X509NamePtr name = pki::ParseName(recipient, &error);
  if (!name || OSSL_CMP_CTX_set1_recipient(context, name.get()) != 1) {
    return Failure(pki::Outcome::kFailed, std::string(pki::kEnvCmpRecipient) + "='" +
                                              pki::Printable(recipient) +
                                              "' is not a name: " + error);
  }
  return EnrollResult();
}

// Sends the request and polls while the CA asks to wait, as long as the
// total time-out lets the next poll happen. The certificate (the
// context's), or nullptr; *waited says how the waiting ended.
X509* RequestAndPoll(OSSL_CMP_CTX* context, int type, Session* session, std::string* waited) {
  int polls = 0;
  Clock::time_point first_wait;
  for (;;) {
    int check_after = 0;
    const int done = OSSL_CMP_try_certreq(context, type, nullptr, &check_after);
    if (done == 1) return OSSL_CMP_CTX_get0_newCert(context);
    if (done == 0) return nullptr;
    if (polls++ == 0) first_wait = Clock::now();
    const int pause = check_after < 1 ? 1 : check_after;
    if (SecondsLeft(*session) <= pause) {
      const auto waiting =
          std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - first_wait);
      *waited = "the CA asked to wait (" + std::to_string(polls) +
                (polls == 1 ? " poll" : " polls") + " over " + std::to_string(waiting.count()) +
                " s) and the total time-out of " +
                std::to_string(session->enrollment->options.total_timeout) + " s ran out";
      // Tells the CA, in the time that is left.
      OSSL_CMP_try_certreq(context, -1, nullptr, nullptr);
      ERR_clear_error();
      return nullptr;
    }
    std::this_thread::sleep_for(std::chrono::seconds(pause));
  }
}

}  // namespace

EnrollResult Enroll(const Enrollment& enrollment) {
  ERR_clear_error();
  ThreadLogState() = LogState();
  if (enrollment.libctx == nullptr || enrollment.code == nullptr ||
      (enrollment.pkcs10 == nullptr) == (enrollment.new_key == nullptr)) {
    return Failure(pki::Outcome::kFailed,
                   "an enrollment needs a library context, a code and one request");
  }
  pki::CtxPtr owned(OSSL_CMP_CTX_new(enrollment.libctx, nullptr));
  OSSL_CMP_CTX* context = owned.get();
  const std::string& reference = enrollment.reference_number;
  Confirmation confirmation;
  confirmation.enrollment = &enrollment;
  Session session;
  session.enrollment = &enrollment;
  session.deadline = Clock::now() + std::chrono::seconds(enrollment.options.total_timeout);
  // The time-outs are kept here: OpenSSL's total time-out keeps back five
  // seconds of every poll, and would not poll at all within five.
  if (context == nullptr || OSSL_CMP_CTX_set_log_cb(context, KeepLog) != 1 ||
      !pki::SetSecret(context, *enrollment.code) ||
      OSSL_CMP_CTX_set1_referenceValue(context,
                                       reinterpret_cast<const unsigned char*>(reference.data()),
                                       static_cast<int>(reference.size())) != 1 ||
      OSSL_CMP_CTX_set_option(context, OSSL_CMP_OPT_MSG_TIMEOUT, 0) != 1 ||
      OSSL_CMP_CTX_set_option(context, OSSL_CMP_OPT_TOTAL_TIMEOUT, 0) != 1 ||
      // A CA that cannot tell who is asking (an unknown reference number)
      // cannot protect its answer; its reason is still worth reporting,
      // marked as unauthenticated.
      OSSL_CMP_CTX_set_option(context, OSSL_CMP_OPT_UNPROTECTED_ERRORS, 1) != 1 ||
      OSSL_CMP_CTX_set_certConf_cb(context, ConfirmCertificate) != 1 ||
      OSSL_CMP_CTX_set_certConf_cb_arg(context, &confirmation) != 1 ||
      OSSL_CMP_CTX_set_transfer_cb(context, Transfer) != 1 ||
      OSSL_CMP_CTX_set_transfer_cb_arg(context, &session) != 1) {
    return Failure(pki::Outcome::kFailed,
                   "cannot set up the CMP client: " + pki::TakeOpensslError());
  }
  std::string proxy;
  for (EnrollResult step : {Connect(enrollment, &session, &proxy), SetUpTrust(context, enrollment),
                            SetUpRecipient(context, enrollment.options.recipient)}) {
    if (!step.ok()) return step;
  }

  int type = pki::kBodyP10cr;
  if (enrollment.pkcs10 != nullptr) {
    if (OSSL_CMP_CTX_set1_p10CSR(context, enrollment.pkcs10) != 1) {
      return Failure(pki::Outcome::kFailed, "cannot take the PKCS #10 request");
    }
  } else {
    // The request's template needs a subject for its proof of possession;
    // the user has none to give, so it names the reference number. A CA
    // certifies the name it registered for that number.
    type = pki::kBodyIr;
    pki::X509NamePtr subject(X509_NAME_new());
    if (!subject ||
        X509_NAME_add_entry_by_txt(subject.get(), "CN", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(reference.c_str()), -1,
                                   -1, 0) != 1 ||
        OSSL_CMP_CTX_set1_subjectName(context, subject.get()) != 1 ||
        EVP_PKEY_up_ref(enrollment.new_key) != 1 ||
        OSSL_CMP_CTX_set0_newPkey(context, 1, enrollment.new_key) != 1) {
      return Failure(pki::Outcome::kFailed, "cannot take the new key");
    }
  }
  const pki::SigpipeBlock no_sigpipe;
  std::string waited;
  X509* issued = RequestAndPoll(context, type, &session, &waited);
  if (issued != nullptr && confirmation.ca_certificate) {
    EnrollResult result;
    result.certificate = pki::CertificateToDer(issued);
    result.ca_certificate = pki::CertificateToDer(confirmation.ca_certificate.get());
    ERR_clear_error();
    return result;
  }
  const Errors errors = TakeErrors();
  if (!confirmation.rejection.empty()) return Failure(confirmation.outcome, confirmation.rejection);
  if (!waited.empty()) return Failure(pki::Outcome::kUnavailable, waited);
  const std::string& name = enrollment.transport.name;
  if (!session.failure.empty()) {
    return Failure(pki::Outcome::kUnavailable,
                   "the CA at " + name +
                       (proxy.empty() ? "" : " (through the proxy " + pki::Printable(proxy) + ")") +
                       ": " + session.failure);
  }
  const int status = OSSL_CMP_CTX_get_status(context);
  if (status == OSSL_CMP_PKISTATUS_rejection || status == OSSL_CMP_PKISTATUS_waiting) {
    const int bits = OSSL_CMP_CTX_get_failInfoCode(context);
    const pki::Outcome outcome = pki::OutcomeOfFailureBits(bits < 0 ? 0 : bits);
    return Failure(outcome, RefusalText(context, outcome, session.link != nullptr));
  }
  if (session.protection == Protection::kSignature && errors.protection) {
    const std::string setting = pki::kEnvCmpTrustFile;
    if (errors.key_usage) {
      return Failure(pki::Outcome::kBadResponse,
                     "the CA signed its answer with a certificate whose key usage does not allow "
                     "signatures (no digitalSignature), so the signature is not accepted");
    }
    return Failure(
        pki::Outcome::kBadResponse,
        "the CA signed its answer with a certificate that does not chain to " + setting +
            (enrollment.options.trust_file.empty() ? " and " + setting + " is not set" : ""));
  }
  const std::string detail = !errors.first.empty()                  ? errors.first
                             : !ThreadLogState().last_error.empty() ? ThreadLogState().last_error
                                                                    : "no detail";
  return Failure(pki::Outcome::kBadResponse, "the CA's answer is not acceptable: " + detail);
}

}  // namespace veskar::cmp
