#include "ca/ca_folder.h"

#include <cctype>

#include "pki/files.h"
#include "pki/folders.h"

namespace veskar::ca {
namespace {

using pki::Outcome;

constexpr size_t kMaxFileSize = 16 * 1024 * 1024;
constexpr char kRegister[] = "register.txt";
constexpr char kIssued[] = "issued";

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
                  files.File(kRegister, FormatRegister({}), 0600, &status) &&
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

CaStatus CaFolder::Read(std::vector<RegisteredUser>* users) const {
  pki::Bytes content;
  std::string error;
  if (!pki::ReadWholeFile(Path(kRegister), kMaxFileSize, &content, &error)) {
    return Fail(Outcome::kStorage, error);
  }
  if (!ParseRegister(std::string(content.begin(), content.end()), users, &error)) {
    return Fail(Outcome::kStorage, Path(kRegister) + ": " + error);
  }
  return CaStatus::Ok();
}

CaStatus CaFolder::Write(const std::vector<RegisteredUser>& users) const {
  const std::string text = FormatRegister(users);
  std::string error;
  if (!pki::WriteFileAtomically(Path(kRegister), text.data(), text.size(), 0600,
                                pki::Overwrite::kReplace, &error)) {
    return Fail(Outcome::kStorage, error);
  }
  return CaStatus::Ok();
}

CaStatus CaFolder::Change(
    const std::function<CaStatus(std::vector<RegisteredUser>& users, const Save& save)>& change) {
  std::string error;
  pki::FileLock lock;
  if (!lock.Acquire(Path("lock"), &error)) return Fail(Outcome::kStorage, error);
  RemoveInterruptedWritesLocked();
  std::vector<RegisteredUser> users;
  const CaStatus status = Read(&users);
  if (!status.ok()) return status;
  return change(users, [this, &users] { return Write(users); });
}

void CaFolder::RemoveInterruptedWritesLocked() const {
  pki::RemoveInterruptedWrites(directory_,
                               [](const std::string& name) { return name == kRegister; });
  pki::RemoveInterruptedWrites(Path(kIssued), [](const std::string& name) {
    return name.size() > 4 && name.compare(name.size() - 4, 4, ".pem") == 0 &&
           IsUpperHex(name.substr(0, name.size() - 4));
  });
}

CaStatus CaFolder::KeepIssued(const std::string& serial, const std::string& pem) const {
  std::string error;
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
