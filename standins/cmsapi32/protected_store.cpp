#include "standins/cmsapi32/protected_store.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cerrno>
#include <cstdint>
#include <sstream>
#include <vector>

#include "pki/files.h"
#include "pki/text_fields.h"
#include "standins/cmsapi32/cms_status.h"

namespace veskar::cmsapi {
namespace {

using pki::Bytes;

constexpr char kHeader[] = "veskar-protected-data 1";
// scrypt cost for new items: 32 MiB and about a tenth of a second.
constexpr int kLogN = 15;
constexpr int kR = 8;
constexpr int kP = 1;
// Limits on what a file may ask for, so that a crafted file cannot make a
// reader spend much more memory or time than an item written here costs:
// twice the memory (128 r N bytes) and twice the work (N r p).
constexpr uint64_t kMaxScryptMemory = 64ull * 1024 * 1024;
constexpr uint64_t kMaxScryptWork = 2ull << (kLogN + 3);  // 2 N r p of new items
constexpr size_t kSaltSize = 16;
constexpr size_t kIvSize = 12;
constexpr size_t kTagSize = 16;
constexpr size_t kKeySize = 32;
// Items hold certificates and the like; a file of a few such items is far
// below these, and a reader never holds more than a few copies of one.
constexpr size_t kMaxItemSize = 4 * 1024 * 1024;
constexpr size_t kMaxFileSize = 8 * 1024 * 1024;

struct Item {
  std::string label;
  // The label as it stands on the line; the tag authenticates this text, so
  // an item read from a file is written back with it unchanged.
  std::string label_field;
  int log_n = kLogN;
  int r = kR;
  int p = kP;
  pki::Bytes salt;
  pki::Bytes iv;
  pki::Bytes sealed;  // ciphertext, then tag
};

std::string ToBase64(const unsigned char* data, size_t size) {
  std::string out(4 * ((size + 2) / 3) + 1, '\0');
  const int length =
      EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&out[0]), data, static_cast<int>(size));
  out.resize(static_cast<size_t>(length));
  return out;
}

std::string ToBase64(const pki::Bytes& data) { return ToBase64(data.data(), data.size()); }

bool FromBase64(const std::string& text, pki::Bytes* out) {
  out->clear();
  if (text.size() % 4 != 0) return false;
  if (text.empty()) return true;
  out->resize(text.size() / 4 * 3);
  const int length =
      EVP_DecodeBlock(out->data(), reinterpret_cast<const unsigned char*>(text.data()),
                      static_cast<int>(text.size()));
  if (length < 0) return false;
  // EVP_DecodeBlock counts the padding as zero bytes.
  size_t padding = 0;
  for (size_t i = text.size(); i > 0 && text[i - 1] == '='; --i) ++padding;
  if (padding > 2) return false;
  out->resize(static_cast<size_t>(length) - padding);
  return true;
}

// Parameters no writer ever used are damage.
bool ParamsPlausible(const Item& item) { return item.log_n >= 10 && item.r >= 1 && item.p >= 1; }

// Whether deriving the key stays within the reader's limits.
bool ParamsAffordable(const Item& item) {
  if (item.log_n > 30 || item.r > 1024 || item.p > 1024) return false;
  const uint64_t n_times_r = (1ull << item.log_n) * static_cast<uint64_t>(item.r);
  return 128 * n_times_r <= kMaxScryptMemory &&
         n_times_r * static_cast<uint64_t>(item.p) <= kMaxScryptWork;
}

// Base64 of nothing is nothing, which would leave an empty field on the
// line; the empty label is written as this marker instead. It lies outside
// the Base64 alphabet, so no other label reads as it.
constexpr char kEmptyLabelField[] = "-";

std::string LabelField(const std::string& label) {
  if (label.empty()) return kEmptyLabelField;
  return ToBase64(reinterpret_cast<const unsigned char*>(label.data()), label.size());
}

// Reads a label field LabelField wrote.
bool LabelFromField(const std::string& field, std::string* label) {
  label->clear();
  if (field == kEmptyLabelField) return true;
  pki::Bytes bytes;
  if (!FromBase64(field, &bytes) || bytes.empty()) return false;
  label->assign(bytes.begin(), bytes.end());
  return true;
}

// The part of an item's line that the tag authenticates.
std::string AuthenticatedPart(const Item& item) {
  return "item " + item.label_field + " " + std::to_string(item.log_n) + " " +
         std::to_string(item.r) + " " + std::to_string(item.p) + " " + ToBase64(item.salt) + " " +
         ToBase64(item.iv);
}

