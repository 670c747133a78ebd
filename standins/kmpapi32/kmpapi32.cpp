// The IPSec key-management toolkit's entry points, enrolling over CMP at the
// CA the client INI file names (a server's URL or a local CA's folder): user
// creation has a fresh key certified and keeps both in a password-protected
// profile; a login opens that profile.

#include <openssl/pem.h>
#include <veskar/toolkit/kmpapi32.h>

#include <cerrno>
#include <string>

#include "cmp/cmp_enroll.h"
#include "pki/files.h"
#include "pki/thread_slot.h"
#include "standins/common/client_ini.h"
#include "standins/common/entry_guard.h"
#include "standins/common/handle_registry.h"
#include "standins/common/settings.h"
#include "standins/kmpapi32/kmp_status.h"
#include "standins/kmpapi32/user_profile.h"

namespace veskar::kmpapi {
namespace {

// The only flag value of IKMPCreateUser and certificate kind of
// IKMPGetMyVerifyCertificate this toolkit knows: a verification key pair.
constexpr int kVerificationKeys = 1;

struct Session {
  std::string profile_path;
  pki::Bytes certificate;
  pki::Bytes ca_certificate;
};

// The reason of the last failed creation or log-in on this thread.
struct LastReasonTag;
std::string& LastReason() { return pki::ThreadSlot<std::string, LastReasonTag>::Mine(); }

// Keeps `why` (or else the status's text) as the reason of `status` when it
// is a failure.
short Reporting(short status, const std::string& why) {
  LastReason() = status == kKmpOk ? "" : why.empty() ? StatusText(status) : why;
  return status;
}

standins::HandleRegistry<Session>& Sessions() {
  static standins::HandleRegistry<Session> registry;
  return registry;
}

// The key pair a new user gets, in `libctx`: a fresh EC P-256 key, or the
// PEM private key in the file `key_file` (a key made elsewhere) when one is
// named.
pki::EvpPkeyPtr NewUserKey(const std::string& key_file, OSSL_LIB_CTX* libctx) {
  if (key_file.empty()) return pki::NewEcKey(libctx);
  pki::BioPtr file(BIO_new_file(key_file.c_str(), "r"));
  pki::EvpPkeyPtr key(
      file ? PEM_read_bio_PrivateKey_ex(file.get(), nullptr, nullptr, nullptr, libctx, nullptr)
           : nullptr);
  if (!key) pki::TakeOpensslError();
  return key;
}

// May a new profile take the name `path`? Only when nothing is there, or an
// empty regular file (a placeholder made for it). Sets *replace for the latter.
short CheckProfilePath(const std::string& path, bool* replace) {
  const pki::PathKind kind = pki::KindOfPath(path);
  *replace = kind == pki::PathKind::kEmptyFile;
  switch (kind) {
    case pki::PathKind::kNothing:
    case pki::PathKind::kEmptyFile:
      return kKmpOk;
    case pki::PathKind::kOther:
      return kKmpProfileExists;
    case pki::PathKind::kUnknown:
      break;
  }
  return kKmpProfileWriteFailed;
}

short CreateUser(int ref_num, const std::string& auth_code, const std::string& password,
                 const char* ini_path, const std::string& profile_path) {
  if (ref_num <= 0) return kKmpBadReferenceNumber;
  bool replace = false;
  short status = CheckProfilePath(profile_path, &replace);
  if (status != kKmpOk) return status;
  standins::ClientSettings settings;
  std::string error;
  if (!standins::ReadClientIni(ini_path, &settings, &error)) {
    return Reporting(kKmpIniUnreadable, error);
  }

  const standins::StandinSettings from_environment = standins::StandinSettings::FromEnvironment();
  // The enrollment's own context; what is made in it goes first.
  const pki::LibCtxPtr libctx = pki::NewPrivateContext();
  if (!libctx) return kKmpInternalError;
  UserProfile profile;
  profile.key = NewUserKey(from_environment.kmp_key_file, libctx.get());
  if (!profile.key) return kKmpIssueFailed;
  // The profile is written before the certificate is confirmed: a profile
  // that cannot be written turns the certificate down, and the CA keeps the
  // pair for another try.
  short delivery = kKmpProfileWriteFailed;
  bool wrote = false;
  cmp::Enrollment enrollment;
  if (const ca::CaStatus connected = settings.ca.Connect(&enrollment.transport); !connected.ok()) {
    return Reporting(kKmpCaUnavailable, connected.message);
  }
  enrollment.libctx = libctx.get();
  enrollment.options = from_environment.cmp;
  enrollment.reference_number = std::to_string(ref_num);
  enrollment.code = &auth_code;
  enrollment.new_key = profile.key.get();
  enrollment.accept = [&](X509* certificate, X509* ca_certificate, std::string* why) {
    profile.certificate.reset(X509_dup(certificate));
    profile.ca_certificate.reset(X509_dup(ca_certificate));
    if (!profile.certificate || !profile.ca_certificate) {
      *why = "out of memory";
      return false;
    }
    pki::Bytes encoded = EncodeProfile(profile, password, libctx.get());
    if (encoded.empty()) {
      *why = "cannot encode the profile: " + pki::TakeOpensslError();
      return false;
    }
    int error_number = 0;
    const bool written = pki::WriteFileAtomically(
        profile_path, encoded.data(), encoded.size(), 0600,
        replace ? pki::Overwrite::kReplace : pki::Overwrite::kNever, why, &error_number);
    if (error_number == EEXIST) delivery = kKmpProfileExists;
    wrote = written;
    return written;
  };
  const cmp::EnrollResult result = cmp::Enroll(enrollment);
  // Written, but the confirmation failed (the CA stopped, or spent the pair
  // on another transaction): the profile holds no certificate of the CA's.
  if (!result.ok() && wrote) pki::RemoveFile(profile_path);
  return Reporting(
      result.outcome == pki::Outcome::kRejectedLocally ? delivery : StatusFor(result.outcome),
      result.reason);
}

}  // namespace
}  // namespace veskar::kmpapi

