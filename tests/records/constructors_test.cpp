// Every constructor of every record class, and what the record reports
// afterwards. Argument orders differ between classes (the Netscape user
// record takes the CA location first and the label third; the IPSec record
// takes the password and profile before the codes), so each position gets a
// text of its own and a swap shows up as a wrong accessor result.

#include <gtest/gtest.h>
#include <veskar/records.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>

namespace {

using RecordPtr = std::unique_ptr<CQnPMCrtUsrData>;

unsigned char g_bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};

struct ConstructorCase {
  const char* name;
  std::function<RecordPtr()> make;
  int type;
  int version;
  const char* label;
  const char* ca_location;
  const char* ca_location2;
  const char* password;
  const char* profile;
  int on_line;
};

void PrintTo(const ConstructorCase& c, std::ostream* out) { *out << c.name; }

const ConstructorCase kCases[] = {
    {"BaseDefault", [] { return RecordPtr(new CQnPMCrtUsrData()); }, 0, 0, "", "", "", "", "", 1},
    {"BaseTypeOnly", [] { return RecordPtr(new CQnPMCrtUsrData(3)); }, 3, 0, "", "", "", "", "", 1},
    {"BaseFull",
     [] { return RecordPtr(new CQnPMCrtUsrData(5, 6, "label", "manager", "directory")); }, 5, 6,
     "label", "manager", "directory", "", "", 1},
    {"GetCADefault", [] { return RecordPtr(new CQnPMGetCAData()); }, 0, 0, "", "", "", "", "", 1},
    {"GetCATypeVersion", [] { return RecordPtr(new CQnPMGetCAData(7, 3)); }, 7, 3, "", "", "", "",
     "", 1},
    {"GetCALabel", [] { return RecordPtr(new CQnPMGetCAData(7, 3, "label")); }, 7, 3, "label", "",
     "", "", "", 1},
    {"GetCALocation", [] { return RecordPtr(new CQnPMGetCAData(7, 3, "label", "manager")); }, 7, 3,
     "label", "manager", "", "", "", 1},
    {"GetCAFull",
     [] { return RecordPtr(new CQnPMGetCAData(7, 3, "label", "manager", "directory")); }, 7, 3,
     "label", "manager", "directory", "", "", 1},
    {"QueryDefault", [] { return RecordPtr(new CQnPMQueryData()); }, 0, 0, "", "", "", "", "", 1},
    {"QueryTypeVersion", [] { return RecordPtr(new CQnPMQueryData(7, 3)); }, 7, 3, "", "", "", "",
     "", 1},
    {"QueryWithoutDirectory",
     [] { return RecordPtr(new CQnPMQueryData(7, 3, "label", "manager", 8, g_bytes)); }, 7, 3,
     "label", "manager", "", "", "", 1},
    {"QueryFull",
     [] {
       return RecordPtr(new CQnPMQueryData(7, 3, "label", "manager", "directory", 8, g_bytes));
     },
     7, 3, "label", "manager", "directory", "", "", 1},
    {"IPSecDefault", [] { return RecordPtr(new CQnPMCrtUsrEntIPSec()); }, 2, 0, "", "", "", "", "",
     1},
    {"IPSecFull",
     [] {
       return RecordPtr(new CQnPMCrtUsrEntIPSec("label", "manager", "directory", "password",
                                                "profile.epf", "auth", "ref"));
     },
     2, 0, "label", "manager", "directory", "password", "profile.epf", 1},
    {"CmsDefault", [] { return RecordPtr(new CQnPMCrtUsrEntCms()); }, 4, 0, "", "", "", "", "", 1},
    {"CmsFull",
     [] {
       return RecordPtr(
           new CQnPMCrtUsrEntCms("label", "manager", "directory", "auth", "ref", 0, g_bytes, 8));
     },
     4, 0, "label", "manager", "directory", "", "", 1},
    {"NetscapeUserDefault", [] { return RecordPtr(new CQnPMCrtUsrNetscape()); }, 1, 0, "", "", "",
     "", "", 0},
    {"NetscapeUserFull",
     [] { return RecordPtr(new CQnPMCrtUsrNetscape("manager", 1, "label", g_bytes, 8)); }, 1, 0,
     "label", "manager", "", "", "", 1},
    {"NetscapeCADefault", [] { return RecordPtr(new CQnPMGetCANetscape()); }, 1, 4, "", "", "", "",
     "", 1},
    {"NetscapeCAFull", [] { return RecordPtr(new CQnPMGetCANetscape(2, "label", "manager")); }, 1,
     2, "label", "manager", "", "", "", 1},
    {"NetscapeQueryDefault", [] { return RecordPtr(new CQnPMQueryNetscape()); }, 1, 4, "", "", "",
     "", "", 1},
    {"NetscapeQueryFull",
     [] { return RecordPtr(new CQnPMQueryNetscape(2, "label", "manager", 8, g_bytes)); }, 1, 2,
     "label", "manager", "", "", "", 1},
};

