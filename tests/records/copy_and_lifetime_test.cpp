// Copying, assigning and destroying every record class the way a host does.
// The strings are long enough to live on the heap, so a copy that shares
// storage, or a destructor that is skipped, is caught (the latter by the
// leak checker of the sanitizer build as well as by the counters here).

#include <gtest/gtest.h>
#include <veskar/records.h>

#include <string>

#include "record_state.h"
#include "tests/counted.h"
#include "tests/type_names.h"

namespace {

using veskar_test::Counted;
using veskar_test::DescribeRecord;
using veskar_test::Long;

unsigned char g_first[4] = {1, 2, 3, 4};
unsigned char g_second[2] = {5, 6};

// Two clearly different instances of each record class, every member set.
template <class Record>
struct Samples;

// The base record and the CA record take the same five values.
template <class Record>
struct FiveValueSamples {
  static Record First() {
    return Record(5, 6, Long("label 1").c_str(), Long("ca 1").c_str(), Long("dir 1").c_str());
  }
  static Record Second() {
    return Record(7, 8, Long("label 2").c_str(), Long("ca 2").c_str(), Long("dir 2").c_str());
  }
};

template <>
struct Samples<CQnPMCrtUsrData> : FiveValueSamples<CQnPMCrtUsrData> {};
template <>
struct Samples<CQnPMGetCAData> : FiveValueSamples<CQnPMGetCAData> {};

template <>
struct Samples<CQnPMQueryData> {
  static CQnPMQueryData First() {
    return CQnPMQueryData(5, 6, Long("label 1").c_str(), Long("ca 1").c_str(),
                          Long("dir 1").c_str(), 4, g_first);
  }
  static CQnPMQueryData Second() {
    return CQnPMQueryData(7, 8, Long("label 2").c_str(), Long("ca 2").c_str(),
                          Long("dir 2").c_str(), 2, g_second);
  }
};

template <>
struct Samples<CQnPMCrtUsrEntIPSec> {
  static CQnPMCrtUsrEntIPSec First() {
    return CQnPMCrtUsrEntIPSec(Long("label 1").c_str(), Long("ca 1").c_str(), Long("dir 1").c_str(),
                               Long("pw 1").c_str(), Long("profile 1").c_str(),
                               Long("auth 1").c_str(), Long("ref 1").c_str());
  }
  static CQnPMCrtUsrEntIPSec Second() {
    return CQnPMCrtUsrEntIPSec(Long("label 2").c_str(), Long("ca 2").c_str(), Long("dir 2").c_str(),
                               Long("pw 2").c_str(), Long("profile 2").c_str(),
                               Long("auth 2").c_str(), Long("ref 2").c_str());
  }
};

template <>
struct Samples<CQnPMCrtUsrEntCms> {
  static CQnPMCrtUsrEntCms First() {
    return CQnPMCrtUsrEntCms(Long("label 1").c_str(), Long("ca 1").c_str(), Long("dir 1").c_str(),
                             Long("auth 1").c_str(), Long("ref 1").c_str(), 0, g_first, 4);
  }
  static CQnPMCrtUsrEntCms Second() {
    return CQnPMCrtUsrEntCms(Long("label 2").c_str(), Long("ca 2").c_str(), Long("dir 2").c_str(),
                             Long("auth 2").c_str(), Long("ref 2").c_str(), 1, g_second, 2);
  }
};

template <>
struct Samples<CQnPMCrtUsrNetscape> {
  static CQnPMCrtUsrNetscape First() {
    return CQnPMCrtUsrNetscape(Long("ca 1").c_str(), 1, Long("label 1").c_str(), g_first, 4);
  }
  static CQnPMCrtUsrNetscape Second() {
    return CQnPMCrtUsrNetscape(Long("ca 2").c_str(), 0, Long("label 2").c_str(), g_second, 2);
  }
};

template <>
struct Samples<CQnPMGetCANetscape> {
  static CQnPMGetCANetscape First() {
    return CQnPMGetCANetscape(2, Long("label 1").c_str(), Long("ca 1").c_str());
  }
  static CQnPMGetCANetscape Second() {
    return CQnPMGetCANetscape(3, Long("label 2").c_str(), Long("ca 2").c_str());
  }
};

template <>
struct Samples<CQnPMQueryNetscape> {
  static CQnPMQueryNetscape First() {
    return CQnPMQueryNetscape(2, Long("label 1").c_str(), Long("ca 1").c_str(), 4, g_first);
  }
  static CQnPMQueryNetscape Second() {
    return CQnPMQueryNetscape(3, Long("label 2").c_str(), Long("ca 2").c_str(), 2, g_second);
  }
};

template <class Record>
class RecordCopyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Record first = Samples<Record>::First();
    Record second = Samples<Record>::Second();
    first_ = DescribeRecord(first);
    second_ = DescribeRecord(second);
    ASSERT_NE(first_, second_) << "the samples must differ in what a host sees";
  }

  std::string first_;
  std::string second_;
};