// The entry points are global C functions; their helpers live in the namespace.
namespace kmp = veskar::kmpapi;

extern "C" {

short VESKAR_TOOLKIT_CALL IKMPCreateUser(int ref_num, const char* auth_code, const char* password,
                                         const char* ini_path, const char* profile, int flags) {
  kmp::LastReason().clear();
  return veskar::standins::Guarded(kmp::kKmpInternalError, [&] {
    if (auth_code == nullptr || password == nullptr || password[0] == '\0' || profile == nullptr ||
        profile[0] == '\0' || flags != kmp::kVerificationKeys) {
      return kmp::kKmpBadArgument;
    }
    const veskar::pki::Secret code(auth_code);
    const veskar::pki::Secret secret(password);
    return kmp::Reporting(kmp::CreateUser(ref_num, code.str(), secret.str(), ini_path, profile),
                          kmp::LastReason());
  });
}

const char* VESKAR_TOOLKIT_CALL IKMPGetErrString(short status) {
  return status == kmp::kKmpLastReason ? kmp::LastReason().c_str() : kmp::StatusText(status);
}

short VESKAR_TOOLKIT_CALL IKMPLogin(void** login, const char* profile, const char* password,
                                    const char* /*ini_path*/, isakmp_options_struct /*options*/) {
  kmp::LastReason().clear();
  return veskar::standins::Guarded(kmp::kKmpInternalError, [&] {
    if (login == nullptr) return kmp::kKmpBadArgument;
    *login = nullptr;
    if (profile == nullptr || profile[0] == '\0' || password == nullptr) {
      return kmp::kKmpBadArgument;
    }
    const veskar::pki::LibCtxPtr libctx = veskar::pki::NewPrivateContext();
    if (!libctx) return kmp::kKmpInternalError;
    kmp::UserProfile opened;  // made in libctx, and gone before it
    const veskar::pki::Secret secret(password);
    const short status = kmp::ReadProfile(profile, secret.str(), libctx.get(), &opened);
    if (status != kmp::kKmpOk) return kmp::Reporting(status, "");
    auto session = std::make_unique<kmp::Session>();
    session->profile_path = profile;
    session->certificate = veskar::pki::CertificateToDer(opened.certificate.get());
    session->ca_certificate = veskar::pki::CertificateToDer(opened.ca_certificate.get());
    if (session->certificate.empty() || session->ca_certificate.empty()) {
      return kmp::kKmpProfileDamaged;
    }
    *login = kmp::Sessions().Add(std::move(session));
    return kmp::kKmpOk;
  });
}

short VESKAR_TOOLKIT_CALL IKMPGetMyVerifyCertificate(void* const login, int which,
                                                     IKMPBinaryData* user_certificate,
                                                     IKMPBinaryData* ca_certificate,
                                                     IKMPBinaryData* extra) {
  kmp::Session* session = kmp::Sessions().Find(login);
  if (session == nullptr) return kmp::kKmpBadHandle;
  if (user_certificate == nullptr || ca_certificate == nullptr) return kmp::kKmpBadArgument;
  if (which != kmp::kVerificationKeys) return kmp::kKmpNoSuchCertificate;
  // The bytes stay the session's until IKMPLogout.
  user_certificate->count = static_cast<uint32_t>(session->certificate.size());
  user_certificate->data = session->certificate.data();
  ca_certificate->count = static_cast<uint32_t>(session->ca_certificate.size());
  ca_certificate->data = session->ca_certificate.data();
  if (extra != nullptr) {
    extra->count = 0;
    extra->data = nullptr;
  }
  return kmp::kKmpOk;
}

short VESKAR_TOOLKIT_CALL IKMPLogout(void** login) {
  if (login == nullptr) return kmp::kKmpBadArgument;
  if (!kmp::Sessions().Remove(*login)) return kmp::kKmpBadHandle;
  *login = nullptr;
  return kmp::kKmpOk;
}

short VESKAR_TOOLKIT_CALL IKMPGetEPFName(void* login, char** name) {
  kmp::Session* session = kmp::Sessions().Find(login);
  if (session == nullptr) return kmp::kKmpBadHandle;
  if (name == nullptr) return kmp::kKmpBadArgument;
  *name = &session->profile_path[0];
  return kmp::kKmpOk;
}

}  // extern "C"
