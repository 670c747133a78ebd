// A CMS enrollment over CMP at the local CA served on a loopback port:
// through the library and the CMS toolkit, beside the same exchange made
// directly with OpenSSL's CMP client, in the same run; and the server's
// enrollments per second with 1 and 8 clients at once. Needs the CMS
// toolkit on the loader's search path (scripts/bench.sh sets it).
// VESKAR_BENCH_CA_USERS sets how many pairs the CA holds (default 2,500,
// enough for five repetitions of every case).

#include <benchmark/benchmark.h>
#include <openssl/cmp.h>
#include <openssl/x509.h>
#include <stdlib.h>
#include <unistd.h>
#include <veskar/toolkit/cmsapi32.h>
#include <veskar/veskar.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ca/cmp_service.h"
#include "ca/http_server.h"
#include "ca/user_register.h"
#include "pki/files.h"

namespace {

using veskar::pki::Bytes;

// Pairs registered up front; every enrollment spends one.
int RegisteredUsers() {
  const char* value = std::getenv("VESKAR_BENCH_CA_USERS");
  const int users = value != nullptr ? std::atoi(value) : 0;
  return users > 0 ? users : 2500;
}

struct ServedCa {
  std::string folder;
  std::vector<veskar::ca::RegisteredUser> users;
  std::atomic<size_t> next{0};
  std::unique_ptr<veskar::ca::CmpService> service;
  std::unique_ptr<veskar::ca::CmpHttpServer> server;
  std::thread thread;
  int port = -1;
  Bytes pkcs10;
  veskar::pki::X509ReqPtr request;

  ServedCa() {
    char pattern[] = "/tmp/veskar-cmp-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return;
    folder = std::string(pattern) + "/ca";
    if (!veskar::ca::LocalCa::Create(folder, "CN=Bench CA", veskar::ca::LocalCa::kDefaultCaDays)
             .ok())
      return;
    for (int i = 0, count = RegisteredUsers(); i < count; ++i) {
      veskar::ca::RegisteredUser user;
      user.reference_number = 10000000 + i;
      user.authorisation_code = "CODE-" + std::to_string(i);
      user.subject = "CN=Bench User " + std::to_string(i);
      users.push_back(user);
    }
    // Written as an earlier version's text register, which the CA moves
    // into its database when it opens.
    std::remove((folder + "/register.db").c_str());
    const std::string text = veskar::ca::FormatRegister(users);
    std::string error;
    std::unique_ptr<veskar::ca::LocalCa> ca;
    if (!veskar::pki::WriteFileAtomically(folder + "/register.txt", text.data(), text.size(), 0600,
                                          veskar::pki::Overwrite::kReplace, &error) ||
        !veskar::ca::LocalCa::Open(folder, &ca).ok()) {
      return;
    }
    service = std::make_unique<veskar::ca::CmpService>(std::move(ca), veskar::ca::ServiceOptions());
    server = std::make_unique<veskar::ca::CmpHttpServer>(service.get(),
                                                         veskar::ca::CmpHttpServer::Options());
    port = server->Bind("127.0.0.1", 0);
    thread = std::thread([this] { server->Run(); });

    veskar::pki::EvpPkeyPtr key = veskar::pki::NewEcKey();
    request.reset(X509_REQ_new());
    X509_REQ_set_pubkey(request.get(), key.get());
    X509_REQ_sign(request.get(), key.get(), EVP_sha256());
    unsigned char* der = nullptr;
    const int length = i2d_X509_REQ(request.get(), &der);
    pkcs10.assign(der, der + (length > 0 ? length : 0));
    OPENSSL_free(der);
  }

  ~ServedCa() {
    if (server) {
      while (thread.joinable()) {
        server->Stop();
        thread.join();
      }
    }
    std::string command = "rm -rf '" + veskar::pki::DirectoryOf(folder) + "'";
    if (!folder.empty() && std::system(command.c_str()) != 0) std::perror("rm");
  }

  bool Ready() const { return port > 0 && !pkcs10.empty(); }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port) + "/pkix/"; }
  // The next unused pair; null when all are spent.
  const veskar::ca::RegisteredUser* NextUser() {
    const size_t index = next++;
    return index < users.size() ? &users[index] : nullptr;
  }
};

ServedCa& Ca() {
  static ServedCa ca;
  return ca;
}

bool EnrollThroughLibrary(ServedCa& ca, const veskar::ca::RegisteredUser& user) {
  CQnEntCmsPMA agent;
  const std::string reference = std::to_string(user.reference_number);
  Bytes pkcs10 = ca.pkcs10;
  CQnPMCrtUsrEntCms record("", ca.Url().c_str(), "", user.authorisation_code.c_str(),
                           reference.c_str(), 0, pkcs10.data(),
                           static_cast<unsigned int>(pkcs10.size()));
  unsigned char* certificate = nullptr;
  unsigned int length = 0;
  const bool ok = agent.CreateUserCertificate(&certificate, length, &record) == 0;
  delete[] certificate;
  unsigned int ca_length = 0;
  delete[] record.GetRawCACertificate(ca_length);
  return ok;
}

