#ifndef VESKAR_CA_CA_FOLDER_H_
#define VESKAR_CA_CA_FOLDER_H_

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ca/ca_status.h"
#include "ca/sqlite_register.h"

namespace veskar::ca {

// The files of a CA in a folder (see LocalCa for the layout). The register
// is the database register.db; a folder made by an earlier version, with
// the text register register.txt, is moved into one when it is first
// opened, and the text file is kept beside it as register.txt.migrated.
// The copies in issued/ are written by replacing files through a rename,
// under the lock file; temporary files left by a writer that died are
// removed by Tidy, under the lock.
class CaFolder {
 public:
  explicit CaFolder(std::string directory) : directory_(std::move(directory)) {}

  // Makes the files of a new CA in `directory`, which must be absent or
  // empty (the folder ends owner-only), with an empty register. ca.pem
  // comes last: its presence is what makes the folder a CA. On failure
  // nothing written stays.
  static CaStatus Create(const std::string& directory, const std::string& key_pem,
                         const std::string& certificate_pem);

  // The CA's certificate and key files (kNotACa when one cannot be read).
  CaStatus ReadCertificate(pki::Bytes* pem) const;
  CaStatus ReadKey(pki::Bytes* pem) const;

  // Opens the register, migrating a text register first (once, under the
  // lock; a migration broken off is done again from the start).
  CaStatus OpenRegister(std::unique_ptr<SqliteRegister>* store) const;

  // Keeps the copy of an issued certificate as issued/<SERIAL>.pem, never
  // over an existing one; ForgetIssued takes it away again.
  CaStatus KeepIssued(const std::string& serial, const std::string& pem) const;
  void ForgetIssued(const std::string& serial) const;

  // Takes away what writes interrupted by a crash left in the folder.
  CaStatus Tidy() const;

  const std::string& directory() const { return directory_; }
  std::string Path(const std::string& name) const { return directory_ + "/" + name; }

 private:
  // Moves register.txt into a new register.db. REQUIRES: the lock is held.
  CaStatus MigrateLocked() const;

  std::string directory_;
};

}  // namespace veskar::ca

#endif  // VESKAR_CA_CA_FOLDER_H_
