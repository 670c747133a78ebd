// The exported Base64 conversions, called through the shared library the way
// a host calls them.

#include <gtest/gtest.h>
#if VESKAR_TEST_HAVE_OPENSSL
#include <openssl/evp.h>
#endif
#include <veskar/veskar.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

struct Result {
  int count;
  bool allocated;
  std::string out;  // the text before its NUL, or the decoded bytes
};

Result Encode(const std::string& bytes) {
  char* text = reinterpret_cast<char*>(1);
  const int count = Base64EncodeAlloc(const_cast<char*>(bytes.data()), bytes.size(), text);
  Result result{count, text != nullptr, text ? std::string(text) : std::string()};
  if (text != nullptr && count >= 0) {
    EXPECT_EQ(std::strlen(text), static_cast<size_t>(count));
  }
  Base64Free(text);
  return result;
}

Result Decode(const std::string& text, unsigned long length) {
  void* buffer = reinterpret_cast<void*>(1);
  const int count = Base64DecodeAlloc(const_cast<char*>(text.c_str()), length, buffer);
  Result result{count, buffer != nullptr,
                buffer && count > 0 ? std::string(static_cast<char*>(buffer), count) : ""};
  Base64Free(buffer);
  return result;
}

Result Decode(const std::string& text) { return Decode(text, text.size()); }

std::string RandomBytes(size_t size, std::mt19937& rng) {
  std::string bytes(size, '\0');
  for (char& b : bytes) b = static_cast<char>(rng() & 0xFF);
  return bytes;
}

#if VESKAR_TEST_HAVE_OPENSSL
std::string WithoutBreaks(std::string text) {
  std::string out;
  for (char c : text) {
    if (c != '\n' && c != '\r') out += c;
  }
  return out;
}
#endif

TEST(Base64Test, FixedVectorsBothWays) {
  const struct {
    const char* bytes;
    const char* text;
  } kVectors[] = {
      {"", ""},      {"a", "YQ=="},          {"ab", "YWI="},       {"abc", "YWJj"},
      {"f", "Zg=="}, {"foobar", "Zm9vYmFy"}, {"\xff\xfe", "//4="}, {"\xfb\xef\xbe", "++++"}};
  for (const auto& v : kVectors) {
    SCOPED_TRACE(v.text);
    const Result encoded = Encode(v.bytes);
    EXPECT_EQ(encoded.out, v.text);
    EXPECT_EQ(encoded.count, static_cast<int>(std::strlen(v.text)));
    const Result decoded = Decode(v.text);
    EXPECT_TRUE(decoded.allocated);
    EXPECT_EQ(decoded.count, static_cast<int>(std::strlen(v.bytes)));
    EXPECT_EQ(decoded.out, v.bytes);
  }
}

TEST(Base64Test, BreaksAreLfCrAfterEvery48BytesAndNeverAfterPadding) {
  const struct {
    size_t bytes;
    int count;
    std::vector<size_t> breaks;  // offsets of each LF, always followed by CR
  } kCases[] = {
      {47, 64, {}}, {48, 66, {64}}, {49, 70, {64}}, {96, 132, {64, 130}}, {100, 140, {64, 130}}};
  std::mt19937 rng(48);
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.bytes);
    const Result encoded = Encode(RandomBytes(c.bytes, rng));
    EXPECT_EQ(encoded.count, c.count);
    std::vector<size_t> breaks;
    for (size_t i = 0; i < encoded.out.size(); ++i) {
      if (encoded.out[i] == '\n') {
        breaks.push_back(i);
        EXPECT_EQ(encoded.out.substr(i, 2), "\n\r");
      }
    }
    EXPECT_EQ(breaks, c.breaks);
    EXPECT_EQ(std::count(encoded.out.begin(), encoded.out.end(), '\r'), c.breaks.size());
  }
}

TEST(Base64Test, EveryLengthUpTo200RoundTrips) {
  std::mt19937 rng(200);
  for (size_t size = 0; size <= 200; ++size) {
    SCOPED_TRACE(size);
    const std::string bytes = RandomBytes(size, rng);
    const Result encoded = Encode(bytes);
    EXPECT_EQ(encoded.count, static_cast<int>(4 * ((size + 2) / 3) + 2 * (size / 48)));
    const Result decoded = Decode(encoded.out);
    EXPECT_EQ(decoded.count, static_cast<int>(size));
    EXPECT_EQ(decoded.out, bytes);
    EXPECT_EQ(Decode(encoded.out, ULONG_MAX).out, bytes);
    EXPECT_EQ(Decode(encoded.out, 0xFFFFFFFFul).out, bytes);
  }
}

