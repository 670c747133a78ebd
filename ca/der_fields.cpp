#include "ca/der_fields.h"

#include <openssl/asn1.h>
#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <climits>
#include <functional>

#include "pki/cmp_util.h"

namespace veskar::ca {
namespace {

struct Element {
  int tag;
  int tag_class;
  bool constructed;
  const unsigned char* content;
  long length;
  const unsigned char* start;  // of the whole element, tag and length included
  long size;

  bool Is(int context_tag) const {
    return tag_class == V_ASN1_CONTEXT_SPECIFIC && tag == context_tag && constructed;
  }
};

// Calls `visit` with each element directly inside the DER SEQUENCE of
// `size` bytes at `der` until it returns false. False when the bytes are
// not a well-formed definite-length SEQUENCE.
bool ForEachChild(const unsigned char* der, size_t size,
                  const std::function<bool(const Element&)>& visit) {
  const unsigned char* p = der;
  long length = 0;
  int tag = 0;
  int tag_class = 0;
  if (der == nullptr || size > static_cast<size_t>(LONG_MAX)) return false;
  int flags = ASN1_get_object(&p, &length, &tag, &tag_class, static_cast<long>(size));
  if ((flags & 0x80) != 0 || (flags & 0x01) != 0 || tag != V_ASN1_SEQUENCE ||
      tag_class != V_ASN1_UNIVERSAL) {
    return false;
  }
  const unsigned char* end = p + length;
  while (p < end) {
    const unsigned char* start = p;
    flags = ASN1_get_object(&p, &length, &tag, &tag_class, static_cast<long>(end - p));
    if ((flags & 0x80) != 0 || (flags & 0x01) != 0) return false;
    const Element element{tag,    tag_class, (flags & V_ASN1_CONSTRUCTED) != 0,    p,
                          length, start,     static_cast<long>(p - start) + length};
    if (!visit(element)) return true;
    p += length;
  }
  return true;
}

bool ForEachChild(const pki::Bytes& der, const std::function<bool(const Element&)>& visit) {
  return ForEachChild(der.data(), der.size(), visit);
}

// The NID of an AlgorithmIdentifier's OID, and its parameters' DER when
// they are a SEQUENCE.
int AlgorithmOf(const unsigned char* der, long size, pki::Bytes* parameters) {
  const unsigned char* p = der;
  X509_ALGOR* algorithm = d2i_X509_ALGOR(nullptr, &p, size);
  if (algorithm == nullptr) return NID_undef;
  const ASN1_OBJECT* oid = nullptr;
  int type = V_ASN1_UNDEF;
  const void* value = nullptr;
  X509_ALGOR_get0(&oid, &type, &value, algorithm);
  const int nid = OBJ_obj2nid(oid);
  if (parameters != nullptr && type == V_ASN1_SEQUENCE && value != nullptr) {
    const auto* sequence = static_cast<const ASN1_STRING*>(value);
    const unsigned char* data = ASN1_STRING_get0_data(sequence);
    parameters->assign(data, data + ASN1_STRING_length(sequence));
  }
  X509_ALGOR_free(algorithm);
  return nid;
}

}  // namespace

std::optional<std::string> SenderKeyId(const OSSL_CMP_MSG* message) {
  const pki::Bytes header = pki::Encoded(OSSL_CMP_MSG_get0_header(message), i2d_OSSL_CMP_PKIHEADER);
  std::optional<std::string> id;
  ForEachChild(header, [&](const Element& e) {
    // senderKID [2] EXPLICIT KeyIdentifier (an OCTET STRING).
    if (!e.Is(2)) return true;
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
    if (!e.Is(6)) return true;
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

std::optional<MacParameters> ProtectionOf(const OSSL_CMP_MSG* message) {
  const pki::Bytes header = pki::Encoded(OSSL_CMP_MSG_get0_header(message), i2d_OSSL_CMP_PKIHEADER);
  std::optional<MacParameters> found;
  ForEachChild(header, [&](const Element& e) {
    // protectionAlg [1] EXPLICIT AlgorithmIdentifier.
    if (!e.Is(1)) return true;
    MacParameters mac;
    pki::Bytes parameters;
    mac.algorithm = AlgorithmOf(e.content, e.length, &parameters);
    if (mac.algorithm == NID_id_PasswordBasedMAC) {
      // PBMParameter ::= SEQUENCE { salt OCTET STRING, owf AlgorithmIdentifier,
      //                             iterationCount INTEGER, mac AlgorithmIdentifier }
      int index = 0;
      ForEachChild(parameters, [&](const Element& field) {
        switch (index++) {
          case 0:
            if (field.tag == V_ASN1_OCTET_STRING) mac.salt_length = field.length;
            break;
          case 1:
            mac.owf = AlgorithmOf(field.start, field.size, nullptr);
            break;
          case 2:
            // A positive INTEGER of at most four content bytes; longer
            // ones stay -1, above every limit.
            if (field.tag == V_ASN1_INTEGER && field.length > 0 && field.length <= 4 &&
                (field.content[0] & 0x80) == 0) {
              mac.iterations = 0;
              for (long i = 0; i < field.length; ++i) {
                mac.iterations = (mac.iterations << 8) | field.content[i];
              }
            }
            break;
          case 3:
            mac.mac = AlgorithmOf(field.start, field.size, nullptr);
            break;
          default:
            break;
        }
        return index < 4;
      });
    }
    found = mac;
    return false;
  });
  return found;
}

pki::EvpPkeyPtr RequestedPublicKey(const OSSL_CMP_MSG* message) {
  const pki::Bytes der = pki::Encoded(message, i2d_OSSL_CMP_MSG);
  pki::EvpPkeyPtr key;
  int index = 0;
  ForEachChild(der, [&](const Element& e) {
    if (index++ == 0) return true;  // the header
    // The body: ir [0], cr [2] and kur [7] hold CertReqMessages, p10cr [4]
    // a PKCS #10 CertificationRequest, each EXPLICIT.
    const unsigned char* p = e.content;
    if (e.Is(0) || e.Is(2) || e.Is(7)) {
      OSSL_CRMF_MSGS* requests = d2i_OSSL_CRMF_MSGS(nullptr, &p, e.length);
      if (requests != nullptr && sk_OSSL_CRMF_MSG_num(requests) > 0) {
        key = TemplatePublicKey(sk_OSSL_CRMF_MSG_value(requests, 0));
      }
      sk_OSSL_CRMF_MSG_pop_free(requests, OSSL_CRMF_MSG_free);
    } else if (e.Is(4)) {
      X509_REQ* request = d2i_X509_REQ(nullptr, &p, e.length);
      if (request != nullptr) key.reset(X509_REQ_get_pubkey(request));
      X509_REQ_free(request);
    }
    return false;
  });
  ERR_clear_error();
  return key;
}

pki::MsgPtr RefusalRequest(const OSSL_CMP_MSG* request) {
  const int type = OSSL_CMP_MSG_get_bodytype(request);
  // The request's header without its protectionAlg: nothing left to check.
  const pki::Bytes header = pki::Encoded(OSSL_CMP_MSG_get0_header(request), i2d_OSSL_CMP_PKIHEADER);
  pki::Bytes fields;
  if (!ForEachChild(header, [&](const Element& e) {
        if (!e.Is(1)) fields.insert(fields.end(), e.start, e.start + e.size);
        return true;
      })) {
    return nullptr;
  }
  // One request verified by the RA, asking for nothing, under the request's
  // certReqId where it has one.
  long request_id = 0;
  if (type != pki::kBodyP10cr) {
    const pki::Bytes der = pki::Encoded(request, i2d_OSSL_CMP_MSG);
    int index = 0;
    ForEachChild(der, [&](const Element& e) {
      if (index++ == 0) return true;
      const unsigned char* p = e.content;
      OSSL_CRMF_MSGS* requests = d2i_OSSL_CRMF_MSGS(nullptr, &p, e.length);
      if (requests != nullptr && sk_OSSL_CRMF_MSG_num(requests) > 0) {
        request_id = OSSL_CRMF_MSG_get_certReqId(sk_OSSL_CRMF_MSG_value(requests, 0));
      }
      sk_OSSL_CRMF_MSG_pop_free(requests, OSSL_CRMF_MSG_free);
      return false;
    });
    if (request_id < 0) request_id = 0;
  }
  OSSL_CRMF_MSG* message = OSSL_CRMF_MSG_new();
  OSSL_CRMF_MSGS* messages = sk_OSSL_CRMF_MSG_new_null();
  pki::Bytes body;
  if (message != nullptr && messages != nullptr &&
      OSSL_CRMF_MSG_set_certReqId(message, request_id) == 1 &&
      OSSL_CRMF_MSG_create_popo(OSSL_CRMF_POPO_RAVERIFIED, message, nullptr, nullptr, nullptr,
                                nullptr) == 1 &&
      sk_OSSL_CRMF_MSG_push(messages, message) > 0) {
    message = nullptr;
    body = pki::Encoded(messages, i2d_OSSL_CRMF_MSGS);
  }
  OSSL_CRMF_MSG_free(message);
  sk_OSSL_CRMF_MSG_pop_free(messages, OSSL_CRMF_MSG_free);
  if (body.empty()) return nullptr;
  // A p10cr is answered as a cr is, with a cp.
  const int body_tag = type == pki::kBodyIr ? 0 : type == pki::kBodyKur ? 7 : 2;
  auto wrap = [](int tag, int tag_class, const pki::Bytes& content) {
    const int length = static_cast<int>(content.size());
    pki::Bytes out(static_cast<size_t>(ASN1_object_size(1, length, tag)));
    unsigned char* p = out.data();
    ASN1_put_object(&p, 1, length, tag, tag_class);
    std::copy(content.begin(), content.end(), p);
    return out;
  };
  pki::Bytes message_der = wrap(V_ASN1_SEQUENCE, V_ASN1_UNIVERSAL, fields);
  const pki::Bytes wrapped_body = wrap(body_tag, V_ASN1_CONTEXT_SPECIFIC, body);
  message_der.insert(message_der.end(), wrapped_body.begin(), wrapped_body.end());
  message_der = wrap(V_ASN1_SEQUENCE, V_ASN1_UNIVERSAL, message_der);
  const unsigned char* p = message_der.data();
  pki::MsgPtr made(d2i_OSSL_CMP_MSG(nullptr, &p, static_cast<long>(message_der.size())));
  ERR_clear_error();
  return made;
}

}  // namespace veskar::ca
