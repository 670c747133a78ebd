#include "ca/ca_folder.h"

#include <cctype>
#include <cstdio>

#include "pki/files.h"
#include "pki/folders.h"

namespace veskar::ca {
namespace {

using pki::Outcome;

constexpr size_t kMaxFileSize = 16 * 1024 * 1024;
// Earlier versions kept the register as text, up to kMaxFileSize.
constexpr char kTextRegister[] = "register.txt";
constexpr char kMigratedTextRegister[] = "register.txt.migrated";
constexpr char kRegister[] = "register.db";
constexpr char kNewRegister[] = "register.db.new";
constexpr char kIssued[] = "issued";
// The files SQLite keeps beside a database while it is open.
constexpr const char* kJournalSuffixes[] = {"-wal", "-shm", "-journal"};

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
  bool Register(const std::string& name, CaStatus* status) {
    const std::string path = directory_ + "/" + name;
    *status = SqliteRegister::Create(path);
    if (!status->ok()) return false;
    written_.push_back(path);
    for (const char* suffix : kJournalSuffixes) written_.push_back(path + suffix);
    return true;
  }
  void Commit() { committed_ = true; }

 private:
  std::string directory_;
  std::vector<std::string> written_;
  bool committed_ = false;
};

}  // namespace

CaStatus CaFolder::Create(const std::string& directory, const std::string& key_pem,
                          const std::string& certificate_pem) {
  std::string error;
  bool exists = false;
  if (!pki::IsAbsentOrEmptyFolder(directory, &exists, &error) ||
      !(exists ? pki::RestrictFolderToOwner(directory, &error)
               : pki::CreateNewFolder(directory, &error))) {
    return Fail(Outcome::kStorage, error);
  }
  CaStatus status;
  NewCaFiles files(directory);
  const bool ok = files.Folder(kIssued, &status) && files.File("ca.key", key_pem, 0600, &status) &&
                  files.Register(kRegister, &status) &&
                  files.File("ca.pem", certificate_pem, 0644, &status);
  if (!ok) return status;
  files.Commit();
  return CaStatus::Ok();
}

CaStatus CaFolder::ReadCertificate(pki::Bytes* pem) const {
  std::string error;
  if (!pki::ReadWholeFile(Path("ca.pem"), kMaxFileSize, pem, &error)) {
    return Fail(Outcome::kNotACa, "no certificate authority in " + directory_ + " (" + error + ")");
  }
  return CaStatus::Ok();
}

CaStatus CaFolder::ReadKey(pki::Bytes* pem) const {
  std::string error;
  if (!pki::ReadWholeFile(Path("ca.key"), kMaxFileSize, pem, &error)) {
    return Fail(Outcome::kNotACa, "the CA in " + directory_ + " has no key (" + error + ")");
  }
  return CaStatus::Ok();
}

CaStatus CaFolder::OpenRegister(std::unique_ptr<SqliteRegister>* store) const {
  const std::string path = Path(kRegister);
  if (pki::KindOfPath(path) == pki::PathKind::kNothing ||
      pki::KindOfPath(Path(kTextRegister)) != pki::PathKind::kNothing) {
    std::string error;
    pki::FileLock lock;
    if (!lock.Acquire(Path("lock"), &error)) return Fail(Outcome::kStorage, error);
    const CaStatus migrated = MigrateLocked();
    if (!migrated.ok()) return migrated;
  }
  return SqliteRegister::Open(path, store);
}

CaStatus CaFolder::MigrateLocked() const {
  const std::string path = Path(kRegister);
  const std::string text_path = Path(kTextRegister);
  const bool have_text = pki::KindOfPath(text_path) != pki::PathKind::kNothing;
  if (pki::KindOfPath(path) == pki::PathKind::kNothing) {
    if (!have_text) return Fail(Outcome::kStorage, "the CA in " + directory_ + " has no register");
    pki::Bytes content;
    std::string error;
    std::vector<RegisteredUser> users;
    if (!pki::ReadWholeFile(text_path, kMaxFileSize, &content, &error)) {
      return Fail(Outcome::kStorage, error);
    }
    if (!ParseRegister(std::string(content.begin(), content.end()), &users, &error)) {
      return Fail(Outcome::kStorage, text_path + ": " + error);
    }
    // The certificates of used pairs come along from their copies, where
    // those are there.
    for (RegisteredUser& user : users) {
      pki::Bytes pem;
      if (!user.used || !pki::ReadWholeFile(Path(kIssued) + "/" + user.serial + ".pem",
                                            kMaxFileSize, &pem, &error)) {
        continue;
      }
      pki::X509Ptr certificate = pki::CertificateFromBytes(pem.data(), pem.size());
      if (certificate) user.certificate = pki::CertificateToDer(certificate.get());
    }
    // Built aside and renamed into place once complete, so that a migration
    // broken off leaves no half register under the real name.
    const std::string building = Path(kNewRegister);
    pki::RemoveFile(building);
    for (const char* suffix : kJournalSuffixes) pki::RemoveFile(building + suffix);
    CaStatus status = SqliteRegister::Create(building);
    if (status.ok()) {
      std::unique_ptr<SqliteRegister> store;
      status = SqliteRegister::Open(building, &store);
      if (status.ok()) status = store->Import(users);
    }
    if (status.ok() && std::rename(building.c_str(), path.c_str()) != 0) {
      status = Fail(Outcome::kStorage, "cannot rename " + building + " to " + path);
    }
    if (!status.ok()) {
      pki::RemoveFile(building);
      for (const char* suffix : kJournalSuffixes) pki::RemoveFile(building + suffix);
      return status;
    }
  }
  // The text register is kept, under a name no version reads; once the
  // database is there, a text register beside it is one whose move was
  // broken off after the database was complete.
  if (have_text && std::rename(text_path.c_str(), Path(kMigratedTextRegister).c_str()) != 0) {
    return Fail(Outcome::kStorage, "cannot rename " + text_path);
  }
  return CaStatus::Ok();
}

CaStatus CaFolder::Tidy() const {
  std::string error;
  pki::FileLock lock;
  if (!lock.Acquire(Path("lock"), &error)) return Fail(Outcome::kStorage, error);
  pki::RemoveInterruptedWrites(directory_,
                               [](const std::string& name) { return name == kTextRegister; });
  pki::RemoveInterruptedWrites(Path(kIssued), [](const std::string& name) {
    return name.size() > 4 && name.compare(name.size() - 4, 4, ".pem") == 0 &&
           IsUpperHex(name.substr(0, name.size() - 4));
  });
  return CaStatus::Ok();
}

CaStatus CaFolder::KeepIssued(const std::string& serial, const std::string& pem) const {
  std::string error;
  // Under the lock, so that Tidy never takes a temporary file from under it.
  pki::FileLock lock;
  if (!lock.Acquire(Path("lock"), &error)) return Fail(Outcome::kStorage, error);
  if (!pki::WriteFileAtomically(Path(kIssued) + "/" + serial + ".pem", pem.data(), pem.size(), 0600,
                                pki::Overwrite::kNever, &error)) {
    return Fail(Outcome::kStorage, error);
  }
  return CaStatus::Ok();
}

void CaFolder::ForgetIssued(const std::string& serial) const {
  pki::RemoveFile(Path(kIssued) + "/" + serial + ".pem");
}

}  // namespace veskar::ca
