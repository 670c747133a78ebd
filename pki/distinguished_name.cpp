#include "pki/distinguished_name.h"

#include <openssl/asn1.h>
#include <openssl/objects.h>

#include <algorithm>
#include <cctype>
#include <utility>
#include <vector>

namespace veskar::pki {
namespace {

struct Part {
  std::string type;
  std::string value;
};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Splits `text` at unescaped `separator`s into "type=value" parts. Blanks
// around types and values go, unless escaped.
bool SplitParts(const std::string& text, char separator, std::vector<Part>* parts,
                std::string* error) {
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    Part part;
    while (i < n && IsBlank(text[i])) ++i;
    while (i < n && text[i] != '=' && text[i] != separator) part.type += text[i++];
    while (!part.type.empty() && IsBlank(part.type.back())) part.type.pop_back();
    if (i >= n || text[i] != '=') {
      *error = "'" + part.type + "' has no '=' and value";
      return false;
    }
    ++i;  // '='
    while (i < n && IsBlank(text[i])) ++i;
    size_t keep = 0;  // value length up to the last character that must stay
    while (i < n && text[i] != separator) {
      const char c = text[i];
      if (c == '\\') {
        if (i + 1 >= n) {
          *error = "the name ends in a lone '\\'";
          return false;
        }
        const int high = HexDigit(text[i + 1]);
        const int low = i + 2 < n ? HexDigit(text[i + 2]) : -1;
        if (high >= 0 && low >= 0) {
          part.value += static_cast<char>(high * 16 + low);
          i += 3;
        } else {
          part.value += text[i + 1];
          i += 2;
        }
        keep = part.value.size();
        continue;
      }
      if (c == '+') {
        *error = "multi-valued name parts ('+') are not supported";
        return false;
      }
      if (c == '#' && part.value.empty()) {
        *error = "hexadecimal values ('#...') are not supported";
        return false;
      }
      part.value += c;
      ++i;
      if (!IsBlank(c)) keep = part.value.size();
    }
    part.value.resize(keep);
    if (part.type.empty()) {
      *error = "a part of the name has no attribute type";
      return false;
    }
    if (part.value.empty()) {
      *error = "'" + part.type + "' has an empty value";
      return false;
    }
    parts->push_back(std::move(part));
    if (i < n) ++i;  // separator
  }
  if (parts->empty()) {
    *error = "the name is empty";
    return false;
  }
  return true;
}

int TypeNid(const std::string& type) {
  int nid = OBJ_txt2nid(type.c_str());
  if (nid != NID_undef) return nid;
  std::string upper = type;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return OBJ_txt2nid(upper.c_str());
}

// What a value of the attribute `nid` must be, for a person who wrote one
// the certificate cannot hold: "" when the library sets no bounds.
std::string WhatItTakes(int nid) {
  if (nid == NID_countryName) return "a two-letter country code, such as GB";
  const ASN1_STRING_TABLE* bounds = ASN1_STRING_TABLE_get(nid);
  if (bounds == nullptr || bounds->maxsize <= 0) return "";
  std::string what = bounds->minsize > 1
                         ? std::to_string(bounds->minsize) + " to " +
                               std::to_string(bounds->maxsize) + " characters"
                         : "at most " + std::to_string(bounds->maxsize) + " characters";
  if (bounds->mask == B_ASN1_PRINTABLESTRING) {
    what += " of A-Z a-z 0-9, space and ' ( ) + , - . / : = ?";
  }
  return what;
}

}  // namespace

X509NamePtr ParseName(const std::string& text, std::string* error) {
  std::vector<Part> parts;
  const bool slash_form = !text.empty() && text[0] == '/';
  if (!SplitParts(slash_form ? text.substr(1) : text, slash_form ? '/' : ',', &parts, error)) {
    return nullptr;
  }
  // A certificate lists the parts from the most general; the comma form
  // lists them from the most specific.
  if (!slash_form) std::reverse(parts.begin(), parts.end());
  X509NamePtr name(X509_NAME_new());
  if (!name) {
    *error = "out of memory";
    return nullptr;
  }
  for (const Part& part : parts) {
    const int nid = TypeNid(part.type);
    if (nid == NID_undef) {
      *error = "unknown attribute type '" + part.type + "'";
      return nullptr;
    }
    if (X509_NAME_add_entry_by_NID(name.get(), nid, MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(part.value.data()),
                                   static_cast<int>(part.value.size()), -1, 0) != 1) {
      const std::string why = TakeOpensslError();
      const std::string takes = WhatItTakes(nid);
      *error = "'" + part.type + "=" + part.value + "' is not acceptable" +
               (takes.empty() ? (why.empty() ? "" : " (" + why + ")")
                              : ": " + part.type + " takes " + takes);
      return nullptr;
    }
  }
  return name;
}

std::string NameText(const X509_NAME* name) {
  BioPtr bio(BIO_new(BIO_s_mem()));
  const unsigned long flags =
      (XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB & ~XN_FLAG_SEP_MASK) | XN_FLAG_SEP_CPLUS_SPC;
  if (!bio || X509_NAME_print_ex(bio.get(), name, 0, flags) < 0) return "";
  char* text = nullptr;
  const long length = BIO_get_mem_data(bio.get(), &text);
  return length > 0 ? std::string(text, static_cast<size_t>(length)) : std::string();
}

}  // namespace veskar::pki
