// The CA's CMP request handling on arbitrary bytes: whatever arrives, an
// answer or a refusal, never a crash, an overrun or a leak. The CA lives in a
// temporary folder with one user whose codes the seed requests use.

#include <cstdint>

#include "fuzz/fuzz_ca.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static veskar::ca::CmpService* service = veskar::fuzz::MakeFuzzService().release();
  veskar::ca::CmpService::Outcome outcome;
  const veskar::pki::Bytes answer = service->Handle(data, size, &outcome);
  // Every input is classified; bytes that are not CMP get no answer.
  if (outcome.request.empty() || (outcome.request == "malformed" && !answer.empty())) abort();
  return 0;
}
