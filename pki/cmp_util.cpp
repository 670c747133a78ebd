#include "pki/cmp_util.h"

#include "pki/thread_slot.h"

namespace veskar::pki {
namespace {

struct LastLogError;
std::string& LastLog() { return ThreadSlot<std::string, LastLogError>::Mine(); }

int KeepErrors(const char* /*function*/, const char* /*file*/, int /*line*/,
               OSSL_CMP_severity level, const char* message) {
  if (level <= OSSL_CMP_LOG_ERR && message != nullptr) LastLog() = message;
  return 1;
}

}  // namespace

bool Quiet(OSSL_CMP_CTX* context) {
  return context != nullptr && OSSL_CMP_CTX_set_log_cb(context, KeepErrors) == 1;
}

std::string TakeLastLogError() {
  std::string taken;
  taken.swap(LastLog());
  return taken;
}

bool SetSecret(OSSL_CMP_CTX* context, const std::string& secret) {
  return OSSL_CMP_CTX_set1_secretValue(context,
                                       reinterpret_cast<const unsigned char*>(secret.data()),
                                       static_cast<int>(secret.size())) == 1;
}

std::string HexText(const ASN1_OCTET_STRING* octets) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  if (octets == nullptr) return text;
  const unsigned char* data = ASN1_STRING_get0_data(octets);
  for (int i = 0; i < ASN1_STRING_length(octets); ++i) {
    text += kDigits[data[i] >> 4];
    text += kDigits[data[i] & 0x0f];
  }
  return text;
}

std::string Printable(const std::string& text) {
  constexpr size_t kMost = 64;
  std::string out;
  for (size_t i = 0; i < text.size() && i < kMost; ++i) {
    const char c = text[i];
    out += c >= 0x20 && c < 0x7f ? c : '?';
  }
  if (text.size() > kMost) out += "...";
  return out;
}

}  // namespace veskar::pki