using AllRecords = ::testing::Types<CQnPMCrtUsrData, CQnPMGetCAData, CQnPMQueryData,
                                    CQnPMCrtUsrEntIPSec, CQnPMCrtUsrEntCms, CQnPMCrtUsrNetscape,
                                    CQnPMGetCANetscape, CQnPMQueryNetscape>;
TYPED_TEST_SUITE(RecordCopyTest, AllRecords, veskar_test::TypeIndexNames);

TYPED_TEST(RecordCopyTest, CopyHasEverythingAndIsIndependent) {
  TypeParam original = Samples<TypeParam>::First();
  TypeParam copy(original);
  EXPECT_EQ(DescribeRecord(copy), this->first_);

  original = Samples<TypeParam>::Second();
  EXPECT_EQ(DescribeRecord(copy), this->first_);

  copy = Samples<TypeParam>::Second();
  copy = Samples<TypeParam>::First();
  EXPECT_EQ(DescribeRecord(original), this->second_);
}

TYPED_TEST(RecordCopyTest, AssignmentCopiesEverythingAndReturnsTheTarget) {
  TypeParam source = Samples<TypeParam>::First();
  TypeParam target = Samples<TypeParam>::Second();
  TypeParam& result = (target = source);
  EXPECT_EQ(&result, &target);
  EXPECT_EQ(DescribeRecord(target), this->first_);

  source = Samples<TypeParam>::Second();
  EXPECT_EQ(DescribeRecord(target), this->first_);
  EXPECT_EQ(DescribeRecord(source), this->second_);
}

TYPED_TEST(RecordCopyTest, SelfAssignmentChangesNothing) {
  TypeParam record = Samples<TypeParam>::First();
  TypeParam& same = record;
  TypeParam& result = (record = same);
  EXPECT_EQ(&result, &record);
  EXPECT_EQ(DescribeRecord(record), this->first_);
}

TYPED_TEST(RecordCopyTest, DeletionThroughTheBaseReachesTheDerivedDestructor) {
  Counted<TypeParam>::destroyed = 0;
  auto* counted = new Counted<TypeParam>();
  static_cast<TypeParam&>(*counted) = Samples<TypeParam>::First();
  CQnPMCrtUsrData* as_base = counted;
  delete as_base;
  EXPECT_EQ(Counted<TypeParam>::destroyed, 1);
}

TYPED_TEST(RecordCopyTest, ArrayNewAndDeleteHandleEveryElement) {
  constexpr int kCount = 4;
  Counted<TypeParam>::destroyed = 0;
  auto* records = new Counted<TypeParam>[kCount];
  const std::string fresh = DescribeRecord(records[0]);
  for (int i = 0; i < kCount; ++i) {
    EXPECT_EQ(DescribeRecord(records[i]), fresh) << "element " << i;
    static_cast<TypeParam&>(records[i]) = Samples<TypeParam>::First();
  }
  delete[] records;
  EXPECT_EQ(Counted<TypeParam>::destroyed, kCount);

  // The record classes themselves, as a host would use them.
  auto* plain = new TypeParam[kCount];
  for (int i = 0; i < kCount; ++i) plain[i] = Samples<TypeParam>::Second();
  EXPECT_EQ(DescribeRecord(plain[kCount - 1]), this->second_);
  delete[] plain;
}

}  // namespace
