#include "cms_enrollment.h"

#include <gtest/gtest.h>
#include <veskar/toolkit/cmsapi32.h>

#include "standins/cmsapi32/cms_status.h"

namespace veskar::cmsapi {
namespace {

class Enrollment {
 public:
  explicit Enrollment(Outcome* outcome) : outcome_(outcome) {}

  // True while no step has failed; judges `status` the way the library does.
  bool Step(const char* step, int status) {
    if (!outcome_->failed_step.empty()) return false;
    if (status == 0) return true;
    if (CMSQueryLogWarning(status) != 0) {
      outcome_->warning = status;
      return true;
    }
    outcome_->failed_step = step;
    outcome_->status = status;
    EXPECT_NE(CMSLogToString(status), nullptr);
    char buffer[1024];
    CMSBinaryData reason{sizeof(buffer), reinterpret_cast<unsigned char*>(buffer)};
    outcome_->reason_code = login_ ? ENTGetEntErr(login_, &reason) : 0;
    if (outcome_->reason_code != 0) outcome_->reason = buffer;
    return false;
  }

  void Run(const EnrollInput& in) {
    if (!Step("login", CMSLogin(CMSQueryVersionNumber(), CMS_CRYPTO_LIBRARY_DEFAULT, nullptr,
                                in.ini_path.c_str(), nullptr, &login_))) {
      return;
    }
    if (Step("request handle", CMSCreateReqHdl(login_, CMS_REQ_HDL_DEFAULT, &request_)) &&
        Step("template", CMSCreateCertTempl(login_, &template_))) {
      const int32_t publish = in.publish != 0 ? 1 : 0;
      const int32_t template_number = in.template_number;
      const bool attributes_set =
          Step("attributes",
               SetAttribute(CMS_REQ_ATTRIB_AUTH_CODE, CMS_DATA_TEXT, in.authorisation_code.size(),
                            in.authorisation_code.data())) &&
          Step("attributes",
               SetAttribute(CMS_REQ_ATTRIB_REF_NUM, CMS_DATA_TEXT, in.reference_number.size(),
                            in.reference_number.data())) &&
          Step("attributes", SetAttribute(CMS_REQ_ATTRIB_PUBLISH, CMS_DATA_INT32, 4, &publish)) &&
          Step("attributes", SetAttribute(CMS_REQ_ATTRIB_PKCS10, CMS_DATA_BYTES, in.pkcs10.size(),
                                          in.pkcs10.empty() ? nullptr : in.pkcs10.data()));
      CMSAttribValue field{
          CMS_DATA_INT32, 4,
          reinterpret_cast<unsigned char*>(const_cast<int32_t*>(&template_number))};
      if (attributes_set &&
          Step("template field",
               CMSSetCertFieldValue(login_, template_, CMS_FIELD_TEMPLATE, &field)) &&
          Step("issue", CMSRequestMyCertificate(login_, template_, request_, nullptr))) {
        Retrieve();
      }
    }
    if (template_ != nullptr) CMSReleaseCertTempl(login_, &template_);
    if (request_ != nullptr) CMSReleaseReqHdl(login_, &request_);
    EXPECT_EQ(CMSLogout(&login_), kCmsOk);
    EXPECT_EQ(login_, nullptr);
  }

 private:
  int SetAttribute(CMSReqAttribType attribute, CMSDataType kind, size_t length, const void* bytes) {
    CMSAttribValue value{kind, static_cast<uint32_t>(length),
                         static_cast<unsigned char*>(const_cast<void*>(bytes))};
    return CMSSetReqAttrib(login_, request_, attribute, &value);
  }

  void Retrieve() {
    KeyPair key_pair{};
    key_pair.kind = 2;
    CMSBinaryData ca{};
    int retrieved = -1;
    if (!Step("retrieve", CMSRetrieveMyCertificate(login_, request_, &key_pair, &retrieved, &ca))) {
      return;
    }
    outcome_->certificate.assign(key_pair.certificate.data,
                                 key_pair.certificate.data + key_pair.certificate.length);
    outcome_->ca_certificate.assign(ca.data, ca.data + ca.length);
    EXPECT_EQ(CMSReleaseKeyPair(&key_pair), kCmsOk);
    CMSReleaseBuffer(&ca);
    EXPECT_EQ(key_pair.certificate.data, nullptr);
    EXPECT_EQ(ca.data, nullptr);
  }

  Outcome* outcome_;
  void* login_ = nullptr;
  void* request_ = nullptr;
  void* template_ = nullptr;
};

}  // namespace

Outcome Enroll(const EnrollInput& in) {
  Outcome outcome;
  Enrollment(&outcome).Run(in);
  return outcome;
}

}  // namespace veskar::cmsapi
