#include "ca/sqlite_register.h"

#include <sqlite3.h>

#include <climits>
#include <utility>

#include "pki/files.h"

namespace veskar::ca {
namespace {

using pki::Outcome;

// Registered users keep the order they were added in (id); the reference
// number and the serial each have a unique index. A used pair has a serial;
// a held one a holder (the transaction) and a certificate not yet
// confirmed.
constexpr char kSchema[] =
    "CREATE TABLE users("
    " id INTEGER PRIMARY KEY,"
    " reference INTEGER NOT NULL UNIQUE CHECK (reference > 0),"
    " code TEXT NOT NULL,"
    " subject TEXT NOT NULL,"
    " state TEXT NOT NULL CHECK (state IN ('pending', 'held', 'used')),"
    " serial TEXT UNIQUE,"
    " certificate BLOB,"
    " holder TEXT,"
    " CHECK (state = 'pending' OR serial IS NOT NULL),"
    " CHECK ((state = 'held') = (holder IS NOT NULL)));"
    "PRAGMA user_version = 1;";
constexpr int kSchemaVersion = 1;
constexpr int kAddAttempts = 64;

CaStatus DbFailure(sqlite3* db, const std::string& what) {
  return Fail(Outcome::kStorage, what + ": " + (db ? sqlite3_errmsg(db) : "out of memory"));
}

// One prepared statement, finalised when it goes.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) {
    if (sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr) != SQLITE_OK) statement_ = nullptr;
  }
  ~Statement() { sqlite3_finalize(statement_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool ok() const { return statement_ != nullptr; }
  Statement& Bind(int index, int value) {
    bound_ &= sqlite3_bind_int(statement_, index, value) == SQLITE_OK;
    return *this;
  }
  Statement& Bind(int index, const std::string& text) {
    bound_ &= (text.empty() ? sqlite3_bind_null(statement_, index)
                            : sqlite3_bind_text(statement_, index, text.data(),
                                                static_cast<int>(text.size()), SQLITE_TRANSIENT)) ==
              SQLITE_OK;
    return *this;
  }
  Statement& Bind(int index, const pki::Bytes& blob) {
    bound_ &= (blob.empty() ? sqlite3_bind_null(statement_, index)
                            : sqlite3_bind_blob(statement_, index, blob.data(),
                                                static_cast<int>(blob.size()), SQLITE_TRANSIENT)) ==
              SQLITE_OK;
    return *this;
  }
  // SQLITE_ROW, SQLITE_DONE or an error code.
  int Step() {
    if (!ok() || !bound_) return SQLITE_MISUSE;
    return sqlite3_step(statement_);
  }
  void Reset() {
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
  }
  int Int(int column) const { return sqlite3_column_int(statement_, column); }
  std::string Text(int column) const {
    const unsigned char* text = sqlite3_column_text(statement_, column);
    return text ? std::string(reinterpret_cast<const char*>(text),
                              static_cast<size_t>(sqlite3_column_bytes(statement_, column)))
                : std::string();
  }
  pki::Bytes Blob(int column) const {
    const auto* data = static_cast<const unsigned char*>(sqlite3_column_blob(statement_, column));
    return data ? pki::Bytes(data, data + sqlite3_column_bytes(statement_, column)) : pki::Bytes();
  }

 private:
  sqlite3_stmt* statement_ = nullptr;
  bool bound_ = true;
};

// Runs `sql` (no results); false with the reason on failure.
bool Execute(sqlite3* db, const char* sql) {
  return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// The connection's settings: every commit on disk before it returns, in
// the write-ahead journal so that readers do not wait for writers. Freed
// pages are not overwritten (Debian's default): the register holds no
// secrets beyond the codes, which stay in their rows, and the certificate
// of a released pair would be written a second time.
bool Configure(sqlite3* db) {
  sqlite3_busy_timeout(db, SqliteRegister::kBusyTimeoutMs);
  sqlite3_extended_result_codes(db, 1);
  Statement wal(db, "PRAGMA journal_mode = WAL");
  return wal.Step() == SQLITE_ROW && wal.Text(0) == "wal" &&
         Execute(db, "PRAGMA synchronous = FULL") && Execute(db, "PRAGMA secure_delete = OFF");
}

void ReadUser(const Statement& row, RegisteredUser* user) {
  user->reference_number = row.Int(0);
  user->authorisation_code = row.Text(1);
  user->subject = row.Text(2);
  const std::string state = row.Text(3);
  user->used = state == "used";
  user->held = state == "held";
  user->serial = user->held ? std::string() : row.Text(4);
}

}  // namespace

SqliteRegister::~SqliteRegister() { sqlite3_close_v2(db_); }

CaStatus SqliteRegister::Create(const std::string& path) {
  // An empty file is an empty database to SQLite: made first, owner-only
  // and never over another, so that the journals SQLite makes beside it
  // take the same mode.
  std::string error;
  if (!pki::WriteFileAtomically(path, "", 0, 0600, pki::Overwrite::kNever, &error)) {
    return Fail(Outcome::kStorage, error);
  }
  sqlite3* db = nullptr;
  const int opened =
      sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr);
  CaStatus status;
  if (opened != SQLITE_OK) {
    status = DbFailure(db, "cannot create " + path);
  } else if (!Execute(db, "BEGIN IMMEDIATE") || !Execute(db, kSchema) || !Execute(db, "COMMIT")) {
    status = DbFailure(db, "cannot create the register in " + path);
  }
  sqlite3_close_v2(db);
  return status;
}

