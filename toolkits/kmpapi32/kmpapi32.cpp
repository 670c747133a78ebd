// The IPSec key-management toolkit's entry points, backed by a local CA:
// user creation issues a certificate for a fresh key and keeps both in a
// password-protected profile; a login opens that profile.

#include <sys/stat.h>
#include <veskar/toolkit/kmpapi32.h>

#include <cerrno>
#include <string>

#include "toolkits/kmpapi32/kmp_status.h"
#include "toolkits/kmpapi32/user_profile.h"
#include "toolkits/localca/client_ini.h"
#include "toolkits/localca/entry_guard.h"
#include "toolkits/localca/files.h"
#include "toolkits/localca/handle_registry.h"
#include "toolkits/localca/local_ca.h"

namespace veskar::kmpapi {
namespace {

// The only flag value of IKMPCreateUser and certificate kind of
// IKMPGetMyVerifyCertificate this toolkit knows: a verification key pair.
constexpr int kVerificationKeys = 1;

struct Session {
  std::string profile_path;
  localca::Bytes certificate;
  localca::Bytes ca_certificate;
};

localca::HandleRegistry<Session>& Sessions() {
  static localca::HandleRegistry<Session> registry;
  return registry;
}

short StatusOf(localca::CaError error, bool profile_existed) {
  switch (error) {
    case localca::CaError::kNone:
      return kKmpOk;
    case localca::CaError::kUnknownReference:
      return kKmpUnknownReferenceNumber;
    case localca::CaError::kCodeMismatch:
      return kKmpAuthorisationFailed;
    case localca::CaError::kAlreadyUsed:
      return kKmpAlreadyUsed;
    case localca::CaError::kCaExpired:
      return kKmpCaExpired;
    case localca::CaError::kDelivery:
      return profile_existed ? kKmpProfileExists : kKmpProfileWriteFailed;
    case localca::CaError::kNotACa:
      return kKmpCaUnavailable;
    case localca::CaError::kBadInput:
    case localca::CaError::kKeyRejected:
    case localca::CaError::kStorage:
    case localca::CaError::kCrypto:
      return kKmpIssueFailed;
  }
  return kKmpIssueFailed;
}

// May a new profile take the name `path`? Only when nothing is there, or an
// empty regular file (a placeholder made for it). Sets *replace for the latter.
short CheckProfilePath(const std::string& path, bool* replace) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) {
    *replace = false;
    return errno == ENOENT ? kKmpOk : kKmpProfileWriteFailed;
  }
  *replace = true;
  return S_ISREG(info.st_mode) && info.st_size == 0 ? kKmpOk : kKmpProfileExists;
}

short CreateUser(int ref_num, const std::string& auth_code, const std::string& password,
                 const char* ini_path, const std::string& profile_path) {
  if (ref_num <= 0) return kKmpBadReferenceNumber;
  bool replace = false;
  short status = CheckProfilePath(profile_path, &replace);
  if (status != kKmpOk) return status;
  localca::ClientSettings settings;
  std::string error;
  if (!localca::ReadClientIni(ini_path, &settings, &error)) return kKmpIniUnreadable;
  std::unique_ptr<localca::LocalCa> ca;
  if (!localca::LocalCa::Open(settings.ca_directory, &ca).ok()) return kKmpCaUnavailable;

  UserProfile profile;
  profile.key = localca::NewEcKey();
  if (!profile.key) return kKmpIssueFailed;
  bool profile_existed = false;
  // Written as the CA's delivery step: a profile that cannot be written
  // puts the pair back for another try.
  const auto deliver = [&](const localca::IssuedCertificate& issued) -> localca::CaStatus {
    profile.certificate.reset(X509_dup(issued.certificate.get()));
    profile.ca_certificate.reset(X509_dup(ca->certificate()));
    if (!profile.certificate || !profile.ca_certificate) {
      return {localca::CaError::kDelivery, "out of memory"};
    }
    localca::Bytes encoded = EncodeProfile(profile, password);
    if (encoded.empty()) return {localca::CaError::kDelivery, localca::TakeOpensslError()};
    int error_number = 0;
    std::string write_error;
    const bool written = localca::WriteFileAtomically(
        profile_path, encoded.data(), encoded.size(), 0600,
        replace ? localca::Overwrite::kReplace : localca::Overwrite::kNever, &write_error,
        &error_number);
    profile_existed = error_number == EEXIST;
    if (!written) return {localca::CaError::kDelivery, write_error};
    return localca::CaStatus::Ok();
  };
  localca::IssuedCertificate issued;
  const localca::CaStatus issue =
      ca->Issue(ref_num, auth_code, profile.key.get(), deliver, &issued);
  return StatusOf(issue.error, profile_existed);
}

}  // namespace
}  // namespace veskar::kmpapi

// The entry points are global C functions; their helpers live in the namespace.
namespace kmp = veskar::kmpapi;

extern "C" {

short VESKAR_TOOLKIT_CALL IKMPCreateUser(int ref_num, const char* auth_code, const char* password,
                                         const char* ini_path, const char* profile, int flags) {
  return veskar::localca::Guarded(kmp::kKmpInternalError, [&] {
    if (auth_code == nullptr || password == nullptr || password[0] == '\0' || profile == nullptr ||
        profile[0] == '\0' || flags != kmp::kVerificationKeys) {
      return kmp::kKmpBadArgument;
    }
    const veskar::localca::Secret code(auth_code);
    const veskar::localca::Secret secret(password);
    return kmp::CreateUser(ref_num, code.str(), secret.str(), ini_path, profile);
  });
}

const char* VESKAR_TOOLKIT_CALL IKMPGetErrString(short status) { return kmp::StatusText(status); }

short VESKAR_TOOLKIT_CALL IKMPLogin(void** login, const char* profile, const char* password,
                                    const char* /*ini_path*/, isakmp_options_struct /*options*/) {
  return veskar::localca::Guarded(kmp::kKmpInternalError, [&] {
    if (login == nullptr) return kmp::kKmpBadArgument;
    *login = nullptr;
    if (profile == nullptr || profile[0] == '\0' || password == nullptr) {
      return kmp::kKmpBadArgument;
    }
    kmp::UserProfile opened;
    const veskar::localca::Secret secret(password);
    const short status = kmp::ReadProfile(profile, secret.str(), &opened);
    if (status != kmp::kKmpOk) return status;
    auto session = std::make_unique<kmp::Session>();
    session->profile_path = profile;
    session->certificate = veskar::localca::CertificateToDer(opened.certificate.get());
    session->ca_certificate = veskar::localca::CertificateToDer(opened.ca_certificate.get());
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
