#ifndef VESKAR_TESTS_TOOLKITS_CMS_ENROLLMENT_H_
#define VESKAR_TESTS_TOOLKITS_CMS_ENROLLMENT_H_

#include <cstdint>
#include <string>

#include "test_pki.h"

namespace veskar::cmsapi {

struct EnrollInput {
  std::string ini_path;
  std::string authorisation_code;
  std::string reference_number;
  int32_t publish = 0;
  toolkit_test::Bytes pkcs10;
  int32_t template_number = 2;
};

// What an enrollment came to: the first step that failed (a nonzero status
// the toolkit does not class as a warning), its status and reason, or the
// two certificates.
struct Outcome {
  std::string failed_step;
  int status = 0;
  int reason_code = 0;
  std::string reason;
  int warning = 0;
  toolkit_test::Bytes certificate;
  toolkit_test::Bytes ca_certificate;
};

// Runs one enrollment through the toolkit's entry points in the library's
// order: login, request handle, template, the four attributes, the template
// field, issue, retrieve, then the releases in reverse order and logout.
Outcome Enroll(const EnrollInput& in);

}  // namespace veskar::cmsapi

#endif  // VESKAR_TESTS_TOOLKITS_CMS_ENROLLMENT_H_
