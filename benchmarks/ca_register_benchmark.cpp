// The CA's costs as its register grows: adding a user, and the server's
// CPU time for one enrollment (p10cr and certConf, MACs and the CA's own
// signature included), at 1,000, 100,000 and 1,000,000 registered users.
// The aim is flat cost. Registers are built once a run, straight into
// SQLite in one transaction, in a scratch folder removed at the end.

#include <benchmark/benchmark.h>
#include <openssl/cmp.h>
#include <openssl/err.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <time.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "ca/cmp_service.h"
#include "pki/cmp_util.h"

namespace {

using veskar::ca::CmpService;
using veskar::ca::LocalCa;

constexpr int kFirstReference = 10000000;

std::string Code(int i) { return "BNCH-" + std::to_string(i); }

// A scratch folder, removed with everything in it at exit.
struct Scratch {
  std::string path;
  Scratch() {
    char pattern[] = "/tmp/veskar-register-bench-XXXXXX";
    if (mkdtemp(pattern) != nullptr) path = pattern;
  }
  ~Scratch() {
    const std::string command = "rm -rf '" + path + "'";
    if (!path.empty() && std::system(command.c_str()) != 0) std::perror("rm");
  }
};

Scratch& TheScratch() {
  static Scratch scratch;
  return scratch;
}

// A CA with `users` pending pairs, reference numbers kFirstReference on.
std::unique_ptr<LocalCa> CaWith(int users) {
  static std::map<int, std::string> folders;
  std::string& folder = folders[users];
  if (folder.empty()) {
    folder = TheScratch().path + "/ca-" + std::to_string(users);
    if (!LocalCa::Create(folder, "CN=Bench CA", LocalCa::kDefaultCaDays).ok()) return nullptr;
    sqlite3* db = nullptr;
    bool ok = sqlite3_open((folder + "/register.db").c_str(), &db) == SQLITE_OK &&
              sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_stmt* insert = nullptr;
    ok = ok && sqlite3_prepare_v2(db,
                                  "INSERT INTO users(reference, code, subject, state) "
                                  "VALUES (?, ?, ?, 'pending')",
                                  -1, &insert, nullptr) == SQLITE_OK;
    for (int i = 0; ok && i < users; ++i) {
      const std::string code = Code(i);
      const std::string subject = "CN=Bench User " + std::to_string(i);
      sqlite3_bind_int(insert, 1, kFirstReference + i);
      sqlite3_bind_text(insert, 2, code.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(insert, 3, subject.c_str(), -1, SQLITE_TRANSIENT);
      ok = sqlite3_step(insert) == SQLITE_DONE;
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    ok = ok && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    if (!ok) return nullptr;
  }
  std::unique_ptr<LocalCa> ca;
  if (!LocalCa::Open(folder, &ca).ok()) return nullptr;
  return ca;
}

void BM_AddUser(benchmark::State& state) {
  std::unique_ptr<LocalCa> ca = CaWith(static_cast<int>(state.range(0)));
  if (!ca) {
    state.SkipWithError("no register");
    return;
  }
  int i = 0;
  for (auto _ : state) {
    veskar::ca::RegisteredUser added;
    if (!ca->AddUser("CN=Added " + std::to_string(i++), &added).ok()) {
      state.SkipWithError("add-user failed");
      break;
    }
  }
}
BENCHMARK(BM_AddUser)->Arg(1000)->Arg(100000)->Arg(1000000)->Iterations(200)->UseRealTime();

double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// OpenSSL's client in process; only the service's handling is timed.
struct TimedClient {
  CmpService* service;
  double seconds = 0;

  static OSSL_CMP_MSG* Transfer(OSSL_CMP_CTX* context, const OSSL_CMP_MSG* request) {
    auto* self = static_cast<TimedClient*>(OSSL_CMP_CTX_get_transfer_cb_arg(context));
    const veskar::pki::Bytes der = veskar::pki::Encoded(request, i2d_OSSL_CMP_MSG);
    CmpService::Outcome outcome;
    const double start = ThreadCpuSeconds();
    const veskar::pki::Bytes answer = self->service->Handle(der.data(), der.size(), &outcome);
    self->seconds += ThreadCpuSeconds() - start;
    const unsigned char* p = answer.data();
    return answer.empty() ? nullptr
                          : d2i_OSSL_CMP_MSG(nullptr, &p, static_cast<long>(answer.size()));
  }

  bool Enroll(int user, X509_REQ* request) {
    veskar::pki::CtxPtr context(OSSL_CMP_CTX_new(nullptr, nullptr));
    const std::string reference = std::to_string(kFirstReference + user);
    const bool ready = context && veskar::pki::Quiet(context.get()) &&
                       OSSL_CMP_CTX_set_transfer_cb(context.get(), Transfer) == 1 &&
                       OSSL_CMP_CTX_set_transfer_cb_arg(context.get(), this) == 1 &&
                       OSSL_CMP_CTX_set1_referenceValue(
                           context.get(), reinterpret_cast<const unsigned char*>(reference.data()),
                           static_cast<int>(reference.size())) == 1 &&
                       veskar::pki::SetSecret(context.get(), Code(user)) &&
                       OSSL_CMP_CTX_set1_p10CSR(context.get(), request) == 1;
    const bool ok = ready && OSSL_CMP_exec_P10CR_ses(context.get()) != nullptr;
    ERR_clear_error();
    return ok;
  }
};

// One enrollment's CPU time in the server, at a register of range(0)
// users; every iteration spends a pair spread over the register.
void BM_EnrollmentServerCpu(benchmark::State& state) {
  const int users = static_cast<int>(state.range(0));
  std::unique_ptr<LocalCa> ca = CaWith(users);
  if (!ca) {
    state.SkipWithError("no register");
    return;
  }
  CmpService service(std::move(ca), veskar::ca::ServiceOptions());
  veskar::pki::EvpPkeyPtr key = veskar::pki::NewEcKey();
  veskar::pki::X509ReqPtr request(X509_REQ_new());
  X509_REQ_set_pubkey(request.get(), key.get());
  X509_REQ_sign(request.get(), key.get(), EVP_sha256());
  TimedClient client{&service};
  static std::map<int, int> next;  // pairs spent by earlier runs
  for (auto _ : state) {
    const int user = (next[users]++ * 7919) % users;
    client.seconds = 0;
    if (!client.Enroll(user, request.get())) {
      state.SkipWithError("enrollment failed");
      break;
    }
    state.SetIterationTime(client.seconds);
  }
}
BENCHMARK(BM_EnrollmentServerCpu)
    ->Arg(1000)
    ->Arg(100000)
    ->Arg(1000000)
    ->Iterations(200)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
