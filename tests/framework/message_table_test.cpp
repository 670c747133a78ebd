// The message table is a contract with hosts: they show these texts and some
// compare them. Every entry is checked byte for byte, and the data file the
// build generates the table from is checked against what the library serves.

#include <gtest/gtest.h>
#include <veskar/cstring.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
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

// Reads the JSON string that starts at the quote `json[*pos]`, decoding its
// escapes, and leaves *pos after the closing quote.
std::string ReadJsonString(const std::string& json, size_t* pos) {
  std::string out;
  size_t i = *pos + 1;
  for (; i < json.size() && json[i] != '"'; ++i) {
    if (json[i] != '\\') {
      out += json[i];
      continue;
    }
    const char escape = json.at(++i);
    if (escape == 'n') {
      out += '\n';
    } else if (escape == 'r') {
      out += '\r';
    } else if (escape == 't') {
      out += '\t';
    } else if (escape == 'u') {
      const unsigned long code = std::stoul(json.substr(i + 1, 4), nullptr, 16);
      EXPECT_LT(code, 0x80u) << "the table is ASCII";
      out += static_cast<char>(code);
      i += 4;
    } else {
      out += escape;  // \" \\ \/
    }
  }
  *pos = i + 1;
  return out;
}

// The entries of the data file: each `{ "id": N, "text": "..." }`.
std::map<unsigned int, std::string> ReadDataFile(const std::string& json) {
  std::map<unsigned int, std::string> entries;
  size_t pos = 0;
  while ((pos = json.find("\"id\"", pos)) != std::string::npos) {
    pos = json.find(':', pos) + 1;
    const unsigned int id = static_cast<unsigned int>(std::stoul(json.substr(pos)));
    pos = json.find('"', json.find(':', json.find("\"text\"", pos)));
    EXPECT_NE(pos, std::string::npos) << "message " << id << " has no text";
    if (pos == std::string::npos) break;
    EXPECT_EQ(entries.count(id), 0u) << "message " << id << " twice";
    entries[id] = ReadJsonString(json, &pos);
  }
  return entries;
}

TEST(MessageTableTest, ServesExactlyTheDataFile) {
  std::ifstream file(VESKAR_MESSAGES_JSON);
  ASSERT_TRUE(file) << "cannot read " << VESKAR_MESSAGES_JSON;
  std::stringstream content;
  content << file.rdbuf();

  const std::map<unsigned int, std::string> entries = ReadDataFile(content.str());
  EXPECT_EQ(entries.size(), std::size(kExpected)) << "entries found in " << VESKAR_MESSAGES_JSON;
  for (const auto& [id, text] : entries) {
    CString served;
    ASSERT_NE(served.LoadString(id), 0) << "message " << id << " is in the file, not the library";
    EXPECT_EQ(std::string(served), text) << "message " << id;
  }
}

}  // namespace
