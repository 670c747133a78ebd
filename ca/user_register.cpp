#include "ca/user_register.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <cctype>
#include <climits>
#include <cstdint>
#include <set>
#include <sstream>

#include "pki/openssl_util.h"
#include "pki/text_fields.h"

namespace veskar::ca {
namespace {

constexpr char kHeader[] = "# reference\tcode\tstate\tserial\tsubject\n";
constexpr char kCodeAlphabet[] = "ABCDEFGHJKMNPQRSTUVWXYZ23456789";  // 31 symbols
constexpr int kCodeGroups = 3;
constexpr int kCodeGroupLength = 4;

// A copy of the code to compare; reserved up front so that no grown-out
// buffer with part of the code is freed unwiped.
std::string Normalised(const std::string& code) {
  std::string out;
  out.reserve(code.size());
  for (const char c : code) {
    if (c == '-' || c == ' ' || c == '\t') continue;
    out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return out;
}

bool IsHex(const std::string& text) {
  if (text.empty()) return false;
  for (const char c : text) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

}  // namespace

std::string FormatRegister(const std::vector<RegisteredUser>& users) {
  std::string text = kHeader;
  for (const RegisteredUser& user : users) {
    text += std::to_string(user.reference_number) + '\t' + user.authorisation_code + '\t' +
            (user.used ? "used" : "pending") + '\t' + (user.serial.empty() ? "-" : user.serial) +
            '\t' + user.subject + '\n';
  }
  return text;
}

bool ParseRegister(const std::string& text, std::vector<RegisteredUser>* users,
                   std::string* error) {
  users->clear();
  std::istringstream in(text);
  std::string line;
  int line_number = 0;
  std::set<int> seen;
  while (std::getline(in, line)) {
    ++line_number;
    if (line.empty() || line[0] == '#') continue;
    const std::vector<std::string> fields = pki::SplitFields(line, '\t');
    RegisteredUser user;
    const bool ok = fields.size() == 5 && ParseReferenceNumber(fields[0], &user.reference_number) &&
                    !fields[1].empty() && (fields[2] == "used" || fields[2] == "pending") &&
                    (fields[3] == "-" || IsHex(fields[3])) && !fields[4].empty();
    if (!ok) {
      *error = "line " + std::to_string(line_number) + " of the register is damaged";
      return false;
    }
    if (!seen.insert(user.reference_number).second) {
      *error = "reference number " + fields[0] + " appears twice in the register";
      return false;
    }
    user.authorisation_code = fields[1];
    user.used = fields[2] == "used";
    if (fields[3] != "-") user.serial = fields[3];
    user.subject = fields[4];
    users->push_back(std::move(user));
  }
  return true;
}

bool ParseReferenceNumber(const std::string& text, int* number) {
  if (text.empty() || text.size() > 20) return false;
  long long value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
    if (value > INT_MAX) return false;
  }
  if (value == 0) return false;
  *number = static_cast<int>(value);
  return true;
}

std::string NewAuthorisationCode() {
  constexpr unsigned int kSymbols = sizeof(kCodeAlphabet) - 1;
  // Bytes at or above the largest multiple of the alphabet's size are drawn
  // again, so every symbol is equally likely.
  constexpr unsigned int kLimit = 256 / kSymbols * kSymbols;
  std::string code;
  while (code.size() < static_cast<size_t>(kCodeGroups * (kCodeGroupLength + 1) - 1)) {
    unsigned char byte = 0;
    if (RAND_bytes(&byte, 1) != 1) return "";
    if (byte >= kLimit) continue;
    if (code.size() % (kCodeGroupLength + 1) == kCodeGroupLength) code += '-';
    code += kCodeAlphabet[byte % kSymbols];
  }
  return code;
}

int NewReferenceNumber() {
  constexpr uint32_t kFirst = 10000000;
  constexpr uint32_t kCount = 90000000;  // eight digits
  constexpr uint32_t kLimit = UINT32_MAX / kCount * kCount;
  for (;;) {
    uint32_t draw = 0;
    if (RAND_bytes(reinterpret_cast<unsigned char*>(&draw), sizeof(draw)) != 1) return 0;
    if (draw >= kLimit) continue;
    return static_cast<int>(kFirst + draw % kCount);
  }
}

bool AuthorisationCodesMatch(const std::string& typed, const std::string& registered) {
  std::string a = Normalised(typed);
  std::string b = Normalised(registered);
  const bool match =
      a.size() == b.size() && !a.empty() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
  pki::Cleanse(&a);
  pki::Cleanse(&b);
  return match;
}

}  // namespace veskar::ca
