#include "ca/local_ca.h"

#include <openssl/bn.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <cctype>
#include <cstdio>
#include <utility>

#include "pki/distinguished_name.h"
#include "pki/files.h"
#include "pki/folders.h"

namespace veskar::ca {
namespace {

using pki::Outcome;

constexpr size_t kMaxFileSize = 16 * 1024 * 1024;
// Serial numbers are drawn at random with this many bits: positive, at most
// eight bytes in DER, and too many to collide by chance, across CAs too.
constexpr int kSerialBits = 63;
// How much of the issuer's key identifier a published file's name carries.
constexpr size_t kPublishedIssuerBytes = 8;

struct BnDeleter {
  void operator()(BIGNUM* p) const { BN_free(p); }
};
using BignumPtr = std::unique_ptr<BIGNUM, BnDeleter>;

CaStatus Fail(Outcome error, std::string message) { return {error, std::move(message)}; }

CaStatus CryptoFailure(const std::string& what) {
  const std::string why = pki::TakeOpensslError();
  return Fail(Outcome::kCrypto, what + (why.empty() ? "" : ": " + why));
}

bool AddExtension(X509* certificate, X509* issuer, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_nconf_nid(nullptr, &context, nid, value);
  if (extension == nullptr) return false;
  const bool ok = X509_add_ext(certificate, extension, -1) == 1;
  X509_EXTENSION_free(extension);
  return ok;
}

// Fills in everything both kinds of certificate share: version, serial,
// names, validity from now, key, key identifiers.
bool StartCertificate(X509* certificate, const BIGNUM* serial, const X509_NAME* subject,
                      const X509_NAME* issuer, int days, EVP_PKEY* public_key) {
  ASN1_INTEGER* number = BN_to_ASN1_INTEGER(serial, nullptr);
  const bool ok = number != nullptr && X509_set_version(certificate, X509_VERSION_3) == 1 &&
                  X509_set_serialNumber(certificate, number) == 1 &&
                  X509_set_subject_name(certificate, subject) == 1 &&
                  X509_set_issuer_name(certificate, issuer) == 1 &&
                  X509_gmtime_adj(X509_getm_notBefore(certificate), 0) != nullptr &&
                  X509_time_adj_ex(X509_getm_notAfter(certificate), days, 0, nullptr) != nullptr &&
                  X509_set_pubkey(certificate, public_key) == 1;
  ASN1_INTEGER_free(number);
  return ok;
}

// A fresh random serial number (never zero).
bool RandomSerial(BIGNUM* serial) {
  do {
    if (BN_rand(serial, kSerialBits, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) != 1) return false;
  } while (BN_is_zero(serial));
  return true;
}

std::string UpperHex(const unsigned char* data, size_t size) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (size_t i = 0; i < size; ++i) {
    text += kDigits[data[i] >> 4];
    text += kDigits[data[i] & 0x0f];
  }
  return text;
}

// A serial number this CA has not given yet: none in the register, nor the
// CA certificate's own (it names the same issuer).
CaStatus NewSerial(X509* ca_certificate, const std::vector<RegisteredUser>& users,
                   BignumPtr* serial) {
  std::vector<BignumPtr> taken;
  taken.emplace_back(ASN1_INTEGER_to_BN(X509_get0_serialNumber(ca_certificate), nullptr));
  if (!taken.back()) return CryptoFailure("cannot read the CA's serial number");
  for (const RegisteredUser& user : users) {
    BIGNUM* parsed = nullptr;
    if (!user.serial.empty() && BN_hex2bn(&parsed, user.serial.c_str()) > 0) {
      taken.emplace_back(parsed);
    }
  }
  BignumPtr candidate(BN_new());
  for (;;) {
    if (!candidate || !RandomSerial(candidate.get())) {
      return CryptoFailure("cannot draw a serial number");
    }
    bool in_use = false;
    for (const BignumPtr& number : taken) in_use |= BN_cmp(number.get(), candidate.get()) == 0;
    if (!in_use) break;
  }
  *serial = std::move(candidate);
  return CaStatus::Ok();
}

bool IsUpperHex(const std::string& text) {
  if (text.empty()) return false;
  for (const char c : text) {
    if (!std::isxdigit(static_cast<unsigned char>(c)) ||
        std::islower(static_cast<unsigned char>(c))) {
      return false;
    }
  }
  return true;
}

std::string PrivateKeyPem(EVP_PKEY* key) {
  pki::BioPtr bio(BIO_new(BIO_s_mem()));
  if (!bio ||
      PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1) {
    return "";
  }
  char* text = nullptr;
  const long length = BIO_get_mem_data(bio.get(), &text);
  return length > 0 ? std::string(text, static_cast<size_t>(length)) : std::string();
}

pki::EvpPkeyPtr PrivateKeyFromPem(const pki::Bytes& pem) {
  pki::BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  return pki::EvpPkeyPtr(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr)
                             : nullptr);
}

