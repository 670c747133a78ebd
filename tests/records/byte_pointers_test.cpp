// Byte buffers a record refers to stay the caller's: records hand back exactly
// the pointer and length they were given, copies share them, and nothing a
// record does releases or copies the bytes.

#include <gtest/gtest.h>
#include <veskar/records.h>

#include <cstring>
#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include "record_state.h"
#include "tests/type_names.h"

namespace {

using RecordPtr = std::unique_ptr<CQnPMCrtUsrData>;
using veskar_test::DescribeRecord;

unsigned char g_first[4] = {0x30, 0x82, 0x01, 0x0A};
unsigned char g_second[6] = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5};

// Reads one pointer-and-length pair of a record through its getter.
using BytesGetter = std::function<unsigned char*(CQnPMCrtUsrData&, unsigned int&)>;

unsigned char* QueryId(CQnPMCrtUsrData& r, unsigned int& n) {
  return dynamic_cast<CQnPMQueryData&>(r).GetQueryReqId(n);
}
unsigned char* CmsRequest(CQnPMCrtUsrData& r, unsigned int& n) {
  return dynamic_cast<CQnPMCrtUsrEntCms&>(r).GetPKCS10Req(n);
}
unsigned char* NetscapeRequest(CQnPMCrtUsrData& r, unsigned int& n) {
  return dynamic_cast<CQnPMCrtUsrNetscape&>(r).GetPKCS10Req(n);
}
unsigned char* CmsCaCert(CQnPMCrtUsrData& r, unsigned int& n) {
  return dynamic_cast<CQnPMCrtUsrEntCms&>(r).GetRawCACertificate(n);
}
unsigned char* IPSecCaCert(CQnPMCrtUsrData& r, unsigned int& n) {
  return dynamic_cast<CQnPMCrtUsrEntIPSec&>(r).GetRawCACertificate(n);
}

struct BytesCase {
  const char* name;
  std::function<RecordPtr()> make;
  BytesGetter get;
  unsigned char* pointer;
  unsigned int length;
};

void PrintTo(const BytesCase& c, std::ostream* out) { *out << c.name; }

const BytesCase kBytesCases[] = {
    {"QueryDefault", [] { return RecordPtr(new CQnPMQueryData()); }, QueryId, nullptr, 0},
    {"QueryTypeVersion", [] { return RecordPtr(new CQnPMQueryData(1, 2)); }, QueryId, nullptr, 0},
    {"QueryWithoutDirectory",
     [] { return RecordPtr(new CQnPMQueryData(1, 2, "l", "c", 4, g_first)); }, QueryId, g_first, 4},
    {"QueryFull", [] { return RecordPtr(new CQnPMQueryData(1, 2, "l", "c", "d", 3, g_first)); },
     QueryId, g_first, 3},
    // A length without bytes is kept as given: records do not check the pair.
    {"QueryLengthWithoutBytes",
     [] { return RecordPtr(new CQnPMQueryData(1, 2, "l", "c", "d", 9, nullptr)); }, QueryId,
     nullptr, 9},
    {"NetscapeQueryDefault", [] { return RecordPtr(new CQnPMQueryNetscape()); }, QueryId, nullptr,
     0},
    {"NetscapeQueryFull",
     [] { return RecordPtr(new CQnPMQueryNetscape(4, "l", "c", 6, g_second)); }, QueryId, g_second,
     6},
    {"CmsDefaultRequest", [] { return RecordPtr(new CQnPMCrtUsrEntCms()); }, CmsRequest, nullptr,
     0},
    {"CmsFullRequest",
     [] { return RecordPtr(new CQnPMCrtUsrEntCms("l", "c", "d", "a", "r", 1, g_first, 4)); },
     CmsRequest, g_first, 4},
    {"NetscapeDefaultRequest", [] { return RecordPtr(new CQnPMCrtUsrNetscape()); }, NetscapeRequest,
     nullptr, 0},
    {"NetscapeFullRequest",
     [] { return RecordPtr(new CQnPMCrtUsrNetscape("c", 1, "l", g_second, 5)); }, NetscapeRequest,
     g_second, 5},
    {"CmsDefaultCaCert", [] { return RecordPtr(new CQnPMCrtUsrEntCms()); }, CmsCaCert, nullptr, 0},
    {"CmsFullCaCert",
     [] { return RecordPtr(new CQnPMCrtUsrEntCms("l", "c", "d", "a", "r", 1, g_first, 4)); },
     CmsCaCert, nullptr, 0},
    {"IPSecDefaultCaCert", [] { return RecordPtr(new CQnPMCrtUsrEntIPSec()); }, IPSecCaCert,
     nullptr, 0},
    {"IPSecFullCaCert",
     [] { return RecordPtr(new CQnPMCrtUsrEntIPSec("l", "c", "d", "p", "f", "a", "r")); },
     IPSecCaCert, nullptr, 0},
};

class RecordBytesTest : public ::testing::TestWithParam<BytesCase> {};

TEST_P(RecordBytesTest, ReturnsExactlyWhatItWasGiven) {
  const BytesCase& c = GetParam();
  RecordPtr record = c.make();
  unsigned int length = 0xDEADBEEFu;  // must be overwritten, also with 0
  EXPECT_EQ(c.get(*record, length), c.pointer);
  EXPECT_EQ(length, c.length);
}

INSTANTIATE_TEST_SUITE_P(AllPointers, RecordBytesTest, ::testing::ValuesIn(kBytesCases),
                         [](const ::testing::TestParamInfo<BytesCase>& info) {
                           return std::string(info.param.name);
                         });