CaStatus SqliteRegister::Open(const std::string& path, std::unique_ptr<SqliteRegister>* opened) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr) !=
      SQLITE_OK) {
    const CaStatus status = DbFailure(db, "cannot open the register " + path);
    sqlite3_close_v2(db);
    return status;
  }
  std::unique_ptr<SqliteRegister> store(new SqliteRegister(db, path));
  Statement version(db, "PRAGMA user_version");
  if (!Configure(db) || version.Step() != SQLITE_ROW) {
    return DbFailure(db, "cannot read the register " + path);
  }
  if (version.Int(0) != kSchemaVersion) {
    return Fail(Outcome::kStorage, path + " is not a register of this version (" +
                                       std::to_string(version.Int(0)) + ")");
  }
  *opened = std::move(store);
  return CaStatus::Ok();
}

CaStatus SqliteRegister::Import(const std::vector<RegisteredUser>& users) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (!Execute(db_, "BEGIN IMMEDIATE")) return DbFailure(db_, "cannot change " + path_);
  Statement insert(db_,
                   "INSERT INTO users(reference, code, subject, state, serial, certificate) "
                   "VALUES (?, ?, ?, ?, ?, ?)");
  for (const RegisteredUser& user : users) {
    insert.Reset();
    insert.Bind(1, user.reference_number)
        .Bind(2, user.authorisation_code)
        .Bind(3, user.subject)
        .Bind(4, std::string(user.used ? "used" : "pending"))
        .Bind(5, user.used ? user.serial : std::string())
        .Bind(6, user.used ? user.certificate : pki::Bytes());
    if (insert.Step() != SQLITE_DONE) {
      const CaStatus status =
          DbFailure(db_, "cannot import reference number " + std::to_string(user.reference_number));
      Execute(db_, "ROLLBACK");
      return status;
    }
  }
  if (!Execute(db_, "COMMIT")) {
    const CaStatus status = DbFailure(db_, "cannot change " + path_);
    Execute(db_, "ROLLBACK");
    return status;
  }
  return CaStatus::Ok();
}

CaStatus SqliteRegister::List(std::vector<RegisteredUser>* users) const {
  std::lock_guard<std::mutex> guard(mutex_);
  users->clear();
  Statement select(db_, "SELECT reference, code, subject, state, serial FROM users ORDER BY id");
  int step = 0;
  while ((step = select.Step()) == SQLITE_ROW) {
    users->emplace_back();
    ReadUser(select, &users->back());
  }
  return step == SQLITE_DONE ? CaStatus::Ok() : DbFailure(db_, "cannot read " + path_);
}

CaStatus SqliteRegister::Find(int reference_number, RegisteredUser* user) const {
  std::lock_guard<std::mutex> guard(mutex_);
  Statement select(db_,
                   "SELECT reference, code, subject, state, serial, certificate FROM users "
                   "WHERE reference = ?");
  select.Bind(1, reference_number);
  const int step = select.Step();
  if (step == SQLITE_DONE) {
    return Fail(Outcome::kUnknownReference, "reference number " + std::to_string(reference_number) +
                                                " is not registered at the CA");
  }
  if (step != SQLITE_ROW) return DbFailure(db_, "cannot read " + path_);
  *user = RegisteredUser();
  ReadUser(select, user);
  if (user->used) user->certificate = select.Blob(5);
  return CaStatus::Ok();
}

CaStatus SqliteRegister::SerialTaken(const std::string& serial, bool* taken) const {
  std::lock_guard<std::mutex> guard(mutex_);
  Statement select(db_, "SELECT 1 FROM users WHERE serial = ?");
  select.Bind(1, serial);
  const int step = select.Step();
  if (step != SQLITE_ROW && step != SQLITE_DONE) return DbFailure(db_, "cannot read " + path_);
  *taken = step == SQLITE_ROW;
  return CaStatus::Ok();
}