// Refuses keys too weak to certify, and kinds of key whose strength this
// CA does not judge.
CaStatus CheckPublicKey(EVP_PKEY* key, EVP_PKEY* ca_key) {
  const std::string kind = EVP_PKEY_get0_type_name(key) ? EVP_PKEY_get0_type_name(key) : "unknown";
  int least_bits = 0;
  if (EVP_PKEY_is_a(key, "RSA") || EVP_PKEY_is_a(key, "RSA-PSS") || EVP_PKEY_is_a(key, "DSA")) {
    least_bits = 2048;
  } else if (EVP_PKEY_is_a(key, "EC")) {
    least_bits = 256;
  } else if (!EVP_PKEY_is_a(key, "ED25519") && !EVP_PKEY_is_a(key, "ED448")) {
    return Fail(Outcome::kKeyRejected,
                "the request's " + kind + " key is of a kind this CA does not certify");
  }
  const int bits = EVP_PKEY_get_bits(key);
  if (bits < least_bits) {
    return Fail(Outcome::kKeyRejected, "the request's " + kind + " key of " + std::to_string(bits) +
                                           " bits is too short (" + std::to_string(least_bits) +
                                           " bits at least)");
  }
  if (EVP_PKEY_eq(key, ca_key) == 1) {
    return Fail(Outcome::kKeyRejected, "the request carries the CA's own key");
  }
  return CaStatus::Ok();
}

// Writes the files of a new CA, removing what it wrote when a step fails.
class NewCaFiles {
 public:
  explicit NewCaFiles(std::string directory) : directory_(std::move(directory)) {}
  ~NewCaFiles() {
    if (committed_) return;
    for (auto it = written_.rbegin(); it != written_.rend(); ++it) {
      pki::RemoveFileOrFolder(*it);
    }
  }
  NewCaFiles(const NewCaFiles&) = delete;
  NewCaFiles& operator=(const NewCaFiles&) = delete;

  bool Folder(const std::string& name, CaStatus* status) {
    const std::string path = directory_ + "/" + name;
    std::string error;
    if (!pki::CreateNewFolder(path, &error)) {
      *status = Fail(Outcome::kStorage, error);
      return false;
    }
    written_.push_back(path);
    return true;
  }
  bool File(const std::string& name, const std::string& content, mode_t mode, CaStatus* status) {
    const std::string path = directory_ + "/" + name;
    std::string error;
    if (!pki::WriteFileAtomically(path, content.data(), content.size(), mode,
                                  pki::Overwrite::kNever, &error)) {
      *status = Fail(Outcome::kStorage, error);
      return false;
    }
    written_.push_back(path);
    return true;
  }
  void Commit() { committed_ = true; }

 private:
  std::string directory_;
  std::vector<std::string> written_;
  bool committed_ = false;
};

}  // namespace

