#include "ca/local_ca.h"

#include <utility>

#include "pki/distinguished_name.h"

namespace veskar::ca {
namespace {

using pki::Outcome;

RegisteredUser* UserOf(std::vector<RegisteredUser>& users, int reference_number) {
  for (RegisteredUser& candidate : users) {
    if (candidate.reference_number == reference_number) return &candidate;
  }
  return nullptr;
}

CaStatus NotRegistered(int reference_number) {
  return Fail(Outcome::kUnknownReference, "reference number " + std::to_string(reference_number) +
                                              " is not registered at the CA");
}

CaStatus AlreadyUsed(int reference_number) {
  return Fail(Outcome::kAlreadyUsed,
              "reference number " + std::to_string(reference_number) + " already used");
}

// CheckPair on a register read; *user is the pair's user when it is known.
CaStatus CheckPairIn(std::vector<RegisteredUser>& users, int reference_number,
                     const std::string& authorisation_code, RegisteredUser** user) {
  *user = UserOf(users, reference_number);
  if (*user == nullptr) return NotRegistered(reference_number);
  if (!AuthorisationCodesMatch(authorisation_code, (*user)->authorisation_code)) {
    return Fail(Outcome::kCodeMismatch, "the authorisation code does not match reference number " +
                                            std::to_string(reference_number));
  }
  if ((*user)->used) return AlreadyUsed(reference_number);
  return CaStatus::Ok();
}

}  // namespace

CaStatus LocalCa::Create(const std::string& directory, const std::string& subject, int days) {
  if (days < 1 || days > kMaxCaDays) {
    return Fail(Outcome::kBadInput,
                "the CA's validity must be 1 to " + std::to_string(kMaxCaDays) + " days");
  }
  std::string error;
  pki::X509NamePtr name = pki::ParseName(subject, &error);
  if (!name) return Fail(Outcome::kBadInput, "bad CA name '" + subject + "': " + error);
  std::string key_pem;
  std::string certificate_pem;
  CaStatus status = Issuer::NewCa(name.get(), days, &key_pem, &certificate_pem);
  if (status.ok()) status = CaFolder::Create(directory, key_pem, certificate_pem);
  pki::Cleanse(&key_pem);
  return status;
}

CaStatus LocalCa::Open(const std::string& directory, std::unique_ptr<LocalCa>* ca) {
  std::unique_ptr<LocalCa> opened(new LocalCa(directory));
  const CaFolder& folder = opened->folder_;
  pki::Bytes content;
  CaStatus status = folder.ReadCertificate(&content);
  if (status.ok()) status = opened->issuer_.SetCertificate(content, folder.Path("ca.pem"));
  if (status.ok()) status = folder.ReadKey(&content);
  if (status.ok()) {
    status = opened->issuer_.SetKey(&content, folder.Path("ca.key"), folder.Path("ca.pem"));
  }
  pki::Cleanse(&content);
  if (status.ok()) *ca = std::move(opened);
  return status;
}

CaStatus LocalCa::ListUsers(std::vector<RegisteredUser>* users) const {
  return register_.Read(users);
}

CaStatus LocalCa::AddUser(const std::string& subject, RegisteredUser* added) {
  std::string error;
  pki::X509NamePtr name = pki::ParseName(subject, &error);
  if (!name) return Fail(Outcome::kBadInput, "bad name '" + subject + "': " + error);
  RegisteredUser user;
  user.subject = pki::NameText(name.get());
  // Enrollment certifies the name as the register holds it; one whose text
  // does not read back as itself ("CN=\#" prints as "CN=#") could never be
  // issued, and its pair would stay pending for ever.
  pki::X509NamePtr reread = user.subject.empty() ? nullptr : pki::ParseName(user.subject, &error);
  if (!user.subject.empty() && (!reread || X509_NAME_cmp(reread.get(), name.get()) != 0)) {
    return Fail(Outcome::kBadInput, "the name '" + subject +
                                        "' cannot be registered: written as '" + user.subject +
                                        "' it does not read back as itself");
  }
  return register_.Change([&](std::vector<RegisteredUser>& users, const RegisterStore::Save& save) {
    user.reference_number = NewReferenceNumber(users);
    user.authorisation_code = NewAuthorisationCode();
    if (user.subject.empty() || user.reference_number == 0 || user.authorisation_code.empty()) {
      return CryptoFailure("cannot make the user's codes");
    }
    users.push_back(user);
    const CaStatus status = save();
    if (status.ok()) *added = user;
    return status;
  });
}

CaStatus LocalCa::CertifyIn(std::vector<RegisteredUser>& users, int reference_number,
                            const std::string& authorisation_code, EVP_PKEY* public_key,
                            IssuedCertificate* made) const {
  if (public_key == nullptr) return Fail(Outcome::kBadInput, "no public key to certify");
  RegisteredUser* user = nullptr;
  const CaStatus status = CheckPairIn(users, reference_number, authorisation_code, &user);
  if (!status.ok()) return status;
  return issuer_.Certify(user->subject, public_key, users, made);
}

CaStatus LocalCa::RecordIn(std::vector<RegisteredUser>& users, const RegisterStore::Save& save,
                           int reference_number, const IssuedCertificate& made,
                           const Delivery& deliver) const {
  RegisteredUser* user = UserOf(users, reference_number);
  if (user == nullptr) return NotRegistered(reference_number);
  if (user->used) return AlreadyUsed(reference_number);
  const std::string serial = pki::SerialText(made.certificate.get());
  const std::string pem = pki::CertificateToPem(made.certificate.get());
  if (serial.empty() || pem.empty()) return CryptoFailure("cannot encode the certificate");
  for (const RegisteredUser& other : users) {
    if (other.serial == serial) {
      return Fail(Outcome::kStorage, "serial number " + serial + " was given before");
    }
  }

  // The pair is spent before the certificate leaves the CA. Whatever fails
  // after this, the worst outcome is a pair that has to be registered again,
  // never one that issues twice.
  user->used = true;
  user->serial = serial;
  CaStatus status = save();
  if (!status.ok()) return status;
  status = folder_.KeepIssued(serial, pem);
  const bool copied = status.ok();
  if (copied && deliver) status = deliver(made);
  if (!status.ok()) {
    // Not delivered: the certificate was never issued, and the pair is the
    // user's again.
    if (copied) folder_.ForgetIssued(serial);
    user->used = false;
    user->serial.clear();
    const CaStatus restored = save();
    if (!restored.ok()) {
      status.message += "; reference number " + std::to_string(reference_number) +
                        " stays used, as the register could not be restored: " + restored.message;
    }
  }
  return status;
}

CaStatus LocalCa::Issue(int reference_number, const std::string& authorisation_code,
                        EVP_PKEY* public_key, const Delivery& deliver, IssuedCertificate* issued) {
  return register_.Change([&](std::vector<RegisteredUser>& users, const RegisterStore::Save& save) {
    IssuedCertificate made;
    CaStatus status = CertifyIn(users, reference_number, authorisation_code, public_key, &made);
    if (!status.ok()) return status;
    status = RecordIn(users, save, reference_number, made, deliver);
    if (status.ok()) *issued = std::move(made);
    return status;
  });
}

CaStatus LocalCa::Certify(int reference_number, const std::string& authorisation_code,
                          EVP_PKEY* public_key, IssuedCertificate* made) {
  return register_.Change([&](std::vector<RegisteredUser>& users, const RegisterStore::Save&) {
    return CertifyIn(users, reference_number, authorisation_code, public_key, made);
  });
}

CaStatus LocalCa::Record(int reference_number, const IssuedCertificate& made,
                         const Delivery& deliver) {
  return register_.Change([&](std::vector<RegisteredUser>& users, const RegisterStore::Save& save) {
    return RecordIn(users, save, reference_number, made, deliver);
  });
}

CaStatus LocalCa::CheckPair(int reference_number, const std::string& authorisation_code) const {
  std::vector<RegisteredUser> users;
  const CaStatus status = register_.Read(&users);
  RegisteredUser* user = nullptr;
  return status.ok() ? CheckPairIn(users, reference_number, authorisation_code, &user) : status;
}

CaStatus LocalCa::FindUser(int reference_number, RegisteredUser* user) const {
  std::vector<RegisteredUser> users;
  const CaStatus status = register_.Read(&users);
  if (!status.ok()) return status;
  const RegisteredUser* found = UserOf(users, reference_number);
  if (found == nullptr) return NotRegistered(reference_number);
  *user = *found;
  return CaStatus::Ok();
}

}  // namespace veskar::ca
