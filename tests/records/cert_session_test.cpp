// The session accessors, and the whole-object assignment of the session and
// of the query and request classes of the same layout.

#include <gtest/gtest.h>
#include <veskar/session.h>

#include <cstdlib>
#include <cstring>

#include "tests/type_names.h"

namespace {

template <class Session>
Session Filled(int seed) {
  Session session{};
  session.m_nStatus = seed;
  session.m_nCertStatus = CCertSession::kCertStatusRejected;
  session.m_bNetscape1x = seed + 1;
  session.m_pRawCertificate = &session;  // any distinctive address
  session.m_nRawCertificateLen = static_cast<unsigned int>(seed) * 3u;
  return session;
}

TEST(CertSessionTest, AccessorsReadTheMembers) {
  CCertSession session{};
  session.m_nStatus = -17;
  session.m_nCertStatus = CCertSession::kCertStatusIssued;
  session.m_bNetscape1x = 0;
  EXPECT_EQ(session.GetStatus(), -17);
  EXPECT_EQ(session.GetCertStatus(), CCertSession::kCertStatusIssued);
  EXPECT_EQ(session.IsNetscape1x(), 0);

  session.SetNetscape1x(1);
  EXPECT_EQ(session.IsNetscape1x(), 1);
  EXPECT_EQ(session.m_bNetscape1x, 1);
  session.SetNetscape1x(0);
  EXPECT_EQ(session.IsNetscape1x(), 0);
  // The setter touches nothing else.
  EXPECT_EQ(session.GetStatus(), -17);
  EXPECT_EQ(session.GetCertStatus(), CCertSession::kCertStatusIssued);
}

// The buffer goes back to the C runtime's free(); the sanitizer build reports
// an allocator mismatch or a leak if it went anywhere else.
TEST(CertSessionTest, FreeRawCertificateReleasesMallocBuffersAndIgnoresNull) {
  CCertSession session{};
  session.FreeRawCertificate(nullptr);

  void* certificate = std::malloc(64);
  ASSERT_NE(certificate, nullptr);
  std::memset(certificate, 0x30, 64);
  session.FreeRawCertificate(certificate);
  EXPECT_EQ(session.GetStatus(), 0);
}

template <class Session>
class SessionAssignmentTest : public ::testing::Test {};
using SessionClasses = ::testing::Types<CCertSession, CCertQuery, CCertRequest>;
TYPED_TEST_SUITE(SessionAssignmentTest, SessionClasses, veskar_test::TypeIndexNames);

TYPED_TEST(SessionAssignmentTest, CopiesEveryMemberAndReturnsTheTarget) {
  TypeParam source = Filled<TypeParam>(5);
  source.m_pRawCertificate = &source;
  TypeParam target = Filled<TypeParam>(9);
  target.m_nCertStatus = CCertSession::kCertStatusPending;

  TypeParam& result = (target = source);
  EXPECT_EQ(&result, &target);
  EXPECT_EQ(target.m_nStatus, 5);
  EXPECT_EQ(target.m_nCertStatus, CCertSession::kCertStatusRejected);
  EXPECT_EQ(target.m_bNetscape1x, 6);
  EXPECT_EQ(target.m_pRawCertificate, &source);
  EXPECT_EQ(target.m_nRawCertificateLen, 15u);

  TypeParam& same = target;
  target = same;
  EXPECT_EQ(target.m_nStatus, 5);
  EXPECT_EQ(target.m_pRawCertificate, &source);
}

}  // namespace