CaStatus SqliteRegister::Add(RegisteredUser* user) {
  std::lock_guard<std::mutex> guard(mutex_);
  Statement insert(
      db_, "INSERT INTO users(reference, code, subject, state) VALUES (?, ?, ?, 'pending')");
  // A reference number drawn again while it is taken: with eight digits
  // and random draws, a second try is already rare.
  for (int attempt = 0; attempt < kAddAttempts; ++attempt) {
    const int reference = NewReferenceNumber();
    if (reference == 0) return CryptoFailure("cannot make the user's codes");
    insert.Reset();
    insert.Bind(1, reference).Bind(2, user->authorisation_code).Bind(3, user->subject);
    const int step = insert.Step();
    if (step == SQLITE_DONE) {
      user->reference_number = reference;
      return CaStatus::Ok();
    }
    if (step != SQLITE_CONSTRAINT_UNIQUE) return DbFailure(db_, "cannot change " + path_);
  }
  return Fail(Outcome::kStorage, "no free reference number found in " + path_);
}

CaStatus SqliteRegister::Explain(int reference_number, PairChange* change) const {
  Statement select(db_, "SELECT state FROM users WHERE reference = ?");
  select.Bind(1, reference_number);
  const int step = select.Step();
  if (step == SQLITE_DONE) {
    *change = PairChange::kUnknown;
  } else if (step == SQLITE_ROW) {
    *change = select.Text(0) == "used" ? PairChange::kUsed : PairChange::kSuperseded;
  } else {
    return DbFailure(db_, "cannot read " + path_);
  }
  return CaStatus::Ok();
}

CaStatus SqliteRegister::Hold(int reference_number, const std::string& holder,
                              const std::string& serial, const pki::Bytes& certificate,
                              PairChange* change) {
  std::lock_guard<std::mutex> guard(mutex_);
  Statement update(db_,
                   "UPDATE users SET state = 'held', holder = ?, serial = ?, certificate = ? "
                   "WHERE reference = ? AND state <> 'used'");
  update.Bind(1, holder).Bind(2, serial).Bind(3, certificate).Bind(4, reference_number);
  const int step = update.Step();
  if (step != SQLITE_DONE) return DbFailure(db_, "cannot change " + path_);
  if (sqlite3_changes(db_) == 1) {
    *change = PairChange::kDone;
    return CaStatus::Ok();
  }
  return Explain(reference_number, change);
}

CaStatus SqliteRegister::Confirm(int reference_number, const std::string& holder,
                                 PairChange* change) {
  std::lock_guard<std::mutex> guard(mutex_);
  Statement update(db_,
                   "UPDATE users SET state = 'used', holder = NULL "
                   "WHERE reference = ? AND state = 'held' AND holder = ?");
  update.Bind(1, reference_number).Bind(2, holder);
  if (holder.empty() || update.Step() != SQLITE_DONE) {
    return DbFailure(db_, "cannot change " + path_);
  }
  if (sqlite3_changes(db_) == 1) {
    *change = PairChange::kDone;
    return CaStatus::Ok();
  }
  return Explain(reference_number, change);
}

CaStatus SqliteRegister::Spend(int reference_number, const std::string& serial,
                               const pki::Bytes& certificate, PairChange* change) {
  std::lock_guard<std::mutex> guard(mutex_);
  Statement update(db_,
                   "UPDATE users SET state = 'used', holder = NULL, serial = ?, certificate = ? "
                   "WHERE reference = ? AND state <> 'used'");
  update.Bind(1, serial).Bind(2, certificate).Bind(3, reference_number);
  if (serial.empty() || certificate.empty() || update.Step() != SQLITE_DONE) {
    return DbFailure(db_, "cannot change " + path_);
  }
  if (sqlite3_changes(db_) == 1) {
    *change = PairChange::kDone;
    return CaStatus::Ok();
  }
  return Explain(reference_number, change);
}

CaStatus SqliteRegister::Release(int reference_number, const std::string& holder,
                                 const std::string& serial) {
  std::lock_guard<std::mutex> guard(mutex_);
  Statement update(
      db_, holder.empty()
               ? "UPDATE users SET state = 'pending', serial = NULL, certificate = NULL "
                 "WHERE reference = ? AND state = 'used' AND serial = ?"
               : "UPDATE users SET state = 'pending', holder = NULL, serial = NULL, "
                 "certificate = NULL WHERE reference = ? AND state = 'held' AND holder = ?");
  update.Bind(1, reference_number).Bind(2, holder.empty() ? serial : holder);
  if (update.Step() != SQLITE_DONE) return DbFailure(db_, "cannot change " + path_);
  return CaStatus::Ok();
}

}  // namespace veskar::ca
