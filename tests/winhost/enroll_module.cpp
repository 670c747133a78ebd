// The enrolling half of unload_host: a module that imports Veskar.dll and
// enrolls one user through the CMS agent when asked.

#include <veskar/veskar.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// CA DIRECTORY REFERENCE CODE_FILE REQUEST.der CERT.der: the certificate
// goes to CERT.der. Returns the agent's message, or -1 when a file cannot
// be read or written.
extern "C" __declspec(dllexport) int EnrollFromFiles(char** args) {
  std::string code;
  std::ifstream code_file(args[3]);
  std::getline(code_file, code);
  std::ifstream request_file(args[4], std::ios::binary);
  std::vector<unsigned char> request((std::istreambuf_iterator<char>(request_file)),
                                     std::istreambuf_iterator<char>());
  if (code.empty() || request.empty()) return -1;

  CQnEntCmsPMA agent;
  CQnPMCrtUsrEntCms record("unload_host", args[0], args[1], code.c_str(), args[2],
                           /*to_publish=*/1, request.data(),
                           static_cast<unsigned int>(request.size()));
  unsigned char* certificate = nullptr;
  unsigned int length = 0;
  const int message = agent.CreateUserCertificate(&certificate, length, &record);
  unsigned int ca_length = 0;
  delete[] record.GetRawCACertificate(ca_length);
  if (message != 0) {
    std::fprintf(stderr, "enrollment failed with message %d: %s\n", message,
                 static_cast<const char*>(agent.GetExtendedErrorString()));
    return message;
  }
  std::ofstream out(args[5], std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(certificate), length);
  delete[] certificate;
  return out ? 0 : -1;
}
