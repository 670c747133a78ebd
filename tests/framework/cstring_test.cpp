// CString as a host sees it: a value type with the framework's names,
// message loading and formatting by number.

#include <gtest/gtest.h>
#include <veskar/cstring.h>

#include <string>

namespace {

// Longer than any small-string buffer, so copies really own separate storage.
constexpr char kLong[] = "a string long enough to live on the heap, not inline";

TEST(CStringTest, NullAndLiteralConstruction) {
  const CString from_null(static_cast<const char*>(nullptr));
  EXPECT_TRUE(from_null.IsEmpty());
  EXPECT_EQ(from_null.GetLength(), 0);
  EXPECT_STREQ(from_null, "");

  const CString from_literal("abc");
  EXPECT_EQ(from_literal.GetLength(), 3);
  EXPECT_STREQ(from_literal, "abc");

  CString assigned(kLong);
  assigned = static_cast<const char*>(nullptr);
  EXPECT_TRUE(assigned.IsEmpty());
  EXPECT_STREQ(assigned, "");
}

TEST(CStringTest, CopiesAreIndependent) {
  CString original(kLong);
  CString copy(original);
  CString assigned;
  assigned = original;
  EXPECT_NE(static_cast<const char*>(copy), static_cast<const char*>(original));

  original = "changed";
  EXPECT_STREQ(copy, kLong);
  EXPECT_STREQ(assigned, kLong);

  copy.Empty();
  EXPECT_STREQ(original, "changed");
  EXPECT_STREQ(assigned, kLong);
}

TEST(CStringTest, Comparisons) {
  const CString abc("abc");
  const CString abc2("abc");
  const CString abd("abd");
  const CString empty;
  const char* const null_text = nullptr;

  EXPECT_TRUE(abc == abc2);
  EXPECT_FALSE(abc != abc2);
  EXPECT_TRUE(abc != abd);
  EXPECT_FALSE(abc == abd);
  EXPECT_TRUE(abc == "abc");
  EXPECT_TRUE("abc" == abc);
  EXPECT_TRUE(abc != "ab");
  EXPECT_TRUE("abcd" != abc);
  // A null pointer stands for the empty string, as on construction.
  EXPECT_TRUE(empty == null_text);
  EXPECT_TRUE(null_text == empty);
  EXPECT_TRUE(abc != null_text);
  // Comparison is by content, not by a prefix.
  EXPECT_TRUE(CString("ab") != abc);
}

TEST(CStringTest, LengthEmptinessAndEmpty) {
  CString text(kLong);
  EXPECT_EQ(text.GetLength(), static_cast<int>(sizeof(kLong) - 1));
  EXPECT_FALSE(text.IsEmpty());
  text.Empty();
  EXPECT_TRUE(text.IsEmpty());
  EXPECT_EQ(text.GetLength(), 0);
  EXPECT_STREQ(text, "");
}

TEST(CStringTest, LoadStringOfKnownAndUnknownNumbers) {
  CString text("previous");
  EXPECT_NE(text.LoadString(51003), 0);
  EXPECT_STREQ(text, "Failed to Request User Certificate from Netscape CA");

  // An unknown number fails and leaves the content alone.
  for (unsigned int unknown : {0u, 1u, 42156u, 50999u, 51007u, 53008u, 4294967295u}) {
    SCOPED_TRACE(unknown);
    CString kept("kept");
    EXPECT_EQ(kept.LoadString(unknown), 0);
    EXPECT_STREQ(kept, "kept");
  }
}

TEST(CStringTest, FormatWithLiteralReplacesContent) {
  CString text("previous content");
  text.Format("%s=%d;%u", "port", 709, 389u);
  EXPECT_STREQ(text, "port=709;389");

  // Output far beyond any initial buffer is neither cut nor overrun.
  const std::string long_arg(5000, 'x');
  text.Format("[%s]", long_arg.c_str());
  EXPECT_EQ(text.GetLength(), 5002);
  EXPECT_EQ(std::string(text), "[" + long_arg + "]");

  text.Format("%s", "");
  EXPECT_TRUE(text.IsEmpty());
}

TEST(CStringTest, FormatWithMessageNumberGivesIniText) {
  const char* expected =
      "[Entrust Settings]\n"
      "Manager=ca.example.test+709\n"
      "Server=dir.example.test+389\n"
      "ClientType=Heavy";
  CString ini("previous content");
  ini.Format(42157u, "ca.example.test", "dir.example.test");
  EXPECT_STREQ(ini, expected);
  // CString arguments stand for their text, as with the framework's string.
  const CString manager("ca.example.test"), server("dir.example.test");
  CString again;
  again.Format(42157u, manager, server);
  EXPECT_STREQ(again, expected);
}

TEST(CStringTest, FormatWithUnknownMessageNumberEmpties) {
  CString text("previous content");
  text.Format(50999u, "ignored");
  EXPECT_TRUE(text.IsEmpty());
}

}  // namespace