TEST(Base64Test, DecoderTolerance) {
  const struct {
    const char* text;
    int count;
    const char* bytes;
  } kCases[] = {
      {"YW Jj", 3, "abc"},
      {"Y\tW\vJ\fj", 3, "abc"},
      {"YWJj\r\nYWJj\n\n\rYWI=", 8, "abcabcab"},
      {"YWJj\\nYWJj\\r\\nYQ==", 7, "abcabca"},
      {"YWJj\\n\nYWJj", 6, "abcabc"},  // real break after an escape
      {"YWJj\\tYWJj", 0, ""},          // malformed escape
      {"YWJj\\", 0, ""},               // backslash as the last character
      {"YW-j", 3, "a`#"},              // outside the alphabet: as if "YWAj"
      {"YW\xc3\xa9", 3, "a`\0"},       // bytes above 0x7F: zero bits
      {"Y=Jj", 3, "`\002c"},           // "=" not at a look-ahead offset
      {"YWJj YQ==", 4, "abca"},        // padding after skipped white space
      {"YWJj\\n\nYWI=", 5, "abcab"},   // ... and after an escape and a break
      {"YWJj Y W\tI =", 5, "abcab"},   // ... and inside the final quantum
      {"YWJjYQ==YWJj", 4, "abca"},     // nothing after the final quantum
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    const Result decoded = Decode(c.text);
    EXPECT_TRUE(decoded.allocated);
    EXPECT_EQ(decoded.count, c.count);
    EXPECT_EQ(decoded.out, std::string(c.bytes, c.count));
  }
}

TEST(Base64Test, GroupCutShortKeepsTheWholeBytesItCarries) {
  const struct {
    const char* text;
    int count;
    const char* bytes;
  } kCases[] = {{"Y", 0, ""},        {"YQ", 1, "a"},         {"YWI", 2, "ab"},
                {"YWJjY", 3, "abc"}, {"YWJj YW", 4, "abca"}, {"YWJj \n ", 3, "abc"}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    const Result decoded = Decode(c.text);
    EXPECT_EQ(decoded.count, c.count);
    EXPECT_EQ(decoded.out, c.bytes);
  }
  // A length shorter than the text ends the text there.
  EXPECT_EQ(Decode("YWJjYWJj", 6).out, "abca");
  EXPECT_EQ(Decode("YWI=", 3).out, "ab");
}

// Lengths of 2^32 and more exist only where unsigned long is 64 bits (not
// on Windows, where all 32 bits set is the decoder's "NUL-terminated").
constexpr bool kLongHolds33Bits = sizeof(unsigned long) > 4;
constexpr unsigned long kTwoToThe32 = kLongHolds33Bits ? static_cast<unsigned long>(1ull << 32) : 0;

TEST(Base64Test, RefusalsLeaveANullPointerAndANegativeCount) {
  char text[] = "YWJj";  // never read: each length below is refused first
  struct EncodeCase {
    void* data;
    unsigned long length;
  };
  std::vector<EncodeCase> encodes = {{nullptr, 1}, {text, 1561806289}, {text, ULONG_MAX}};
  if (kLongHolds33Bits) encodes.push_back({text, kTwoToThe32});
  for (const auto& c : encodes) {
    SCOPED_TRACE(c.length);
    char* out = text;
    EXPECT_EQ(Base64EncodeAlloc(c.data, c.length, out), -1);
    EXPECT_EQ(out, nullptr);
    Base64Free(out);
  }
  struct DecodeCase {
    char* text;
    unsigned long length;
  };
  std::vector<DecodeCase> decodes = {{nullptr, 4}, {nullptr, ULONG_MAX}, {text, 1431655766}};
  if (kLongHolds33Bits) decodes.push_back({text, kTwoToThe32});
  for (const auto& c : decodes) {
    SCOPED_TRACE(c.length);
    void* out = text;
    EXPECT_EQ(Base64DecodeAlloc(c.text, c.length, out), -1);
    EXPECT_EQ(out, nullptr);
  }
  // No input at all is not a refusal: an empty text, an empty buffer.
  char* empty_text = nullptr;
  ASSERT_EQ(Base64EncodeAlloc(nullptr, 0, empty_text), 0);
  ASSERT_NE(empty_text, nullptr);
  EXPECT_STREQ(empty_text, "");
  Base64Free(empty_text);
  void* empty_buffer = nullptr;
  EXPECT_EQ(Base64DecodeAlloc(nullptr, 0, empty_buffer), 0);
  EXPECT_NE(empty_buffer, nullptr);
  Base64Free(empty_buffer);
}

// A second opinion where OpenSSL is at hand (not for Windows targets).
#if VESKAR_TEST_HAVE_OPENSSL
TEST(Base64Test, AgreesWithOpenSsl) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::mt19937 rng(4648);
  for (size_t groups = 0; groups <= 60; ++groups) {
    for (int pad = 0; pad <= (groups ? 2 : 0); ++pad) {
      std::string text(4 * groups, 'A');
      for (char& c : text) c = kAlphabet[rng() % 64];
      text.replace(text.size() - pad, pad, pad, '=');
      std::vector<unsigned char> expected(text.size() / 4 * 3 + 1);
      const int n =
          EVP_DecodeBlock(expected.data(), reinterpret_cast<const unsigned char*>(text.data()),
                          static_cast<int>(text.size()));
      ASSERT_GE(n, pad);
      SCOPED_TRACE(text);
      EXPECT_EQ(Decode(text).out, std::string(reinterpret_cast<char*>(expected.data()), n - pad));
    }
    // Encoding agrees too once our line breaks are taken out.
    const std::string bytes = RandomBytes(groups * 5, rng);
    std::vector<unsigned char> text(bytes.size() / 3 * 4 + 5);
    const int n = EVP_EncodeBlock(text.data(), reinterpret_cast<const unsigned char*>(bytes.data()),
                                  static_cast<int>(bytes.size()));
    EXPECT_EQ(WithoutBreaks(Encode(bytes).out),
              std::string(reinterpret_cast<char*>(text.data()), n));
  }
}

#endif  // VESKAR_TEST_HAVE_OPENSSL

}  // namespace