// The toolkit alone, called as the library calls it: login with a client
// INI file naming the server, the request's attributes, issue, retrieve.
bool EnrollThroughToolkit(ServedCa& ca, const veskar::ca::RegisteredUser& user) {
  static const std::string ini = [&ca] {
    const std::string path = veskar::pki::DirectoryOf(ca.folder) + "/client.ini";
    const std::string text = "[Settings]\nManager=" + ca.Url() + "+709\n";
    std::string error;
    veskar::pki::WriteFileAtomically(path, text.data(), text.size(), 0600,
                                     veskar::pki::Overwrite::kReplace, &error);
    return path;
  }();
  void* login = nullptr;
  void* request = nullptr;
  void* cert_template = nullptr;
  if (CMSLogin(CMSQueryVersionNumber(), CMS_CRYPTO_LIBRARY_DEFAULT, nullptr, ini.c_str(), nullptr,
               &login) != 0) {
    return false;
  }
  const std::string reference = std::to_string(user.reference_number);
  auto set = [&](CMSReqAttribType attribute, CMSDataType kind, size_t length, const void* data) {
    CMSAttribValue value{kind, static_cast<uint32_t>(length),
                         static_cast<unsigned char*>(const_cast<void*>(data))};
    return CMSSetReqAttrib(login, request, attribute, &value) == 0;
  };
  KeyPair key_pair{};
  key_pair.kind = 2;
  CMSBinaryData ca_certificate{};
  int retrieved = 0;
  const bool ok =
      CMSCreateReqHdl(login, CMS_REQ_HDL_DEFAULT, &request) == 0 &&
      CMSCreateCertTempl(login, &cert_template) == 0 &&
      set(CMS_REQ_ATTRIB_AUTH_CODE, CMS_DATA_TEXT, user.authorisation_code.size(),
          user.authorisation_code.data()) &&
      set(CMS_REQ_ATTRIB_REF_NUM, CMS_DATA_TEXT, reference.size(), reference.data()) &&
      set(CMS_REQ_ATTRIB_PKCS10, CMS_DATA_BYTES, ca.pkcs10.size(), ca.pkcs10.data()) &&
      CMSRequestMyCertificate(login, cert_template, request, nullptr) == 0 &&
      CMSRetrieveMyCertificate(login, request, &key_pair, &retrieved, &ca_certificate) == 0;
  CMSReleaseKeyPair(&key_pair);
  CMSReleaseBuffer(&ca_certificate);
  CMSLogout(&login);
  return ok;
}

bool EnrollDirectly(ServedCa& ca, const veskar::ca::RegisteredUser& user) {
  OSSL_CMP_CTX* context = OSSL_CMP_CTX_new(nullptr, nullptr);
  const std::string reference = std::to_string(user.reference_number);
  const std::string& code = user.authorisation_code;
  const bool ready =
      context != nullptr && OSSL_CMP_CTX_set1_server(context, "127.0.0.1") == 1 &&
      OSSL_CMP_CTX_set_serverPort(context, ca.port) == 1 &&
      OSSL_CMP_CTX_set1_serverPath(context, "/pkix/") == 1 &&
      OSSL_CMP_CTX_set1_referenceValue(context,
                                       reinterpret_cast<const unsigned char*>(reference.data()),
                                       static_cast<int>(reference.size())) == 1 &&
      OSSL_CMP_CTX_set1_secretValue(context, reinterpret_cast<const unsigned char*>(code.data()),
                                    static_cast<int>(code.size())) == 1 &&
      OSSL_CMP_CTX_set1_p10CSR(context, ca.request.get()) == 1;
  const bool ok = ready && OSSL_CMP_exec_P10CR_ses(context) != nullptr;
  OSSL_CMP_CTX_free(context);
  return ok;
}

template <bool (*EnrollOnce)(ServedCa&, const veskar::ca::RegisteredUser&)>
void RunEnrollments(benchmark::State& state) {
  ServedCa& ca = Ca();
  if (!ca.Ready()) {
    state.SkipWithError("the CA could not be served");
    return;
  }
  if (EnrollOnce == EnrollThroughLibrary && (GetAvaliableServices() & 4) == 0) {
    state.SkipWithError("the CMS toolkit is not on the loader's search path");
    return;
  }
  for (auto _ : state) {
    const veskar::ca::RegisteredUser* user = ca.NextUser();
    if (user == nullptr) {
      state.SkipWithError("every registered pair is spent");
      break;
    }
    if (!EnrollOnce(ca, *user)) {
      state.SkipWithError("enrollment failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}

// The library's enrollment, the toolkit's alone, and the bare CMP exchange
// they make. The library's adds its own work: temporary INI files and the
// protected copy of the certificate, whose key derivation is slow on purpose.
void BM_CmsEnrollmentThroughLibrary(benchmark::State& state) {
  RunEnrollments<EnrollThroughLibrary>(state);
}
void BM_CmsEnrollmentThroughToolkit(benchmark::State& state) {
  RunEnrollments<EnrollThroughToolkit>(state);
}
void BM_CmsEnrollmentDirectCmp(benchmark::State& state) { RunEnrollments<EnrollDirectly>(state); }
BENCHMARK(BM_CmsEnrollmentThroughLibrary)->Iterations(40)->UseRealTime();
BENCHMARK(BM_CmsEnrollmentThroughToolkit)->Iterations(40)->UseRealTime();
BENCHMARK(BM_CmsEnrollmentDirectCmp)->Iterations(40)->UseRealTime();

// The server's rate: items per second over all clients.
void BM_ServerEnrollments(benchmark::State& state) { RunEnrollments<EnrollDirectly>(state); }
BENCHMARK(BM_ServerEnrollments)->Iterations(40)->Threads(1)->Threads(8)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
