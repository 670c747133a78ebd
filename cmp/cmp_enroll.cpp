#include "cmp/cmp_enroll.h"

#include <openssl/err.h>
#include <openssl/http.h>
#include <openssl/ssl.h>

#include <cstring>
#include <memory>
#include <utility>

#include "cmp/system_trust.h"
#include "pki/cmp_util.h"
#include "pki/signals.h"

namespace veskar::cmp {
namespace {

using SslCtxPtr = std::unique_ptr<SSL_CTX, pki::OpensslDeleter<SSL_CTX, SSL_CTX_free>>;

// What the certificate confirmation callback works with.
struct Confirmation {
  const Enrollment* enrollment = nullptr;
  pki::X509Ptr ca_certificate;
  std::string rejection;  // why the certificate was turned down here
};

// TLS for https:// locations: the server's certificate must chain to the
// trust store and name the host. Through a proxy, the proxy is asked for a
// tunnel to the server first.
struct Tls {
  SslCtxPtr context;
  std::string host;
  std::string port;
  bool tunnel = false;
  int timeout = 0;  // seconds for the proxy to open the tunnel
};

BIO* TlsOverHttp(BIO* bio, void* arg, int connect, int /*detail*/) {
  if (!connect) return bio;
  auto* tls = static_cast<Tls*>(arg);
  if (tls->tunnel && OSSL_HTTP_proxy_connect(bio, tls->host.c_str(), tls->port.c_str(), nullptr,
                                             nullptr, tls->timeout, nullptr, nullptr) != 1) {
    return nullptr;
  }
  BIO* ssl_bio = BIO_new_ssl(tls->context.get(), 1);
  SSL* ssl = nullptr;
  if (ssl_bio == nullptr || BIO_get_ssl(ssl_bio, &ssl) <= 0 || ssl == nullptr ||
      SSL_set_tlsext_host_name(ssl, tls->host.c_str()) != 1 ||
      SSL_set1_host(ssl, tls->host.c_str()) != 1) {
    BIO_free(ssl_bio);
    return nullptr;
  }
  return BIO_push(ssl_bio, bio);
}

// The in-process transport: the Transport's answer function.
OSSL_CMP_MSG* TransferInProcess(OSSL_CMP_CTX* context, const OSSL_CMP_MSG* request) {
  const auto* transport = static_cast<const Transport*>(OSSL_CMP_CTX_get_transfer_cb_arg(context));
  const pki::Bytes asked = pki::Encoded(request, i2d_OSSL_CMP_MSG);
  if (asked.empty()) return nullptr;
  const pki::Bytes answer = transport->answer(asked);
  const unsigned char* p = answer.data();
  return answer.empty() ? nullptr : d2i_OSSL_CMP_MSG(nullptr, &p, static_cast<long>(answer.size()));
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
// the CA certificate that issued it; then the caller's delivery.
int ConfirmCertificate(OSSL_CMP_CTX* context, X509* certificate, int fail_info, const char** text) {
  auto* confirmation = static_cast<Confirmation*>(OSSL_CMP_CTX_get_certConf_cb_arg(context));
  // OpenSSL's own check (OSSL_CMP_certConf_cb) takes its argument as a trust
  // store; the chain is checked here instead, against the CA that answers.
  if (fail_info != 0) return fail_info;
  const Enrollment& enrollment = *confirmation->enrollment;
  EVP_PKEY* requested =
      enrollment.pkcs10 != nullptr ? X509_REQ_get0_pubkey(enrollment.pkcs10) : enrollment.new_key;
  auto reject = [&](std::string why) {
    confirmation->rejection = std::move(why);
    *text = "certificate not accepted by the client";
    return 1 << OSSL_CMP_PKIFAILUREINFO_badCertId;
  };
  if (requested == nullptr || EVP_PKEY_eq(X509_get0_pubkey(certificate), requested) != 1) {
    return reject("the CA returned a certificate for another key");
  }
  OSSL_LIB_CTX* libctx = enrollment.libctx;
  pki::X509Ptr ca = IssuerAmong(OSSL_CMP_CTX_get1_caPubs(context), certificate, libctx);
  if (!ca) ca = IssuerAmong(OSSL_CMP_CTX_get1_extraCertsIn(context), certificate, libctx);
  if (!ca)
    return reject("the CA returned its certificate without the CA certificate that issued it");
  std::string why;
  if (enrollment.accept && !enrollment.accept(certificate, ca.get(), &why)) return reject(why);
  confirmation->ca_certificate = std::move(ca);
  return 0;
}

// The server's status, failure bits and texts as one line.
std::string RefusalText(OSSL_CMP_CTX* context, pki::Outcome outcome) {
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
    return std::string(pki::OutcomeText(outcome)) +
           (status != nullptr ? std::string(" (") + status + ")" : "");
  }
  return text;
}

// The first queued OpenSSL error with its detail, and whether it is about
// reaching the server at all.
std::string TransportError(bool* unreachable) {
  *unreachable = false;
  std::string text;
  const char* data = nullptr;
  int flags = 0;
  unsigned long error;
  while ((error = ERR_get_error_all(nullptr, nullptr, nullptr, &data, &flags)) != 0) {
    const int library = ERR_GET_LIB(error);
    if (library == ERR_LIB_HTTP || library == ERR_LIB_BIO || library == ERR_LIB_SYS ||
        library == ERR_LIB_SSL ||
        (library == ERR_LIB_CMP && ERR_GET_REASON(error) == CMP_R_TRANSFER_ERROR)) {
      *unreachable = true;
    }
    if (text.empty()) {
      char buffer[256];
      ERR_error_string_n(error, buffer, sizeof(buffer));
      const char* reason = ERR_reason_error_string(error);
      text = reason != nullptr ? reason : buffer;
      if ((flags & ERR_TXT_STRING) != 0 && data != nullptr && data[0] != '\0') {
        text += std::string(" (") + data + ")";
      }
    }
  }
  return text;
}

EnrollResult Failure(pki::Outcome outcome, std::string reason) {
  EnrollResult result;
  result.outcome = outcome;
  result.reason = std::move(reason);
  return result;
}

// The proxy to reach `host` through: the configured one, or none ("").
// Nothing is taken from the process's environment: a host's http_proxy is
// the host's business.
const std::string& ProxyFor(const ClientOptions& options, const std::string& /*host*/) {
  return options.proxy;
}

// What keeps `proxy` from naming an HTTP proxy as http://host[:port]; ""
// when nothing does. A user name is not quoted back: it may carry a password.
std::string ProxyProblem(const std::string& proxy) {
  int use_tls = 0;
  char* user = nullptr;
  char* host = nullptr;
  char* path = nullptr;
  const bool parsed = OSSL_HTTP_parse_url(proxy.c_str(), &use_tls, &user, &host, nullptr, nullptr,
                                          &path, nullptr, nullptr) == 1;
  ERR_clear_error();
  std::string problem;
  if (parsed && user[0] != '\0') {
    problem = "the proxy's URL holds a user name, which is not supported";
  } else if (!parsed || use_tls != 0 || proxy.rfind("http://", 0) != 0 || host[0] == '\0' ||
             std::strcmp(path, "/") != 0) {
    problem = "the proxy '" + pki::Printable(proxy) + "' is not an http://host:port URL";
  }
  OPENSSL_free(user);
  OPENSSL_free(host);
  OPENSSL_free(path);
  return problem;
}

// Makes `tls` verify servers against the configured CA file, or else the
// system's trust store.
EnrollResult SetUpTls(Tls* tls, OSSL_LIB_CTX* libctx, const ClientOptions& options) {
  tls->context.reset(SSL_CTX_new_ex(libctx, nullptr, TLS_client_method()));
  SSL_CTX* context = tls->context.get();
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

// Points `context` at the CA: host, port and path of a URL (with TLS set up
// in *tls for https://, and the proxy if there is one), or the in-process
// answer function.
EnrollResult Connect(OSSL_CMP_CTX* context, const Enrollment& enrollment, Tls* tls) {
  const Transport& transport = enrollment.transport;
  if (transport.url.empty()) {
    if (!transport.answer) return Failure(pki::Outcome::kFailed, "no way to reach the CA");
    OSSL_CMP_CTX_set_transfer_cb(context, TransferInProcess);
    OSSL_CMP_CTX_set_transfer_cb_arg(context, const_cast<Transport*>(&transport));
    return EnrollResult();
  }
  int use_tls = 0;
  char* host = nullptr;
  char* port_text = nullptr;
  char* path = nullptr;
  int port = 0;
  if (OSSL_HTTP_parse_url(transport.url.c_str(), &use_tls, nullptr, &host, &port_text, &port, &path,
                          nullptr, nullptr) != 1) {
    ERR_clear_error();
    return Failure(pki::Outcome::kNotACa, "'" + transport.url + "' is not a usable URL");
  }
  tls->host = host;
  tls->port = port_text;
  const std::string& proxy = ProxyFor(enrollment.options, tls->host);
  // An empty proxy and no-proxy list are OpenSSL's "none": unset, it would
  // read http_proxy, https_proxy and no_proxy from the environment.
  const bool ok = OSSL_CMP_CTX_set1_server(context, host) == 1 &&
                  OSSL_CMP_CTX_set_serverPort(context, port) == 1 &&
                  OSSL_CMP_CTX_set1_serverPath(context, path) == 1 &&
                  OSSL_CMP_CTX_set1_proxy(context, proxy.c_str()) == 1 &&
                  OSSL_CMP_CTX_set1_no_proxy(context, "") == 1;
  OPENSSL_free(host);
  OPENSSL_free(port_text);
  OPENSSL_free(path);
  if (!ok) return Failure(pki::Outcome::kFailed, "cannot set the server's address");
  const std::string problem = proxy.empty() ? "" : ProxyProblem(proxy);
  if (!problem.empty()) return Failure(pki::Outcome::kFailed, problem);
  if (!use_tls) return EnrollResult();
  tls->tunnel = !proxy.empty();
  tls->timeout = enrollment.options.message_timeout;
  EnrollResult result = SetUpTls(tls, enrollment.libctx, enrollment.options);
  if (!result.ok()) return result;
  OSSL_CMP_CTX_set_http_cb(context, TlsOverHttp);
  OSSL_CMP_CTX_set_http_cb_arg(context, tls);
  return result;
}

}  // namespace

EnrollResult Enroll(const Enrollment& enrollment) {
  ERR_clear_error();
  pki::TakeLastLogError();
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
  if (context == nullptr || !pki::Quiet(context) || !pki::SetSecret(context, *enrollment.code) ||
      OSSL_CMP_CTX_set1_referenceValue(context,
                                       reinterpret_cast<const unsigned char*>(reference.data()),
                                       static_cast<int>(reference.size())) != 1 ||
      OSSL_CMP_CTX_set_option(context, OSSL_CMP_OPT_MSG_TIMEOUT,
                              enrollment.options.message_timeout) != 1 ||
      OSSL_CMP_CTX_set_option(context, OSSL_CMP_OPT_TOTAL_TIMEOUT,
                              enrollment.options.total_timeout) != 1 ||
      // A CA that cannot tell who is asking (an unknown reference number)
      // cannot protect its answer; its reason is still worth reporting.
      OSSL_CMP_CTX_set_option(context, OSSL_CMP_OPT_UNPROTECTED_ERRORS, 1) != 1 ||
      OSSL_CMP_CTX_set_certConf_cb(context, ConfirmCertificate) != 1 ||
      OSSL_CMP_CTX_set_certConf_cb_arg(context, &confirmation) != 1) {
    return Failure(pki::Outcome::kFailed,
                   "cannot set up the CMP client: " + pki::TakeOpensslError());
  }
  Tls tls;
  EnrollResult result = Connect(context, enrollment, &tls);
  if (!result.ok()) return result;

  X509* issued = nullptr;
  const pki::SigpipeBlock no_sigpipe;
  if (enrollment.pkcs10 != nullptr) {
    if (OSSL_CMP_CTX_set1_p10CSR(context, enrollment.pkcs10) != 1) {
      return Failure(pki::Outcome::kFailed, "cannot take the PKCS #10 request");
    }
    issued = OSSL_CMP_exec_P10CR_ses(context);
  } else {
    // The request's template needs a subject for its proof of possession;
    // the user has none to give, so it names the reference number. A CA
    // certifies the name it registered for that number.
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
    issued = OSSL_CMP_exec_IR_ses(context);
  }
  if (issued != nullptr && confirmation.ca_certificate) {
    result.certificate = pki::CertificateToDer(issued);
    result.ca_certificate = pki::CertificateToDer(confirmation.ca_certificate.get());
    ERR_clear_error();
    return result;
  }
  bool unreachable = false;
  const std::string error = TransportError(&unreachable);
  const std::string logged = pki::TakeLastLogError();
  if (!confirmation.rejection.empty()) {
    return Failure(pki::Outcome::kRejectedLocally, confirmation.rejection);
  }
  const int status = OSSL_CMP_CTX_get_status(context);
  if (status == OSSL_CMP_PKISTATUS_rejection || status == OSSL_CMP_PKISTATUS_waiting) {
    const int bits = OSSL_CMP_CTX_get_failInfoCode(context);
    const pki::Outcome outcome = pki::OutcomeOfFailureBits(bits < 0 ? 0 : bits);
    return Failure(outcome, RefusalText(context, outcome));
  }
  const std::string detail = !error.empty() ? error : !logged.empty() ? logged : "no detail";
  if (unreachable) {
    const std::string& proxy = ProxyFor(enrollment.options, tls.host);
    return Failure(pki::Outcome::kUnavailable,
                   "the CA at " + enrollment.transport.name +
                       (proxy.empty() || enrollment.transport.url.empty()
                            ? ""
                            : " (through the proxy " + pki::Printable(proxy) + ")") +
                       " did not answer: " + detail);
  }
  return Failure(pki::Outcome::kBadResponse, "the CA's answer is not acceptable: " + detail);
}

}  // namespace veskar::cmp
