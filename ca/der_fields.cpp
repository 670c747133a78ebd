#include "ca/der_fields.h"

#include <openssl/asn1.h>

#include <functional>

namespace veskar::ca {
namespace {

struct Element {
  int tag;
  int tag_class;
  bool constructed;
  const unsigned char* content;
  long length;
};

// Calls `visit` with each element directly inside the DER SEQUENCE `der`
// until it returns false. False when the bytes are not a well-formed
// definite-length SEQUENCE.
bool ForEachChild(const pki::Bytes& der, const std::function<bool(const Element&)>& visit) {
  const unsigned char* p = der.data();
  long length = 0;
  int tag = 0;
  int tag_class = 0;
  int flags = ASN1_get_object(&p, &length, &tag, &tag_class, static_cast<long>(der.size()));
  if ((flags & 0x80) != 0 || (flags & 0x01) != 0 || tag != V_ASN1_SEQUENCE ||
      tag_class != V_ASN1_UNIVERSAL) {
    return false;
  }
  const unsigned char* end = p + length;
  while (p < end) {
    flags = ASN1_get_object(&p, &length, &tag, &tag_class, static_cast<long>(end - p));
    if ((flags & 0x80) != 0 || (flags & 0x01) != 0) return false;
    if (!visit({tag, tag_class, (flags & V_ASN1_CONSTRUCTED) != 0, p, length})) return true;
    p += length;
  }
  return true;
}

}  // namespace

std::optional<std::string> SenderKeyId(const OSSL_CMP_MSG* message) {
  const pki::Bytes header = pki::Encoded(OSSL_CMP_MSG_get0_header(message), i2d_OSSL_CMP_PKIHEADER);
  std::optional<std::string> id;
  ForEachChild(header, [&](const Element& e) {
    // senderKID [2] EXPLICIT KeyIdentifier (an OCTET STRING).
    if (e.tag_class != V_ASN1_CONTEXT_SPECIFIC || e.tag != 2 || !e.constructed) return true;
    const unsigned char* p = e.content;
    ASN1_OCTET_STRING* octets = d2i_ASN1_OCTET_STRING(nullptr, &p, e.length);
    if (octets != nullptr) {
      id.emplace(reinterpret_cast<const char*>(ASN1_STRING_get0_data(octets)),
                 static_cast<size_t>(ASN1_STRING_length(octets)));
      ASN1_OCTET_STRING_free(octets);
    }
    return false;
  });
  return id;
}

int PkiStatusOf(const OSSL_CMP_PKISI* status_info) {
  const pki::Bytes der = pki::Encoded(status_info, i2d_OSSL_CMP_PKISI);
  int status = -1;
  ForEachChild(der, [&](const Element& e) {
    if (e.tag_class == V_ASN1_UNIVERSAL && e.tag == V_ASN1_INTEGER && e.length > 0 &&
        e.length <= 4) {
      // A small non-negative INTEGER: its content bytes, big-endian.
      long value = 0;
      for (long i = 0; i < e.length; ++i) value = (value << 8) | e.content[i];
      if ((e.content[0] & 0x80) == 0) status = static_cast<int>(value);
    }
    return false;
  });
  return status;
}

pki::EvpPkeyPtr TemplatePublicKey(const OSSL_CRMF_MSG* request) {
  const pki::Bytes der = pki::Encoded(OSSL_CRMF_MSG_get0_tmpl(request), i2d_OSSL_CRMF_CERTTEMPLATE);
  pki::EvpPkeyPtr key;
  ForEachChild(der, [&](const Element& e) {
    // publicKey [6] IMPLICIT SubjectPublicKeyInfo: the SEQUENCE's content
    // under another tag. Given its own tag back, OpenSSL reads it.
    if (e.tag_class != V_ASN1_CONTEXT_SPECIFIC || e.tag != 6 || !e.constructed) return true;
    const int header = ASN1_object_size(1, static_cast<int>(e.length), V_ASN1_SEQUENCE) -
                       static_cast<int>(e.length);
    if (header <= 0) return false;
    pki::Bytes info(static_cast<size_t>(header) + static_cast<size_t>(e.length));
    unsigned char* out = info.data();
    ASN1_put_object(&out, 1, static_cast<int>(e.length), V_ASN1_SEQUENCE, V_ASN1_UNIVERSAL);
    std::copy(e.content, e.content + e.length, out);
    const unsigned char* p = info.data();
    key.reset(d2i_PUBKEY(nullptr, &p, static_cast<long>(info.size())));
    return false;
  });
  return key;
}

}  // namespace veskar::ca
