#ifndef VESKAR_AGENTS_REQUEST_ADMISSION_H_
#define VESKAR_AGENTS_REQUEST_ADMISSION_H_

#include <veskar/records.h>

namespace veskar {

// The first steps every Entrust request takes: the caller's certificate
// pointer and length are cleared, then the request is admitted only when the
// toolkit is bound, the out-pointer and record are present, the record
// reports `type`, and it is of the class `Record`. The type is checked first,
// as hosts expect; the class check keeps a record that merely reports the
// type from being read past its end. Returns the record, or null when it is
// refused (the caller then reports 51000).
template <typename Record>
Record* AdmitRequest(int loaded, unsigned char** certificate, unsigned int& length,
                     CQnPMCrtUsrData* request, int type) {
  if (certificate != nullptr) *certificate = nullptr;
  length = 0;
  if (loaded == 0 || certificate == nullptr || request == nullptr ||
      request->GetMsgSvrType() != type) {
    return nullptr;
  }
  return dynamic_cast<Record*>(request);
}

}  // namespace veskar

#endif  // VESKAR_AGENTS_REQUEST_ADMISSION_H_
