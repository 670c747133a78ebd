#ifndef VESKAR_CA_SQLITE_REGISTER_H_
#define VESKAR_CA_SQLITE_REGISTER_H_

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ca/register_store.h"

struct sqlite3;

namespace veskar::ca {

// The register as an SQLite database (register.db in the CA folder): one
// row a user, looked up by reference number and serial through indexes.
// Write-ahead journal with full synchronisation, so that a change is on
// disk when its transaction commits; several processes share the file
// through SQLite's own locking, waiting up to kBusyTimeout for each other.
// One connection an object, used by one thread at a time.
class SqliteRegister : public RegisterStore {
 public:
  static constexpr int kBusyTimeoutMs = 15000;

  ~SqliteRegister() override;
  SqliteRegister(const SqliteRegister&) = delete;
  SqliteRegister& operator=(const SqliteRegister&) = delete;

  // Makes a new, empty register at `path`, which must not exist; the file
  // is owner-only.
  static CaStatus Create(const std::string& path);
  // Opens the register at `path`, which must exist.
  static CaStatus Open(const std::string& path, std::unique_ptr<SqliteRegister>* opened);

  // Adds the users of another register, as they are, in one transaction.
  // REQUIRES: the register is empty (as made by Create).
  CaStatus Import(const std::vector<RegisteredUser>& users);

  CaStatus List(std::vector<RegisteredUser>* users) const override;
  CaStatus Find(int reference_number, RegisteredUser* user) const override;
  CaStatus SerialTaken(const std::string& serial, bool* taken) const override;
  CaStatus Add(RegisteredUser* user) override;
  CaStatus Hold(int reference_number, const std::string& holder, const std::string& serial,
                const pki::Bytes& certificate, PairChange* change) override;
  CaStatus Confirm(int reference_number, const std::string& holder, PairChange* change) override;
  CaStatus Spend(int reference_number, const std::string& serial, const pki::Bytes& certificate,
                 PairChange* change) override;
  CaStatus Release(int reference_number, const std::string& holder,
                   const std::string& serial) override;

 private:
  SqliteRegister(sqlite3* db, std::string path) : db_(db), path_(std::move(path)) {}
  // Why a change did not apply, read after it changed no row.
  CaStatus Explain(int reference_number, PairChange* change) const;

  sqlite3* db_;
  std::string path_;
  mutable std::mutex mutex_;  // one statement at a time on the connection
};

}  // namespace veskar::ca

#endif  // VESKAR_CA_SQLITE_REGISTER_H_
