// The three request operations where no toolkit is involved: the base
// class's refusal (51000), which the Entrust agents inherit for CA and query
// requests and give for every user request while their toolkit is absent, and
// the Netscape agent's fixed numbers.

#include <gtest/gtest.h>
#include <veskar/veskar.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include "seeded_agent.h"
#include "tests/type_names.h"

namespace {

using veskar_test::kNotAvailable;
using veskar_test::Seeded;

constexpr char kError[] = "an earlier failure";
constexpr char kReason[] = "an earlier toolkit reason";

// Every test here relies on it: the loader found no toolkit.
TEST(NoToolkitTest, OnlyTheNetscapeServiceIsAvailable) {
  EXPECT_EQ(GetAvaliableServices(), 1);
  EXPECT_EQ(CQnPkiMsgAgent::GetPkiMsgAvaliableServices(), GetAvaliableServices());
  CQnEntCmsPMA rebinding_agent;  // binding again finds nothing either
  EXPECT_EQ(CQnEntCmsPMA::GetPkiMsgAvaliableServices(), 1);
  EXPECT_EQ(GetAvaliableServices(), 1);
}

// One request operation, called through the base interface.
struct Operation {
  const char* name;
  std::function<int(CQnPkiMsgAgent&, unsigned char**, unsigned int&)> call;
};

CQnPMCrtUsrData g_user_record;
CQnPMGetCAData g_ca_record(1, 4, "label", "manager");
CQnPMQueryData g_query_record(1, 4, "label", "manager", 0, nullptr);

const Operation kCreateUser = {"CreateUserCertificate",
                               [](CQnPkiMsgAgent& agent, unsigned char** out, unsigned int& n) {
                                 return agent.CreateUserCertificate(out, n, &g_user_record);
                               }};
const Operation kGetCA = {"GetCACertificate",
                          [](CQnPkiMsgAgent& agent, unsigned char** out, unsigned int& n) {
                            return agent.GetCACertificate(out, n, &g_ca_record);
                          }};
const Operation kQuery = {"QuerySubmittedCert",
                          [](CQnPkiMsgAgent& agent, unsigned char** out, unsigned int& n) {
                            return agent.QuerySubmittedCert(out, n, &g_query_record);
                          }};

// Calls `op` on `agent` with a byte pointer and count that must come back as
// they went in, and returns the message number.
int CallLeavingOutputsAlone(const Operation& op, CQnPkiMsgAgent& agent) {
  unsigned char sentinel = 0;
  unsigned char* certificate = &sentinel;
  unsigned int length = 1234;
  const int result = op.call(agent, &certificate, length);
  EXPECT_EQ(certificate, &sentinel) << op.name << " touched the caller's pointer";
  EXPECT_EQ(length, 1234u) << op.name << " touched the caller's count";
  return result;
}

template <class Agent>
class InheritedRefusalTest : public ::testing::Test {};
using RefusingAgents = ::testing::Types<CQnPkiMsgAgent, CQnEntCmsPMA, CQnEntIPSecPMA>;
TYPED_TEST_SUITE(InheritedRefusalTest, RefusingAgents, veskar_test::TypeIndexNames);

TYPED_TEST(InheritedRefusalTest, CAAndQueryRequestsReportServiceNotAvailable) {
  for (const Operation& op : {kGetCA, kQuery}) {
    SCOPED_TRACE(op.name);
    Seeded<TypeParam> agent(kError, kReason);
    EXPECT_EQ(CallLeavingOutputsAlone(op, agent), 51000);
    EXPECT_STREQ(agent.GetErrorString(), kNotAvailable);
    EXPECT_STREQ(agent.GetExtendedErrorString(), kReason);
  }
}

TEST(BaseAgentTest, UserRequestReportsServiceNotAvailable) {
  Seeded<CQnPkiMsgAgent> agent(kError, kReason);
  EXPECT_EQ(CallLeavingOutputsAlone(kCreateUser, agent), 51000);
  EXPECT_STREQ(agent.GetErrorString(), kNotAvailable);
  EXPECT_STREQ(agent.GetExtendedErrorString(), kReason);

  // Null arguments are never looked at.
  unsigned int length = 7;
  EXPECT_EQ(agent.CreateUserCertificate(nullptr, length, nullptr), 51000);
  EXPECT_EQ(agent.GetCACertificate(nullptr, length, nullptr), 51000);
  EXPECT_EQ(agent.QuerySubmittedCert(nullptr, length, nullptr), 51000);
  EXPECT_EQ(length, 7u);
}

// Records an Entrust agent must refuse, whatever its toolkit: none at all,
// and every record whose type is not the agent's own. With no toolkit loaded
// even the agent's own record is refused.
struct RefusedRecord {
  const char* name;
  std::function<std::unique_ptr<CQnPMCrtUsrData>()> make;  // may give null
};

void PrintTo(const RefusedRecord& r, std::ostream* out) { *out << r.name; }

template <class Record, class... Args>
std::function<std::unique_ptr<CQnPMCrtUsrData>()> Make(Args... args) {
  return [=] { return std::unique_ptr<CQnPMCrtUsrData>(new Record(args...)); };
}

const RefusedRecord kRefusedRecords[] = {
    {"NoRecord", [] { return std::unique_ptr<CQnPMCrtUsrData>(); }},
    {"BaseRecordOfType0", Make<CQnPMCrtUsrData>()},
    {"BaseRecordOfType1", Make<CQnPMCrtUsrData>(1, 0, "label", "manager", "directory")},
    {"NetscapeUser", Make<CQnPMCrtUsrNetscape>("manager", 1, "label", nullptr, 0u)},
    {"NetscapeCA", Make<CQnPMGetCANetscape>()},
    {"NetscapeQuery", Make<CQnPMQueryNetscape>()},
    {"IPSecRecord", Make<CQnPMCrtUsrEntIPSec>("l", "m", "d", "pw", "p.epf", "a", "r")},
    {"CmsRecord", Make<CQnPMCrtUsrEntCms>()},
};

class EntrustUserRequestTest : public ::testing::TestWithParam<RefusedRecord> {};

template <class Agent>
void ExpectRefused(const RefusedRecord& refused) {
  std::unique_ptr<CQnPMCrtUsrData> record = refused.make();
  const std::string type = record ? std::to_string(record->GetMsgSvrType()) : "none";
  Seeded<Agent> agent(kError, kReason);
  unsigned char* certificate = nullptr;
  unsigned int length = 0;
  EXPECT_EQ(agent.CreateUserCertificate(&certificate, length, record.get()), 51000) << type;
  EXPECT_STREQ(agent.GetErrorString(), kNotAvailable);
  // A refused request leaves the previous toolkit reason alone.
  EXPECT_STREQ(agent.GetExtendedErrorString(), kReason);
  EXPECT_EQ(certificate, nullptr);
  EXPECT_EQ(length, 0u);
}

TEST_P(EntrustUserRequestTest, CmsAgentRefuses) { ExpectRefused<CQnEntCmsPMA>(GetParam()); }
TEST_P(EntrustUserRequestTest, IPSecAgentRefuses) { ExpectRefused<CQnEntIPSecPMA>(GetParam()); }

INSTANTIATE_TEST_SUITE_P(WithoutToolkit, EntrustUserRequestTest,
                         ::testing::ValuesIn(kRefusedRecords),
                         [](const ::testing::TestParamInfo<RefusedRecord>& info) {
                           return std::string(info.param.name);
                         });

// The Netscape agent returns a fixed number and writes nothing: not the
// caller's outputs and not its own error string, whatever that holds.
struct NetscapeCase {
  Operation op;
  int expected;
};

void PrintTo(const NetscapeCase& c, std::ostream* out) { *out << c.op.name; }

class NetscapeAgentTest : public ::testing::TestWithParam<NetscapeCase> {};

TEST_P(NetscapeAgentTest, ReturnsItsNumberAndChangesNothing) {
  const NetscapeCase& c = GetParam();

  CQnNetscapePMA fresh;
  EXPECT_EQ(CallLeavingOutputsAlone(c.op, fresh), c.expected);
  EXPECT_STREQ(fresh.GetErrorString(), "");
  EXPECT_STREQ(fresh.GetExtendedErrorString(), "");

  CQnNetscapePMA after_log_in;
  after_log_in.LogIn(nullptr);
  EXPECT_EQ(CallLeavingOutputsAlone(c.op, after_log_in), c.expected);
  EXPECT_STREQ(after_log_in.GetErrorString(), kNotAvailable);

  Seeded<CQnNetscapePMA> seeded(kError, kReason);
  EXPECT_EQ(CallLeavingOutputsAlone(c.op, seeded), c.expected);
  EXPECT_STREQ(seeded.GetErrorString(), kError);
  EXPECT_STREQ(seeded.GetExtendedErrorString(), kReason);
}

INSTANTIATE_TEST_SUITE_P(AllOperations, NetscapeAgentTest,
                         ::testing::Values(NetscapeCase{kCreateUser, 51003},
                                           NetscapeCase{kGetCA, 51001},
                                           NetscapeCase{kQuery, 51005}),
                         [](const ::testing::TestParamInfo<NetscapeCase>& info) {
                           return std::string(info.param.op.name);
                         });

TEST(NetscapeAgentTest, IgnoresItsArgumentsEvenWhenNull) {
  CQnNetscapePMA agent;
  unsigned int length = 5;
  CQnPMCrtUsrNetscape user("manager", 1, "label", nullptr, 0);
  EXPECT_EQ(agent.CreateUserCertificate(nullptr, length, &user), 51003);
  EXPECT_EQ(agent.CreateUserCertificate(nullptr, length, nullptr), 51003);
  EXPECT_EQ(agent.GetCACertificate(nullptr, length, nullptr), 51001);
  EXPECT_EQ(agent.QuerySubmittedCert(nullptr, length, nullptr), 51005);
  EXPECT_EQ(length, 5u);
  EXPECT_STREQ(user.GetLabel(), "label");
  EXPECT_STREQ(agent.GetErrorString(), "");
}

}  // namespace
