// Uses the installed library as a host would; exits non-zero on any surprise.

#include <veskar/veskar.h>

#include <cstdio>

int main() {
  int failures = 0;
  auto check = [&](bool ok, const char* what) {
    if (!ok) {
      std::fprintf(stderr, "consumer: %s\n", what);
      ++failures;
    }
  };

  const int mask = GetAvaliableServices();
  check(mask == 1 || mask == 3 || mask == 5 || mask == 7, "service mask out of range");
  check(CQnPkiMsgAgent::GetPkiMsgAvaliableServices() == mask, "mask differs between calls");

  CQnPkiMsgAgent* agents[] = {new CQnEntCmsPMA, new CQnEntIPSecPMA, new CQnNetscapePMA};
  unsigned char* certificate = nullptr;
  unsigned int length = 0;
  CQnPMGetCAData ca_request;
  check(agents[0]->GetCACertificate(&certificate, length, &ca_request) == 51000, "CMS CA request");
  check(agents[0]->GetErrorString() == "Certificate Service is not avaliable", "51000 text");
  check(agents[2]->GetCACertificate(&certificate, length, &ca_request) == 51001, "Netscape CA");
  for (CQnPkiMsgAgent* agent : agents) delete agent;

  CQnPMCrtUsrEntCms cms_record;
  CQnPMCrtUsrEntCms copy = cms_record;
  check(copy.GetMsgSvrType() == 4 && copy.ToPublish() == 1, "CMS record defaults");

  CCertSession session{};
  session.SetNetscape1x(1);
  check(session.IsNetscape1x() == 1, "session accessor");

  CString text;
  check(text.LoadString(51003) && text == "Failed to Request User Certificate from Netscape CA",
        "message table");
  std::printf("consumer: mask %d, %s\n", mask, failures == 0 ? "ok" : "FAILED");
  return failures == 0 ? 0 : 1;
}