bool ParseInt(const std::string& text, int* value) {
  if (text.empty() || text.size() > 3) return false;
  int result = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    result = result * 10 + (c - '0');
  }
  *value = result;
  return true;
}

// Returns kCmsOk, kCmsProtectedDamaged or kCmsProtectedTooCostly.
int ParseStore(const std::string& text, std::vector<Item>* items) {
  items->clear();
  if (text.empty()) return kCmsOk;
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || line != kHeader) return kCmsProtectedDamaged;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    // item <label> <log2 N> <r> <p> <salt> <iv> <sealed>
    const std::vector<std::string> fields = pki::SplitFields(line, ' ');
    if (fields.size() != 8 || fields[0] != "item") return kCmsProtectedDamaged;
    Item item;
    item.label_field = fields[1];
    if (!LabelFromField(fields[1], &item.label) || !ParseInt(fields[2], &item.log_n) ||
        !ParseInt(fields[3], &item.r) || !ParseInt(fields[4], &item.p) ||
        !FromBase64(fields[5], &item.salt) || !FromBase64(fields[6], &item.iv) ||
        !FromBase64(fields[7], &item.sealed)) {
      return kCmsProtectedDamaged;
    }
    if (!ParamsPlausible(item) || item.salt.size() != kSaltSize || item.iv.size() != kIvSize ||
        item.sealed.size() < kTagSize) {
      return kCmsProtectedDamaged;
    }
    if (!ParamsAffordable(item)) return kCmsProtectedTooCostly;
    items->push_back(std::move(item));
  }
  return kCmsOk;
}

std::string FormatStore(const std::vector<Item>& items) {
  std::string text = std::string(kHeader) + "\n";
  for (const Item& item : items) {
    text += AuthenticatedPart(item) + " " + ToBase64(item.sealed) + "\n";
  }
  return text;
}

bool DeriveKey(const std::string& protection, const Item& item, OSSL_LIB_CTX* libctx,
               pki::Bytes* key) {
  key->assign(kKeySize, 0);
  return EVP_PBE_scrypt_ex(protection.data(), protection.size(), item.salt.data(), item.salt.size(),
                           1ull << item.log_n, static_cast<uint64_t>(item.r),
                           static_cast<uint64_t>(item.p), kMaxScryptMemory + 1024 * 1024,
                           key->data(), key->size(), libctx, nullptr) == 1;
}

pki::EvpCipherPtr Aes256Gcm(OSSL_LIB_CTX* libctx) {
  return pki::EvpCipherPtr(EVP_CIPHER_fetch(libctx, "AES-256-GCM", nullptr));
}

// Seals `plaintext` into item->sealed under `key` and item->iv.
bool Seal(const pki::Bytes& key, const unsigned char* plaintext, size_t size, OSSL_LIB_CTX* libctx,
          Item* item) {
  const pki::EvpCipherPtr cipher = Aes256Gcm(libctx);
  pki::EvpCipherCtxPtr context(EVP_CIPHER_CTX_new());
  const std::string aad = AuthenticatedPart(*item);
  item->sealed.assign(size + kTagSize, 0);
  static const unsigned char kNothing = 0;
  int length = 0;
  int final_length = 0;
  return cipher && context &&
         EVP_EncryptInit_ex(context.get(), cipher.get(), nullptr, key.data(), item->iv.data()) ==
             1 &&
         EVP_EncryptUpdate(context.get(), nullptr, &length,
                           reinterpret_cast<const unsigned char*>(aad.data()),
                           static_cast<int>(aad.size())) == 1 &&
         EVP_EncryptUpdate(context.get(), item->sealed.data(), &length,
                           size > 0 ? plaintext : &kNothing, static_cast<int>(size)) == 1 &&
         EVP_EncryptFinal_ex(context.get(), item->sealed.data() + length, &final_length) == 1 &&
         static_cast<size_t>(length + final_length) == size &&
         EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_GET_TAG, kTagSize,
                             item->sealed.data() + size) == 1;
}

