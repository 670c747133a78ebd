#include <veskar/cms_agent.h>

#include <cstring>

// The slots are tested because these operations may be called while the
// toolkit is not bound, and an unbound entry point must never be called.

void CQnEntCmsPMA::PutToProtectedFile(CString label, CMSBinaryData* data, CString path,
                                      CString protection) {
  if (m_gpENTPutProtectedData == nullptr) return;
  m_gpENTPutProtectedData(path, label, protection, data);
}

void CQnEntCmsPMA::PutToProtectedFile(CString label, unsigned char* data, unsigned int length,
                                      CString path, CString protection) {
  // A length without bytes would send the toolkit a pointer it cannot read.
  CMSBinaryData record{data != nullptr ? length : 0, data};
  PutToProtectedFile(label, &record, path, protection);
}

void CQnEntCmsPMA::GetFromProtectedFile(CString label, CString path, CString protection,
                                        CMSBinaryData* result) {
  if (m_gpENTGetProtectedData == nullptr) return;
  m_gpENTGetProtectedData(path, label, protection, result);
}

void CQnEntCmsPMA::GetFromProtectedFile(CString label, CString path, CString protection,
                                        unsigned char** data, unsigned int& length) {
  length = 0;
  if (data == nullptr) return;
  *data = nullptr;
  // A toolkit that fails without filling the record leaves it empty.
  CMSBinaryData record{0, nullptr};
  GetFromProtectedFile(label, path, protection, &record);
  if (record.length == 0 || record.data == nullptr) return;
  unsigned char* copy = new unsigned char[record.length];
  std::memcpy(copy, record.data, record.length);
  *data = copy;
  length = record.length;
}
