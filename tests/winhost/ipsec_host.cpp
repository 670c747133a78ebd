// A host of the IPSec agent: creates a user with the pair the CA issued,
// which writes a new profile, then logs in to that profile again with the
// password alone. Both enrollments must hand out the same user certificate
// and a CA certificate.
//
//   ipsec_host CA DIRECTORY REFERENCE CODE_FILE PASSWORD_FILE PROFILE CERT.der
//
// Exits 0 when both succeed; otherwise prints the message and exits 1.

#include <veskar/veskar.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

std::string FirstLine(const char* path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

// One enrollment; the user certificate on success, empty after a failure.
std::vector<unsigned char> Enroll(CQnPMCrtUsrEntIPSec* record, const char* step) {
  CQnEntIPSecPMA agent;
  unsigned char* certificate = nullptr;
  unsigned int length = 0;
  const int message = agent.CreateUserCertificate(&certificate, length, record);
  unsigned int ca_length = 0;
  unsigned char* ca_certificate = record->GetRawCACertificate(ca_length);
  std::vector<unsigned char> issued;
  if (message == 0 && certificate != nullptr && ca_length != 0) {
    issued.assign(certificate, certificate + length);
    std::printf("%s: %u bytes of certificate, %u of the CA's\n", step, length, ca_length);
  } else {
    std::fprintf(stderr, "%s failed with message %d: %s\n", step, message,
                 static_cast<const char*>(agent.GetErrorString()));
  }
  // A later enrollment with this record replaces the pointer unfreed.
  delete[] ca_certificate;
  delete[] certificate;
  return issued;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 8) {
    std::fprintf(stderr,
                 "usage: %s CA DIRECTORY REFERENCE CODE_FILE PASSWORD_FILE PROFILE CERT.der\n",
                 argv[0]);
    return 2;
  }
  const std::string code = FirstLine(argv[4]);
  const std::string password = FirstLine(argv[5]);
  if (code.empty() || password.empty()) {
    std::fprintf(stderr, "cannot read the code from %s or the password from %s\n", argv[4],
                 argv[5]);
    return 1;
  }
  if ((GetAvaliableServices() & 2) == 0) {
    std::fprintf(stderr, "IPSec enrollment is not available: is kmpapi32.dll found?\n");
    return 1;
  }

  CQnPMCrtUsrEntIPSec create("ipsec_host", argv[1], argv[2], password.c_str(), argv[6],
                             code.c_str(), argv[3]);
  const std::vector<unsigned char> created = Enroll(&create, "created the user");
  if (created.empty()) return 1;
  CQnPMCrtUsrEntIPSec login("ipsec_host", argv[1], argv[2], password.c_str(), argv[6]);
  const std::vector<unsigned char> again = Enroll(&login, "logged in again");
  if (again.empty()) return 1;
  if (again != created) {
    std::fprintf(stderr, "the profile holds another certificate than the one issued\n");
    return 1;
  }
  std::ofstream out(argv[7], std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(created.data()),
            static_cast<std::streamsize>(created.size()));
  return out ? 0 : 1;
}
