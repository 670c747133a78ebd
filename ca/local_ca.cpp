#include "ca/local_ca.h"

#include <utility>

#include "pki/distinguished_name.h"

namespace veskar::ca {
namespace {

using pki::Outcome;

CaStatus AlreadyUsed(int reference_number) {
  return Fail(Outcome::kAlreadyUsed,
              "reference number " + std::to_string(reference_number) + " already used");
}

// CheckPair on the pair's registered user.
CaStatus CheckPairOf(const RegisteredUser& user, const std::string& authorisation_code) {
  if (!AuthorisationCodesMatch(authorisation_code, user.authorisation_code)) {
    return Fail(Outcome::kCodeMismatch, "the authorisation code does not match reference number " +
                                            std::to_string(user.reference_number));
  }
  if (user.used) return AlreadyUsed(user.reference_number);
  return CaStatus::Ok();
}

CaStatus Unexpected(PairChange change, int reference_number) {
  if (change == PairChange::kUsed) return AlreadyUsed(reference_number);
  if (change == PairChange::kUnknown) {
    return Fail(Outcome::kUnknownReference, "reference number " + std::to_string(reference_number) +
                                                " is not registered at the CA");
  }
  return Fail(Outcome::kFailed, "reference number " + std::to_string(reference_number) +
                                    " was taken over by a later request");
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
  std::unique_ptr<SqliteRegister> store;
  if (status.ok()) status = folder.OpenRegister(&store);
  if (status.ok()) {
    opened->register_ = std::move(store);
    *ca = std::move(opened);
  }
  return status;
}

CaStatus LocalCa::ListUsers(std::vector<RegisteredUser>* users) const {
  return register_->List(users);
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
  user.authorisation_code = NewAuthorisationCode();
  if (user.subject.empty() || user.authorisation_code.empty()) {
    return CryptoFailure("cannot make the user's codes");
  }
  const CaStatus status = register_->Add(&user);
  if (status.ok()) *added = user;
  return status;
}

CaStatus LocalCa::CertifyChecked(const RegisteredUser& user, EVP_PKEY* public_key,
                                 IssuedCertificate* made) const {
  const RegisterStore& store = *register_;
  return issuer_.Certify(
      user.subject, public_key,
      [&store](const std::string& serial, bool* taken) { return store.SerialTaken(serial, taken); },
      made);
}

CaStatus LocalCa::Certify(int reference_number, const std::string& authorisation_code,
                          EVP_PKEY* public_key, IssuedCertificate* made) {
  if (public_key == nullptr) return Fail(Outcome::kBadInput, "no public key to certify");
  RegisteredUser user;
  CaStatus status = register_->Find(reference_number, &user);
  if (status.ok()) status = CheckPairOf(user, authorisation_code);
  if (status.ok()) status = CertifyChecked(user, public_key, made);
  return status;
}

CaStatus LocalCa::Issue(int reference_number, const std::string& authorisation_code,
                        EVP_PKEY* public_key, const Delivery& deliver, IssuedCertificate* issued) {
  IssuedCertificate made;
  CaStatus status = Certify(reference_number, authorisation_code, public_key, &made);
  if (!status.ok()) return status;
  const std::string serial = pki::SerialText(made.certificate.get());
  const std::string pem = pki::CertificateToPem(made.certificate.get());
  if (serial.empty() || pem.empty()) return CryptoFailure("cannot encode the certificate");

  // The pair is spent, with its certificate, before the certificate leaves
  // the CA. Whatever fails after this, the worst outcome is a pair that has
  // to be registered again, never one that issues twice.
  PairChange change = PairChange::kDone;
  status = register_->Spend(reference_number, serial, made.der, &change);
  if (status.ok() && change != PairChange::kDone) status = Unexpected(change, reference_number);
  if (!status.ok()) return status;
  status = folder_.KeepIssued(serial, pem);
  const bool copied = status.ok();
  if (copied && deliver) status = deliver(made);
  if (!status.ok()) {
    // Not delivered: the certificate was never issued, and the pair is the
    // user's again.
    if (copied) folder_.ForgetIssued(serial);
    const CaStatus restored = register_->Release(reference_number, "", serial);
    if (!restored.ok()) {
      status.message += "; reference number " + std::to_string(reference_number) +
                        " stays used, as the register could not be restored: " + restored.message;
    }
    return status;
  }
  *issued = std::move(made);
  return status;
}

CaStatus LocalCa::Hold(int reference_number, const std::string& holder,
                       const IssuedCertificate& made) {
  const std::string serial = pki::SerialText(made.certificate.get());
  if (serial.empty() || made.der.empty()) return CryptoFailure("cannot encode the certificate");
  PairChange change = PairChange::kDone;
  CaStatus status = register_->Hold(reference_number, holder, serial, made.der, &change);
  if (status.ok() && change != PairChange::kDone) status = Unexpected(change, reference_number);
  return status;
}

CaStatus LocalCa::Confirm(int reference_number, const std::string& holder,
                          const IssuedCertificate& made, bool* superseded) {
  *superseded = false;
  PairChange change = PairChange::kDone;
  CaStatus status = register_->Confirm(reference_number, holder, &change);
  if (status.ok() && change != PairChange::kDone) {
    *superseded = change == PairChange::kSuperseded;
    return Unexpected(change, reference_number);
  }
  if (!status.ok()) return status;
  // The register holds the certificate; the copy is for people, and one
  // that cannot be written is told, the pair staying spent.
  const std::string serial = pki::SerialText(made.certificate.get());
  const CaStatus copied = folder_.KeepIssued(serial, pki::CertificateToPem(made.certificate.get()));
  if (!copied.ok()) {
    return Fail(Outcome::kOk, "no copy in issued/ (" + copied.message + ")");
  }
  return CaStatus::Ok();
}

CaStatus LocalCa::Release(int reference_number, const std::string& holder) {
  return register_->Release(reference_number, holder, "");
}

CaStatus LocalCa::CheckPair(int reference_number, const std::string& authorisation_code) const {
  RegisteredUser user;
  const CaStatus status = register_->Find(reference_number, &user);
  return status.ok() ? CheckPairOf(user, authorisation_code) : status;
}

CaStatus LocalCa::FindUser(int reference_number, RegisteredUser* user) const {
  return register_->Find(reference_number, user);
}

}  // namespace veskar::ca