CaStatus LocalCa::Create(const std::string& directory, const std::string& subject, int days) {
  if (days < 1 || days > kMaxCaDays) {
    return Fail(Outcome::kBadInput,
                "the CA's validity must be 1 to " + std::to_string(kMaxCaDays) + " days");
  }
  std::string error;
  pki::X509NamePtr name = pki::ParseName(subject, &error);
  if (!name) return Fail(Outcome::kBadInput, "bad CA name '" + subject + "': " + error);
  bool exists = false;
  if (!pki::IsAbsentOrEmptyFolder(directory, &exists, &error) ||
      !(exists ? pki::RestrictFolderToOwner(directory, &error)
               : pki::CreateNewFolder(directory, &error))) {
    return Fail(Outcome::kStorage, error);
  }

  pki::EvpPkeyPtr key = pki::NewEcKey();
  pki::X509Ptr certificate(X509_new());
  BignumPtr serial(BN_new());
  // A random serial keeps two throw-away CAs of the same name apart.
  if (!key || !certificate || !serial || !RandomSerial(serial.get()) ||
      !StartCertificate(certificate.get(), serial.get(), name.get(), name.get(), days, key.get()) ||
      !AddExtension(certificate.get(), certificate.get(), NID_subject_key_identifier, "hash") ||
      !AddExtension(certificate.get(), certificate.get(), NID_authority_key_identifier,
                    "keyid:always") ||
      !AddExtension(certificate.get(), certificate.get(), NID_basic_constraints,
                    "critical,CA:TRUE") ||
      !AddExtension(certificate.get(), certificate.get(), NID_key_usage,
                    "critical,keyCertSign,cRLSign") ||
      X509_sign(certificate.get(), key.get(), EVP_sha256()) <= 0) {
    return CryptoFailure("cannot make the CA certificate");
  }
  std::string key_pem = PrivateKeyPem(key.get());
  const std::string certificate_pem = pki::CertificateToPem(certificate.get());
  if (key_pem.empty() || certificate_pem.empty()) return CryptoFailure("cannot encode the CA");

  CaStatus status;
  NewCaFiles files(directory);
  // ca.pem comes last: its presence is what makes the folder a CA.
  const bool ok = files.Folder("issued", &status) && files.File("ca.key", key_pem, 0600, &status) &&
                  files.File("register.txt", FormatRegister({}), 0600, &status) &&
                  files.File("ca.pem", certificate_pem, 0644, &status);
  pki::Cleanse(&key_pem);
  if (!ok) return status;
  files.Commit();
  return CaStatus::Ok();
}

CaStatus LocalCa::Open(const std::string& directory, std::unique_ptr<LocalCa>* ca) {
  std::unique_ptr<LocalCa> opened(new LocalCa());
  opened->directory_ = directory;
  pki::Bytes content;
  std::string error;
  if (!pki::ReadWholeFile(opened->Path("ca.pem"), kMaxFileSize, &content, &error)) {
    return Fail(Outcome::kNotACa, "no certificate authority in " + directory + " (" + error + ")");
  }
  opened->certificate_ = pki::CertificateFromBytes(content.data(), content.size());
  if (!opened->certificate_) {
    pki::TakeOpensslError();
    return Fail(Outcome::kNotACa, opened->Path("ca.pem") + " holds no certificate");
  }
  opened->certificate_der_ = pki::CertificateToDer(opened->certificate_.get());
  if (!pki::ReadWholeFile(opened->Path("ca.key"), kMaxFileSize, &content, &error)) {
    return Fail(Outcome::kNotACa, "the CA in " + directory + " has no key (" + error + ")");
  }
  opened->key_ = PrivateKeyFromPem(content);
  pki::Cleanse(&content);
  if (!opened->key_ ||
      X509_check_private_key(opened->certificate_.get(), opened->key_.get()) != 1) {
    pki::TakeOpensslError();
    return Fail(Outcome::kNotACa,
                opened->Path("ca.key") + " is not the key of " + opened->Path("ca.pem"));
  }
  *ca = std::move(opened);
  return CaStatus::Ok();
}

CaStatus LocalCa::ReadRegister(std::vector<RegisteredUser>* users) const {
  pki::Bytes content;
  std::string error;
  if (!pki::ReadWholeFile(Path("register.txt"), kMaxFileSize, &content, &error)) {
    return Fail(Outcome::kStorage, error);
  }
  if (!ParseRegister(std::string(content.begin(), content.end()), users, &error)) {
    return Fail(Outcome::kStorage, Path("register.txt") + ": " + error);
  }
  return CaStatus::Ok();
}

CaStatus LocalCa::WriteRegister(const std::vector<RegisteredUser>& users) const {
  const std::string text = FormatRegister(users);
  std::string error;
  if (!pki::WriteFileAtomically(Path("register.txt"), text.data(), text.size(), 0600,
                                pki::Overwrite::kReplace, &error)) {
    return Fail(Outcome::kStorage, error);
  }
  return CaStatus::Ok();
}

