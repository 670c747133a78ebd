#ifndef VESKAR_STANDINS_CMSAPI32_PROTECTED_STORE_H_
#define VESKAR_STANDINS_CMSAPI32_PROTECTED_STORE_H_

#include <cstddef>
#include <string>

#include "pki/openssl_util.h"

namespace veskar::cmsapi {

// A protected-data file holds labelled items, each sealed on its own with a
// key derived from its protection string. The file is text, one item a line
// after a header line; an empty file is an empty store:
//
//   veskar-protected-data 1
//   item <label> <log2 N> <r> <p> <salt> <iv> <sealed>
//
// Fields are separated by single blanks. Label, salt, iv and sealed are
// Base64, except that the empty label is "-" (an empty field, as earlier
// versions wrote it, reads as the empty label too). The key is scrypt(protection
// string, salt, N, r, p), 32 bytes; the item is sealed with AES-256-GCM
// under that key and a random 12-byte iv, and "sealed" is the ciphertext
// followed by the 16-byte tag. Everything on the line before "sealed" is
// authenticated too, so an item cannot be moved to another label or have
// its parameters changed unnoticed. A wrong protection string fails the tag
// check and yields nothing.

// Stores `size` bytes under `label` in the file at `path`, replacing an item
// of that label. Creates the file, owner-only, when it does not exist; the
// file is always rewritten owner-only. Returns a CmsStatus.
int PutProtectedItem(const std::string& path, const std::string& label,
                     const std::string& protection, const unsigned char* data, size_t size);

// Reads the item `label` of `path` into *data. On failure *data is empty.
// Returns a CmsStatus.
int GetProtectedItem(const std::string& path, const std::string& label,
                     const std::string& protection, pki::Bytes* data);

}  // namespace veskar::cmsapi

#endif  // VESKAR_STANDINS_CMSAPI32_PROTECTED_STORE_H_
