#ifndef VESKAR_CA_CA_FOLDER_H_
#define VESKAR_CA_CA_FOLDER_H_

#include <string>
#include <utility>
#include <vector>

#include "ca/ca_status.h"
#include "ca/register_store.h"

namespace veskar::ca {

// The files of a CA in a folder (see LocalCa for the layout), and the
// register kept there as register.txt, changed under the lock file. Writers
// replace files by writing a new file and renaming it, and each change is
// on disk before the call returns. Temporary files left by a writer that
// died are removed by the next writer, under the lock.
class CaFolder : public RegisterStore {
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

  CaStatus Read(std::vector<RegisteredUser>* users) const override;
  CaStatus Change(const std::function<CaStatus(std::vector<RegisteredUser>& users,
                                               const Save& save)>& change) override;

  // Keeps the copy of an issued certificate as issued/<SERIAL>.pem, never
  // over an existing one; ForgetIssued takes it away again.
  CaStatus KeepIssued(const std::string& serial, const std::string& pem) const;
  void ForgetIssued(const std::string& serial) const;

  const std::string& directory() const { return directory_; }
  std::string Path(const std::string& name) const { return directory_ + "/" + name; }

 private:
  CaStatus Write(const std::vector<RegisteredUser>& users) const;
  // Takes away what writes interrupted by a crash left in the folder.
  // REQUIRES: the lock is held.
  void RemoveInterruptedWritesLocked() const;

  std::string directory_;
};

}  // namespace veskar::ca

#endif  // VESKAR_CA_CA_FOLDER_H_