void LocalCa::RemoveInterruptedWritesLocked() const {
  pki::RemoveInterruptedWrites(directory_,
                               [](const std::string& name) { return name == "register.txt"; });
  pki::RemoveInterruptedWrites(Path("issued"), [](const std::string& name) {
    return name.size() > 4 && name.compare(name.size() - 4, 4, ".pem") == 0 &&
           IsUpperHex(name.substr(0, name.size() - 4));
  });
}

CaStatus LocalCa::ListUsers(std::vector<RegisteredUser>* users) const {
  return ReadRegister(users);
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
  pki::FileLock lock;
  if (!lock.Acquire(Path("lock"), &error)) return Fail(Outcome::kStorage, error);
  RemoveInterruptedWritesLocked();
  std::vector<RegisteredUser> users;
  CaStatus status = ReadRegister(&users);
  if (!status.ok()) return status;
  user.reference_number = NewReferenceNumber(users);
  user.authorisation_code = NewAuthorisationCode();
  if (user.subject.empty() || user.reference_number == 0 || user.authorisation_code.empty()) {
    return CryptoFailure("cannot make the user's codes");
  }
  users.push_back(user);
  status = WriteRegister(users);
  if (status.ok()) *added = user;
  return status;
}

CaStatus LocalCa::MakeCertificate(const std::string& subject, const BIGNUM* serial,
                                  EVP_PKEY* public_key, IssuedCertificate* issued) const {
  std::string error;
  pki::X509NamePtr name = pki::ParseName(subject, &error);
  if (!name) return Fail(Outcome::kStorage, "the register's name '" + subject + "': " + error);
  pki::X509Ptr certificate(X509_new());
  if (!certificate ||
      !StartCertificate(certificate.get(), serial, name.get(),
                        X509_get_subject_name(certificate_.get()), kUserDays, public_key)) {
    return CryptoFailure("cannot make the certificate");
  }
  const ASN1_TIME* ca_end = X509_get0_notAfter(certificate_.get());
  issued->validity_shortened = ASN1_TIME_compare(X509_get0_notAfter(certificate.get()), ca_end) > 0;
  if (issued->validity_shortened && X509_set1_notAfter(certificate.get(), ca_end) != 1) {
    return CryptoFailure("cannot limit the certificate's validity");
  }
  if (!AddExtension(certificate.get(), certificate_.get(), NID_basic_constraints,
                    "critical,CA:FALSE") ||
      !AddExtension(certificate.get(), certificate_.get(), NID_key_usage,
                    "critical,digitalSignature,nonRepudiation") ||
      !AddExtension(certificate.get(), certificate_.get(), NID_subject_key_identifier, "hash") ||
      !AddExtension(certificate.get(), certificate_.get(), NID_authority_key_identifier,
                    "keyid:always") ||
      X509_sign(certificate.get(), key_.get(), EVP_sha256()) <= 0) {
    return CryptoFailure("cannot make the certificate");
  }
  issued->der = pki::CertificateToDer(certificate.get());
  if (issued->der.empty()) return CryptoFailure("cannot encode the certificate");
  issued->certificate = std::move(certificate);
  return CaStatus::Ok();
}

