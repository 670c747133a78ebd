// The message table is a contract with hosts: they show these texts and some
// compare them. Every entry is checked byte for byte, and the data file the
// build generates the table from is checked against what the library serves.

#include <gtest/gtest.h>
#include <veskar/cstring.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>
#include <string>

namespace {

struct Message {
  unsigned int id;
  const char* text;
};

// Names a parameter by its number (test names stay stable across runs).
void PrintTo(const Message& message, std::ostream* out) { *out << message.id; }

const Message kExpected[] = {
    {42157, "[Entrust Settings]\nManager=%s+709\nServer=%s+389\nClientType=Heavy"},
    {51000, "Certificate Service is not avaliable"},
    {51001, "Failed to Request CA certificate from Netscape  "},
    {51002, "Failed to Request CA certificate from Netscape due to Internet Error"},
    {51003, "Failed to Request User Certificate from Netscape CA"},
    {51004, "Failed to Request User Certificate from Netscape CA due to Internet Error"},
    {51005, "The Netscape CA returned no certificates for this query."},
    {51006, "Failed to Query User Certificate from Netscape CA due to Internet Error"},
    {52001, "Failed to Request User Certificate from Entrust CA"},
    {52002, "Failed to Request User Certificate from Entrust CA"},
    {52003, "Failed to Log into Entrust CA"},
    {52004, "Failed to Create Certificate Request from Entrust CA"},
    {52005, "Failed to Create Certificate Template from Entrust CA"},
    {52006, "Failed to Set Certificate Request from Entrust CA"},
    {52007, "Failed to Set Certificate Request Attribute From Entrust CA"},
    {52008, "Failed to Issue Certificate Request From Entrust CA"},
    {52009, "Failed to Retrieve Certificate From Entrust CA"},
    {52010, "Failed to Create Entrust INI file"},
    {53001, "Failed to Request User Certificate from Entrust Authority"},
    {53002, "Failed to Request User Certificate from Entrust Authority"},
    {53003, "Failed to Logon to Entrust. Please enter Profile filename."},
    {53004, "Failed to Logon to Entrust. Please enter password."},
    {53005, "Failed to Create Entrust Client INI file"},
    {53006, "Failed to Logon to Entrust/Authority."},
    {53007, "Failed to Retrieve Certificate from Entrust/Authority."},
};

// Message numbers are string-resource identifiers, which are 16-bit.
constexpr unsigned int kHighestResourceId = 65535;

// Shows control characters and trailing blanks in failure messages.
std::string Visible(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == ' ') {
      out += "\xC2\xB7";  // middle dot
    } else {
      out += c;
    }
  }
  return out;
}

class MessageTextTest : public ::testing::TestWithParam<Message> {};

TEST_P(MessageTextTest, IsServedByteForByte) {
  const Message& expected = GetParam();
  CString text;
  ASSERT_NE(text.LoadString(expected.id), 0) << "message " << expected.id << " is missing";
  ASSERT_EQ(text.GetLength(), static_cast<int>(std::strlen(expected.text)))
      << Visible(std::string(text));
  EXPECT_EQ(std::memcmp(static_cast<const char*>(text), expected.text, std::strlen(expected.text)),
            0)
      << "got      " << Visible(std::string(text)) << "\nexpected " << Visible(expected.text);
}

INSTANTIATE_TEST_SUITE_P(AllEntries, MessageTextTest, ::testing::ValuesIn(kExpected),
                         [](const ::testing::TestParamInfo<Message>& info) {
                           return "Message" + std::to_string(info.param.id);
                         });

TEST(MessageTableTest, HoldsNoOtherNumbers) {
  std::map<unsigned int, std::string> served;
  CString text;
  for (unsigned int id = 0; id <= kHighestResourceId; ++id) {
    if (text.LoadString(id)) served[id] = std::string(text);
  }
  EXPECT_EQ(served.size(), std::size(kExpected));
  for (const Message& expected : kExpected) EXPECT_EQ(served.count(expected.id), 1u) << expected.id;
}

TEST(MessageTableTest, TheTwoEntriesWithSignificantWhitespace) {
  CString text;
  ASSERT_NE(text.LoadString(51001), 0);
  const std::string netscape_ca(text);
  ASSERT_GE(netscape_ca.size(), 3u);
  EXPECT_EQ(netscape_ca.substr(netscape_ca.size() - 3), "e  ");

  ASSERT_NE(text.LoadString(42157), 0);
  const std::string ini(text);
  EXPECT_EQ(std::count(ini.begin(), ini.end(), '\n'), 3);
  EXPECT_EQ(ini.find('\r'), std::string::npos);
  EXPECT_NE(ini.back(), '\n');
}

// Decodes the JSON string escapes the data file may use.
std::string JsonUnescape(const std::string& body) {
  std::string out;
  for (size_t i = 0; i < body.size(); ++i) {
    if (body[i] != '\\') {
      out += body[i];
      continue;
    }
    const char escape = body.at(++i);
    switch (escape) {
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case 't':
        out += '\t';
        break;
      case 'u': {
        const unsigned long code = std::stoul(body.substr(i + 1, 4), nullptr, 16);
        EXPECT_LT(code, 0x80u) << "the table is ASCII";
        out += static_cast<char>(code);
        i += 4;
        break;
      }
      default:
        out += escape;
        break;  // \" \\ \/
    }
  }
  return out;
}

TEST(MessageTableTest, ServesExactlyTheDataFile) {
  std::ifstream file(VESKAR_MESSAGES_JSON);
  ASSERT_TRUE(file) << "cannot read " << VESKAR_MESSAGES_JSON;
  std::stringstream content;
  content << file.rdbuf();
  const std::string json = content.str();

  const std::regex entry(
      R"re(\{\s*"id"\s*:\s*(\d+)\s*,\s*"text"\s*:\s*"((?:[^"\\]|\\.)*)"\s*\})re");
  size_t entries = 0;
  for (auto it = std::sregex_iterator(json.begin(), json.end(), entry);
       it != std::sregex_iterator(); ++it, ++entries) {
    const unsigned int id = static_cast<unsigned int>(std::stoul((*it)[1].str()));
    const std::string text = JsonUnescape((*it)[2].str());
    CString served;
    ASSERT_NE(served.LoadString(id), 0) << "message " << id << " is in the file, not the library";
    EXPECT_EQ(std::string(served), text) << "message " << id;
  }
  EXPECT_EQ(entries, std::size(kExpected)) << "entries found in " << VESKAR_MESSAGES_JSON;
}

}  // namespace