class RecordConstructorTest : public ::testing::TestWithParam<ConstructorCase> {};

TEST_P(RecordConstructorTest, FillsTheSharedAccessors) {
  const ConstructorCase& c = GetParam();
  RecordPtr record = c.make();
  EXPECT_EQ(record->GetMsgSvrType(), c.type);
  EXPECT_EQ(record->GetMsgSvrVer(), c.version);
  EXPECT_STREQ(record->GetLabel(), c.label);
  EXPECT_STREQ(record->GetCALocation(), c.ca_location);
  EXPECT_STREQ(record->GetCALocation2(), c.ca_location2);
  EXPECT_STREQ(record->GetPW(), c.password);
  EXPECT_STREQ(record->GetProfileName(), c.profile);
  EXPECT_EQ(record->IsOnLine(), c.on_line);
}

INSTANTIATE_TEST_SUITE_P(AllRecords, RecordConstructorTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<ConstructorCase>& info) {
                           return std::string(info.param.name);
                         });

TEST(EntrustRecordTest, CodesComeFromTheirOwnArguments) {
  CQnPMCrtUsrEntIPSec ipsec("1", "2", "3", "4", "5", "6", "7");
  EXPECT_STREQ(ipsec.GetLabel(), "1");
  EXPECT_STREQ(ipsec.GetCALocation(), "2");
  EXPECT_STREQ(ipsec.GetCALocation2(), "3");
  EXPECT_STREQ(ipsec.GetPW(), "4");
  EXPECT_STREQ(ipsec.GetProfileName(), "5");
  EXPECT_STREQ(ipsec.GetAuthCode(), "6");
  EXPECT_STREQ(ipsec.GetRefNum(), "7");

  CQnPMCrtUsrEntCms cms("1", "2", "3", "4", "5", 1, nullptr, 0);
  EXPECT_STREQ(cms.GetAuthCode(), "4");
  EXPECT_STREQ(cms.GetRefNum(), "5");

  CQnPMCrtUsrEntIPSec ipsec_default;
  CQnPMCrtUsrEntCms cms_default;
  EXPECT_TRUE(ipsec_default.GetAuthCode().IsEmpty());
  EXPECT_TRUE(ipsec_default.GetRefNum().IsEmpty());
  EXPECT_TRUE(cms_default.GetAuthCode().IsEmpty());
  EXPECT_TRUE(cms_default.GetRefNum().IsEmpty());
}

// The integer before the request bytes is kept as the publish flag, so a host
// that asks not to publish is not overruled; the default record publishes.
TEST(EntrustRecordTest, CmsIntegerArgumentIsThePublishFlag) {
  EXPECT_EQ(CQnPMCrtUsrEntCms().ToPublish(), 1);
  for (int flag : {0, 1, 2, -1}) {
    CQnPMCrtUsrEntCms record("label", "manager", "directory", "auth", "ref", flag, nullptr, 0);
    EXPECT_EQ(record.ToPublish(), flag);
  }
}

}  // namespace