namespace {

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

CaStatus LocalCa::CertifyLocked(std::vector<RegisteredUser>& users, int reference_number,
                                const std::string& authorisation_code, EVP_PKEY* public_key,
                                IssuedCertificate* made) const {
  if (public_key == nullptr) return Fail(Outcome::kBadInput, "no public key to certify");
  RegisteredUser* user = nullptr;
  CaStatus status = CheckPairIn(users, reference_number, authorisation_code, &user);
  if (!status.ok()) return status;
  if (X509_cmp_current_time(X509_get0_notAfter(certificate_.get())) <= 0) {
    return Fail(Outcome::kCaExpired, "the CA certificate expired on " +
                                         pki::TimeText(X509_get0_notAfter(certificate_.get())));
  }
  status = CheckPublicKey(public_key, key_.get());
  if (!status.ok()) return status;
  BignumPtr serial_number;
  status = NewSerial(certificate_.get(), users, &serial_number);
  if (!status.ok()) return status;
  return MakeCertificate(user->subject, serial_number.get(), public_key, made);
}

CaStatus LocalCa::RecordLocked(std::vector<RegisteredUser>& users, int reference_number,
                               const IssuedCertificate& made, const Delivery& deliver) const {
  const std::string reference = std::to_string(reference_number);
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
  CaStatus status = WriteRegister(users);
  if (!status.ok()) return status;
  std::string error;
  const std::string copy = Path("issued") + "/" + serial + ".pem";
  const bool copied =
      pki::WriteFileAtomically(copy, pem.data(), pem.size(), 0600, pki::Overwrite::kNever, &error);
  if (!copied) {
    status = Fail(Outcome::kStorage, error);
  } else if (deliver) {
    status = deliver(made);
  }
  if (!status.ok()) {
    // Not delivered: the certificate was never issued, and the pair is the
    // user's again.
    if (copied) pki::RemoveFile(copy);
    user->used = false;
    user->serial.clear();
    const CaStatus restored = WriteRegister(users);
    if (!restored.ok()) {
      status.message += "; reference number " + reference +
                        " stays used, as the register could not be restored: " + restored.message;
    }
  }
  return status;
}

CaStatus LocalCa::WithRegister(
    const std::function<CaStatus(std::vector<RegisteredUser>&)>& body) const {
  std::string error;
  pki::FileLock lock;
  if (!lock.Acquire(Path("lock"), &error)) return Fail(Outcome::kStorage, error);
  RemoveInterruptedWritesLocked();
  std::vector<RegisteredUser> users;
  const CaStatus status = ReadRegister(&users);
  return status.ok() ? body(users) : status;
}

CaStatus LocalCa::Issue(int reference_number, const std::string& authorisation_code,
                        EVP_PKEY* public_key, const Delivery& deliver, IssuedCertificate* issued) {
  return WithRegister([&](std::vector<RegisteredUser>& users) {
    IssuedCertificate made;
    CaStatus status = CertifyLocked(users, reference_number, authorisation_code, public_key, &made);
    if (!status.ok()) return status;
    status = RecordLocked(users, reference_number, made, deliver);
    if (status.ok()) *issued = std::move(made);
    return status;
  });
}

CaStatus LocalCa::Certify(int reference_number, const std::string& authorisation_code,
                          EVP_PKEY* public_key, IssuedCertificate* made) {
  return WithRegister([&](std::vector<RegisteredUser>& users) {
    return CertifyLocked(users, reference_number, authorisation_code, public_key, made);
  });
}

CaStatus LocalCa::Record(int reference_number, const IssuedCertificate& made,
                         const Delivery& deliver) {
  return WithRegister([&](std::vector<RegisteredUser>& users) {
    return RecordLocked(users, reference_number, made, deliver);
  });
}

CaStatus LocalCa::FindUser(int reference_number, RegisteredUser* user) const {
  std::vector<RegisteredUser> users;
  const CaStatus status = ReadRegister(&users);
  if (!status.ok()) return status;
  const RegisteredUser* found = UserOf(users, reference_number);
  if (found == nullptr) return NotRegistered(reference_number);
  *user = *found;
  return CaStatus::Ok();
}

CaStatus LocalCa::CheckPair(int reference_number, const std::string& authorisation_code) const {
  std::vector<RegisteredUser> users;
  const CaStatus status = ReadRegister(&users);
  RegisteredUser* user = nullptr;
  return status.ok() ? CheckPairIn(users, reference_number, authorisation_code, &user) : status;
}

std::string PublishedFileName(X509* certificate) {
  std::string issuer;
  const ASN1_OCTET_STRING* key_id = X509_get0_authority_key_id(certificate);
  if (key_id != nullptr && ASN1_STRING_length(key_id) > 0) {
    const size_t size = static_cast<size_t>(ASN1_STRING_length(key_id));
    issuer = UpperHex(ASN1_STRING_get0_data(key_id),
                      size < kPublishedIssuerBytes ? size : kPublishedIssuerBytes);
  } else {
    char hash[9];
    std::snprintf(hash, sizeof(hash), "%08lX",
                  X509_NAME_hash_ex(X509_get_issuer_name(certificate), nullptr, nullptr, nullptr) &
                      0xffffffffUL);
    issuer = hash;
  }
  return issuer + "-" + pki::SerialText(certificate) + ".der";
}

}  // namespace veskar::ca