// Opens item.sealed into *plaintext; false, with nothing in *plaintext,
// when the tag does not verify.
bool Unseal(const pki::Bytes& key, const Item& item, OSSL_LIB_CTX* libctx, pki::Bytes* plaintext) {
  const pki::EvpCipherPtr cipher = Aes256Gcm(libctx);
  pki::EvpCipherCtxPtr context(EVP_CIPHER_CTX_new());
  const std::string aad = AuthenticatedPart(item);
  const size_t size = item.sealed.size() - kTagSize;
  pki::Bytes tag(item.sealed.end() - kTagSize, item.sealed.end());
  pki::Bytes opened(size + 1, 0);  // +1: never a zero-sized output buffer
  int length = 0;
  int final_length = 0;
  const bool ok =
      cipher && context &&
      EVP_DecryptInit_ex(context.get(), cipher.get(), nullptr, key.data(), item.iv.data()) == 1 &&
      EVP_DecryptUpdate(context.get(), nullptr, &length,
                        reinterpret_cast<const unsigned char*>(aad.data()),
                        static_cast<int>(aad.size())) == 1 &&
      EVP_DecryptUpdate(context.get(), opened.data(), &length, item.sealed.data(),
                        static_cast<int>(size)) == 1 &&
      EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_TAG, kTagSize, tag.data()) == 1 &&
      EVP_DecryptFinal_ex(context.get(), opened.data() + length, &final_length) == 1;
  if (!ok) {
    pki::Cleanse(&opened);
    pki::TakeOpensslError();
    return false;
  }
  opened.resize(size);
  *plaintext = std::move(opened);
  return true;
}

int ReadStore(const std::string& path, std::vector<Item>* items) {
  pki::Bytes content;
  std::string error;
  int error_number = 0;
  if (!pki::ReadWholeFile(path, kMaxFileSize, &content, &error, &error_number)) {
    return error_number == EFBIG ? kCmsProtectedTooLarge : kCmsProtectedFileError;
  }
  return ParseStore(std::string(content.begin(), content.end()), items);
}

}  // namespace

int PutProtectedItem(const std::string& path, const std::string& label,
                     const std::string& protection, const unsigned char* data, size_t size) {
  if (size > kMaxItemSize) return kCmsProtectedTooLarge;
  // The lock is on the store itself, so that it covers exactly one file.
  pki::FileLock lock;
  std::string error;
  if (!lock.AcquireInPlace(path, &error)) return kCmsProtectedFileError;
  std::vector<Item> items;
  int status = ReadStore(path, &items);
  if (status != kCmsOk) return status;
  std::vector<Item> kept;
  for (Item& item : items) {
    if (item.label != label) kept.push_back(std::move(item));
  }
  Item item;
  item.label = label;
  item.label_field = LabelField(label);
  item.salt.assign(kSaltSize, 0);
  item.iv.assign(kIvSize, 0);
  pki::Bytes key;
  const pki::LibCtxPtr libctx = pki::NewPrivateContext();
  if (!libctx || RAND_bytes_ex(libctx.get(), item.salt.data(), kSaltSize, 0) != 1 ||
      RAND_bytes_ex(libctx.get(), item.iv.data(), kIvSize, 0) != 1 ||
      !DeriveKey(protection, item, libctx.get(), &key) ||
      !Seal(key, data, size, libctx.get(), &item)) {
    pki::Cleanse(&key);
    pki::TakeOpensslError();
    return kCmsInternalError;
  }
  pki::Cleanse(&key);
  kept.push_back(std::move(item));
  const std::string text = FormatStore(kept);
  if (text.size() > kMaxFileSize) return kCmsProtectedTooLarge;
  if (!pki::WriteFileAtomically(path, text.data(), text.size(), 0600, pki::Overwrite::kReplace,
                                &error)) {
    return kCmsProtectedFileError;
  }
  return kCmsOk;
}

int GetProtectedItem(const std::string& path, const std::string& label,
                     const std::string& protection, pki::Bytes* data) {
  data->clear();
  std::vector<Item> items;
  const int status = ReadStore(path, &items);
  if (status != kCmsOk) return status;
  for (const Item& item : items) {
    if (item.label != label) continue;
    pki::Bytes key;
    const pki::LibCtxPtr libctx = pki::NewPrivateContext();
    if (!libctx || !DeriveKey(protection, item, libctx.get(), &key)) {
      pki::TakeOpensslError();
      return kCmsInternalError;
    }
    const bool opened = Unseal(key, item, libctx.get(), data);
    pki::Cleanse(&key);
    return opened ? kCmsOk : kCmsProtectedWrongProtection;
  }
  return kCmsProtectedNoItem;
}

}  // namespace veskar::cmsapi