// SetPKCS10Req takes the length first. The CMS and Netscape user records
// store the pair; every other record ignores it.
struct SetRequestCase {
  const char* name;
  std::function<RecordPtr()> make;
  BytesGetter get;  // null for records that ignore the request
};

void PrintTo(const SetRequestCase& c, std::ostream* out) { *out << c.name; }

const SetRequestCase kSetRequestCases[] = {
    {"Base", [] { return RecordPtr(new CQnPMCrtUsrData(1, 2, "l", "c", "d")); }, nullptr},
    {"GetCA", [] { return RecordPtr(new CQnPMGetCAData(1, 2, "l", "c", "d")); }, nullptr},
    {"Query", [] { return RecordPtr(new CQnPMQueryData(1, 2, "l", "c", "d", 4, g_first)); },
     nullptr},
    {"IPSec", [] { return RecordPtr(new CQnPMCrtUsrEntIPSec("l", "c", "d", "p", "f", "a", "r")); },
     nullptr},
    {"NetscapeCA", [] { return RecordPtr(new CQnPMGetCANetscape(2, "l", "c")); }, nullptr},
    {"NetscapeQuery", [] { return RecordPtr(new CQnPMQueryNetscape(2, "l", "c", 4, g_first)); },
     nullptr},
    {"Cms", [] { return RecordPtr(new CQnPMCrtUsrEntCms("l", "c", "d", "a", "r", 1, g_first, 4)); },
     CmsRequest},
    {"NetscapeUser", [] { return RecordPtr(new CQnPMCrtUsrNetscape("c", 1, "l", g_first, 4)); },
     NetscapeRequest},
};

class SetRequestTest : public ::testing::TestWithParam<SetRequestCase> {};

TEST_P(SetRequestTest, StoresOrIgnoresThroughTheBaseInterface) {
  const SetRequestCase& c = GetParam();
  RecordPtr record = c.make();
  const std::string before = DescribeRecord(*record);

  record->SetPKCS10Req(6, g_second);

  if (!c.get) {
    EXPECT_EQ(DescribeRecord(*record), before);
    return;
  }
  unsigned int length = 0;
  EXPECT_EQ(c.get(*record, length), g_second);
  EXPECT_EQ(length, 6u);

  // A null request with length 0 is a valid empty request and replaces it.
  record->SetPKCS10Req(0, nullptr);
  length = 1;
  EXPECT_EQ(c.get(*record, length), nullptr);
  EXPECT_EQ(length, 0u);
}

INSTANTIATE_TEST_SUITE_P(AllRecords, SetRequestTest, ::testing::ValuesIn(kSetRequestCases),
                         [](const ::testing::TestParamInfo<SetRequestCase>& info) {
                           return std::string(info.param.name);
                         });

// Records and their copies never release or change caller bytes: the bytes
// are intact and usable after every record that referred to them is gone.
TEST(RequestBytesTest, OutliveEveryRecordThatReferredToThem) {
  unsigned char* id = new unsigned char[3]{9, 8, 7};
  unsigned char* request = new unsigned char[2]{5, 6};
  {
    CQnPMQueryData query(1, 2, "l", "c", 3, id);
    CQnPMQueryData query_copy(query);
    CQnPMQueryNetscape netscape_query(4, "l", "c", 3, id);
    CQnPMCrtUsrEntCms cms("l", "c", "d", "a", "r", 1, request, 2);
    CQnPMCrtUsrNetscape netscape("c", 1, "l", request, 2);
    CQnPMCrtUsrNetscape netscape_copy(netscape);
    unsigned int length = 0;
    EXPECT_EQ(query_copy.GetQueryReqId(length), id);
    EXPECT_EQ(netscape_copy.GetPKCS10Req(length), request);
  }
  const unsigned char id_expected[3] = {9, 8, 7};
  const unsigned char request_expected[2] = {5, 6};
  EXPECT_EQ(std::memcmp(id, id_expected, sizeof id_expected), 0);
  EXPECT_EQ(std::memcmp(request, request_expected, sizeof request_expected), 0);
  delete[] id;
  delete[] request;
}

// What an Entrust agent does to a record it accepted: store a CA certificate
// it allocated. The records have no setter for it.
template <class Record>
class FilledByAgent : public Record {
 public:
  FilledByAgent(unsigned char* certificate, unsigned int length) {
    this->m_pRawCACert = certificate;
    this->m_nRawCACertLen = length;
  }
};

template <class Record>
class CaCertificateTest : public ::testing::Test {};
using EntrustRecords = ::testing::Types<CQnPMCrtUsrEntCms, CQnPMCrtUsrEntIPSec>;
TYPED_TEST_SUITE(CaCertificateTest, EntrustRecords, veskar_test::TypeIndexNames);

TYPED_TEST(CaCertificateTest, CopiesShareItAndNoRecordReleasesIt) {
  unsigned char* certificate = new unsigned char[5]{0x30, 0x03, 0x02, 0x01, 0x00};
  {
    FilledByAgent<TypeParam> filled(certificate, 5);
    unsigned int length = 0;
    EXPECT_EQ(filled.GetRawCACertificate(length), certificate);
    EXPECT_EQ(length, 5u);

    TypeParam copy(filled);
    TypeParam assigned;
    assigned = filled;
    length = 0;
    EXPECT_EQ(copy.GetRawCACertificate(length), certificate);
    EXPECT_EQ(length, 5u);
    length = 0;
    EXPECT_EQ(assigned.GetRawCACertificate(length), certificate);
    EXPECT_EQ(length, 5u);
  }
  // The host took the buffer over; it is still allocated and intact.
  EXPECT_EQ(certificate[0], 0x30);
  EXPECT_EQ(certificate[4], 0x00);
  delete[] certificate;
}

}  // namespace
