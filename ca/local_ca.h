#ifndef VESKAR_CA_LOCAL_CA_H_
#define VESKAR_CA_LOCAL_CA_H_

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ca/user_register.h"
#include "pki/openssl_util.h"
#include "pki/outcome.h"

namespace veskar::ca {

// What a CA operation came to; the message says what was wrong, for a
// person.
struct CaStatus {
  pki::Outcome error = pki::Outcome::kOk;
  std::string message;  // what was wrong, for a person: "reference number 17 already used"

  bool ok() const { return error == pki::Outcome::kOk; }
  static CaStatus Ok() { return {}; }
};

struct IssuedCertificate {
  pki::X509Ptr certificate;
  pki::Bytes der;
  bool validity_shortened = false;  // ends with the CA certificate instead of kUserDays
};

// A certificate authority kept in a folder:
//   ca.key        the CA's private key, PKCS #8 PEM, owner-only
//   ca.pem        the self-signed CA certificate
//   register.txt  the authorised users and the serials issued to them (see
//                 user_register.h)
//   issued/       every issued certificate as <SERIAL>.pem
//   lock          flock()ed while the register changes
// Serial numbers are random 63-bit numbers, so that certificates of
// different CAs do not share one by chance.
// The folder is owner-only. Writers take the lock and replace files by
// writing a new file and renaming it, so readers never see a partial file
// and concurrent enrollments with one pair issue exactly one certificate;
// each change is on disk before the call returns. Temporary files left by a
// writer that died are removed by the next writer, under the lock.
class LocalCa {
 public:
  static constexpr int kDefaultCaDays = 3650;
  static constexpr int kMaxCaDays = 36500;
  static constexpr int kUserDays = 365;
  static constexpr char kDefaultSubject[] = "CN=Veskar Local CA";

  // Makes a new CA in `directory`, which must be absent or empty: a fresh
  // key pair and a self-signed certificate for `subject`, valid `days` days.
  static CaStatus Create(const std::string& directory, const std::string& subject, int days);

  // Opens the CA in `directory` (kNotACa when there is none or its key does
  // not match its certificate).
  static CaStatus Open(const std::string& directory, std::unique_ptr<LocalCa>* ca);

  // Authorises a user for `subject` and fills *added with the new reference
  // number and authorisation code.
  CaStatus AddUser(const std::string& subject, RegisteredUser* added);

  CaStatus ListUsers(std::vector<RegisteredUser>* users) const;

  // Hands over an issued certificate (writes the profile, publishes it),
  // called once the register marks the pair used and with the CA's lock
  // held. Returns Ok or kDelivery; a failure puts the pair back to pending.
  using Delivery = std::function<CaStatus(const IssuedCertificate&)>;

  // Checks the pair (reference number, authorisation code) and, when it is
  // registered, matches and is unused, certifies `public_key` for the
  // registered name, marks the pair used (with the serial) in the register,
  // records the certificate in issued/ and delivers it. When the copy in
  // issued/ or the delivery fails, both are undone and the pair is pending
  // again; should the register then not be restored, the pair stays used (a
  // pair never issues twice). `deliver` may be empty.
  CaStatus Issue(int reference_number, const std::string& authorisation_code, EVP_PKEY* public_key,
                 const Delivery& deliver, IssuedCertificate* issued);

  // The same in two steps, for enrollments that confirm the certificate
  // after receiving it. Certify checks the pair and the key as Issue does
  // and makes the certificate, but records nothing: the pair stays pending.
  CaStatus Certify(int reference_number, const std::string& authorisation_code,
                   EVP_PKEY* public_key, IssuedCertificate* made);
  // Record spends the pair on `made` once it was confirmed, as Issue does
  // after making it; kAlreadyUsed when the pair was spent meanwhile (another
  // certificate confirmed first), so that a pair never issues twice.
  CaStatus Record(int reference_number, const IssuedCertificate& made, const Delivery& deliver);

  // Whether the pair (reference number, authorisation code) may enroll, in
  // the order Certify checks it: registered, then the code (so that only
  // its holder learns whether the pair was used), then unused. Refusals are
  // kUnknownReference, kCodeMismatch and kAlreadyUsed.
  CaStatus CheckPair(int reference_number, const std::string& authorisation_code) const;

  // The registered user with `reference_number` (kUnknownReference when
  // there is none).
  CaStatus FindUser(int reference_number, RegisteredUser* user) const;

  X509* certificate() const { return certificate_.get(); }
  const pki::Bytes& certificate_der() const { return certificate_der_; }
  const std::string& directory() const { return directory_; }

 private:
  LocalCa() = default;

  std::string Path(const char* name) const { return directory_ + "/" + name; }
  CaStatus ReadRegister(std::vector<RegisteredUser>* users) const;
  CaStatus WriteRegister(const std::vector<RegisteredUser>& users) const;
  // Runs `body` on the register, read under the CA's lock, held throughout.
  CaStatus WithRegister(const std::function<CaStatus(std::vector<RegisteredUser>&)>& body) const;
  // Issue's two steps on the register read under the caller's lock.
  CaStatus CertifyLocked(std::vector<RegisteredUser>& users, int reference_number,
                         const std::string& authorisation_code, EVP_PKEY* public_key,
                         IssuedCertificate* made) const;
  CaStatus RecordLocked(std::vector<RegisteredUser>& users, int reference_number,
                        const IssuedCertificate& made, const Delivery& deliver) const;
  // Takes away what writes interrupted by a crash left in the folder.
  // REQUIRES: the lock is held.
  void RemoveInterruptedWritesLocked() const;
  CaStatus MakeCertificate(const std::string& subject, const BIGNUM* serial, EVP_PKEY* public_key,
                           IssuedCertificate* issued) const;

  std::string directory_;
  pki::X509Ptr certificate_;
  pki::Bytes certificate_der_;
  pki::EvpPkeyPtr key_;
};

// The file name a published certificate takes in a directory folder,
// "<ISSUER>-<SERIAL>.der": ISSUER is the first 8 bytes of the certificate's
// authority key identifier (the issuing CA's key) in upper-case hexadecimal,
// or the issuer name's 8-digit hash when it has none; SERIAL as SerialText.
// The issuer part keeps apart certificates of different CAs that share one
// folder, should their random serials ever meet.
std::string PublishedFileName(X509* certificate);

}  // namespace veskar::ca

#endif  // VESKAR_CA_LOCAL_CA_H_
