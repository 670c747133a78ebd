// A complete host of the library: enrolls one user through the CMS toolkit
// from a PKCS #10 request, writes the certificate and the CA's certificate,
// and releases every buffer the way the library hands them out.
//
//   enroll_host CA DIRECTORY REFERENCE CODE_FILE REQUEST.der CERT.der CA_CERT.der
//
// With the stand-in toolkits, CA is the folder of a CA made with
// 'veskar ca init', DIRECTORY a folder the certificate is published in, and
// REFERENCE and the first line of CODE_FILE the pair 'veskar ca add-user'
// printed.

#include <veskar/veskar.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

bool ReadFile(const char* path, std::vector<unsigned char>* bytes) {
  std::ifstream in(path, std::ios::binary);
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return in.good() || in.eof();
}

bool WriteFile(const char* path, const unsigned char* bytes, unsigned int length) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes), length);
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 8) {
    std::fprintf(stderr,
                 "usage: %s CA DIRECTORY REFERENCE CODE_FILE REQUEST.der CERT.der CA_CERT.der\n",
                 argv[0]);
    return 2;
  }
  // The authorisation code is a secret: it comes from a file, never the
  // command line.
  std::string code;
  std::ifstream code_file(argv[4]);
  if (!std::getline(code_file, code) || code.empty()) {
    std::fprintf(stderr, "cannot read the authorisation code from %s\n", argv[4]);
    return 1;
  }
  std::vector<unsigned char> request;
  if (!ReadFile(argv[5], &request) || request.empty()) {
    std::fprintf(stderr, "cannot read the request %s\n", argv[5]);
    return 1;
  }

  // The toolkits are loaded with the library, before main runs.
  const int services = GetAvaliableServices();
  if ((services & 4) == 0) {
    std::fprintf(stderr,
                 "CMS enrollment is not available (service mask %d): is the CMS toolkit "
                 "(libcmsapi32.so, cmsapi32.dll) on the loader's search path?\n",
                 services);
    return 1;
  }

  CQnEntCmsPMA agent;
  // The request bytes stay ours and must outlive the call below.
  CQnPMCrtUsrEntCms record("enroll_host", argv[1], argv[2], code.c_str(), argv[3],
                           /*to_publish=*/1, request.data(),
                           static_cast<unsigned int>(request.size()));
  unsigned char* certificate = nullptr;
  unsigned int length = 0;
  const int message = agent.CreateUserCertificate(&certificate, length, &record);
  if (message != 0) {
    std::fprintf(stderr, "enrollment failed with message %d: %s\n%s\n", message,
                 static_cast<const char*>(agent.GetErrorString()),
                 static_cast<const char*>(agent.GetExtendedErrorString()));
    delete[] certificate;  // null after a failure; deleting it is harmless
    return 1;
  }
  unsigned int ca_length = 0;
  unsigned char* ca_certificate = record.GetRawCACertificate(ca_length);
  const bool written =
      WriteFile(argv[6], certificate, length) && WriteFile(argv[7], ca_certificate, ca_length);
  // Both buffers come from new[]; the record never frees them.
  delete[] ca_certificate;
  delete[] certificate;
  if (!written) {
    std::fprintf(stderr, "cannot write %s or %s\n", argv[6], argv[7]);
    return 1;
  }
  std::printf("enrolled: %u bytes of certificate in %s, the CA's in %s\n", length, argv[6],
              argv[7]);
  return 0;
}
