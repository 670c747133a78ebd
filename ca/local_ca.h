#ifndef VESKAR_CA_LOCAL_CA_H_
#define VESKAR_CA_LOCAL_CA_H_

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ca/ca_folder.h"
#include "ca/ca_status.h"
#include "ca/issuer.h"
#include "ca/user_register.h"
#include "pki/openssl_util.h"

namespace veskar::ca {

// A certificate authority kept in a folder:
//   ca.key        the CA's private key, PKCS #8 PEM, owner-only
//   ca.pem        the self-signed CA certificate
//   register.db   the authorised users, the state of their pairs and the
//                 certificates issued to them (see SqliteRegister)
//   issued/       a copy of every issued certificate as <SERIAL>.pem, for
//                 people, written once the register holds it
//   lock          locked while the issued copies or the register's file
//                 change
// The folder is owner-only (CaFolder keeps it); the Issuer makes the
// certificates. LocalCa moves a pair from pending to used: concurrent
// enrollments with one pair get exactly one certificate. Thread-safe.
class LocalCa {
 public:
  static constexpr int kDefaultCaDays = 3650;
  static constexpr int kMaxCaDays = 36500;
  static constexpr int kUserDays = Issuer::kUserDays;
  static constexpr char kDefaultSubject[] = "CN=Veskar Local CA";

  // Makes a new CA in `directory`, which must be absent or empty: a fresh
  // key pair and a self-signed certificate for `subject`, valid `days` days.
  static CaStatus Create(const std::string& directory, const std::string& subject, int days);

  // Opens the CA in `directory` (kNotACa when there is none or its key does
  // not match its certificate), moving a text register of an earlier
  // version into the database first.
  static CaStatus Open(const std::string& directory, std::unique_ptr<LocalCa>* ca);

  // Authorises a user for `subject` and fills *added with the new reference
  // number and authorisation code.
  CaStatus AddUser(const std::string& subject, RegisteredUser* added);

  CaStatus ListUsers(std::vector<RegisteredUser>* users) const;

  // Hands over an issued certificate (writes the profile, publishes it),
  // called once the register holds the pair used. Returns Ok or kDelivery;
  // a failure puts the pair back to pending.
  using Delivery = std::function<CaStatus(const IssuedCertificate&)>;

  // Checks the pair (reference number, authorisation code) and, when it is
  // registered, matches and is unused, certifies `public_key` for the
  // registered name, marks the pair used with the certificate in the
  // register (one transaction), copies it to issued/ and delivers it. When
  // the copy or the delivery fails, both are undone and the pair is
  // pending again; should the register then not be restored, the pair
  // stays used with its certificate (a pair never issues twice). `deliver`
  // may be empty.
  CaStatus Issue(int reference_number, const std::string& authorisation_code, EVP_PKEY* public_key,
                 const Delivery& deliver, IssuedCertificate* issued);

  // The same in steps, for enrollments that confirm the certificate after
  // receiving it. Certify checks the pair and the key as Issue does and
  // makes the certificate, but records nothing.
  CaStatus Certify(int reference_number, const std::string& authorisation_code,
                   EVP_PKEY* public_key, IssuedCertificate* made);
  // Hold records `made` for the pair as awaiting confirmation by `holder`
  // (a transaction), superseding any earlier holder; kAlreadyUsed when the
  // pair was spent meanwhile.
  CaStatus Hold(int reference_number, const std::string& holder, const IssuedCertificate& made);
  // Confirm spends the pair on the certificate `holder` holds, then copies
  // it to issued/ (Ok with a message when only the copy failed).
  // kAlreadyUsed when the pair was spent meanwhile; when a later
  // transaction superseded `holder`, *superseded is set (and the status is
  // kFailed).
  CaStatus Confirm(int reference_number, const std::string& holder, const IssuedCertificate& made,
                   bool* superseded);
  // Release makes a pair that `holder` holds pending again.
  CaStatus Release(int reference_number, const std::string& holder);

  // Whether the pair (reference number, authorisation code) may enroll, in
  // the order Certify checks it: registered, then the code (so that only
  // its holder learns whether the pair was used), then unused. Refusals are
  // kUnknownReference, kCodeMismatch and kAlreadyUsed.
  CaStatus CheckPair(int reference_number, const std::string& authorisation_code) const;

  // The registered user with `reference_number` (kUnknownReference when
  // there is none).
  CaStatus FindUser(int reference_number, RegisteredUser* user) const;

  // Takes away the temporary files of writers that died.
  CaStatus Tidy() const { return folder_.Tidy(); }

  X509* certificate() const { return issuer_.certificate(); }
  const pki::Bytes& certificate_der() const { return issuer_.certificate_der(); }
  const std::string& directory() const { return folder_.directory(); }

 private:
  explicit LocalCa(const std::string& directory) : folder_(directory) {}

  CaStatus CertifyChecked(const RegisteredUser& user, EVP_PKEY* public_key,
                          IssuedCertificate* made) const;

  CaFolder folder_;
  std::unique_ptr<RegisterStore> register_;
  Issuer issuer_;
};

}  // namespace veskar::ca

#endif  // VESKAR_CA_LOCAL_CA_H_
