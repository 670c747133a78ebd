// Every code path of the Base64 conversions, forced in turn, against the
// plain one-character-at-a-time conversions. The inputs sit at every start
// alignment in exactly-sized buffers, so that a read past the end shows
// under AddressSanitizer, and the irregular characters fall at every offset
// of a vector block.

#include "codec/base64_paths.h"

#include <gtest/gtest.h>
#include <veskar/base64.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "tests/codec/base64_reference.h"

namespace {

using veskar::base64::Path;

// Every start alignment of the widest vector block.
constexpr std::size_t kAlignments = 64;

std::string RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::string bytes(size, '\0');
  for (char& b : bytes) b = static_cast<char>(rng() & 0xFF);
  return bytes;
}

// `data` copied `align` bytes into a heap block that ends with it.
class Placed {
 public:
  Placed(const std::string& data, std::size_t align)
      : block_(new char[align + data.size()]), at_(block_.get() + align) {
    std::memcpy(at_, data.data(), data.size());
  }
  char* get() const { return at_; }

 private:
  std::unique_ptr<char[]> block_;
  char* at_;
};

std::string Encode(const std::string& bytes, std::size_t align) {
  const Placed in(bytes, align);
  char* text = nullptr;
  const int count = Base64EncodeAlloc(in.get(), bytes.size(), text);
  std::string result = count < 0 ? "refused" : std::string(text, count);
  Base64Free(text);
  return result;
}

// The count, then the bytes the count covers.
std::string Decode(const std::string& text, std::size_t align) {
  const Placed in(text, align);
  void* buffer = nullptr;
  const int count = Base64DecodeAlloc(in.get(), text.size(), buffer);
  std::string result = std::to_string(count) + ":";
  if (count > 0) result.append(static_cast<char*>(buffer), count);
  Base64Free(buffer);
  return result;
}

std::string PlainDecode(const std::string& text) {
  std::string bytes;
  const int count = veskar_test::PlainDecode(reinterpret_cast<const unsigned char*>(text.data()),
                                             text.size(), &bytes);
  return std::to_string(count) + ":" + (count > 0 ? bytes : "");
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) {
    text.replace(at, from.size(), to);
  }
  return text;
}

class Base64PathTest : public testing::TestWithParam<Path> {
 protected:
  void SetUp() override {
    if (!veskar::base64::ForcePath(GetParam())) {
      GTEST_SKIP() << "this CPU or build lacks " << veskar::base64::PathName(GetParam());
    }
  }
  void TearDown() override { veskar::base64::ForceBestPath(); }
};

TEST_P(Base64PathTest, EncodesEveryLengthAtEveryAlignment) {
  EXPECT_EQ(veskar::base64::ActivePath(), GetParam());
  for (std::size_t size = 0; size <= 300; ++size) {
    const std::string bytes = RandomBytes(size, static_cast<unsigned>(size));
    const std::string expected =
        veskar_test::PlainEncode(reinterpret_cast<const unsigned char*>(bytes.data()), size);
    for (std::size_t align = 0; align < kAlignments; ++align) {
      ASSERT_EQ(Encode(bytes, align), expected) << size << " bytes at +" << align;
    }
  }
}

TEST_P(Base64PathTest, DecodesEveryLengthWithEachLineBreak) {
  const char* const kBreaks[] = {"\n\r", "\r\n", "\n", "", "\\n\\r", " \t"};
  for (std::size_t size = 0; size <= 300; size += 1 + size / 100) {
    const std::string bytes = RandomBytes(size, static_cast<unsigned>(size));
    const std::string text =
        veskar_test::PlainEncode(reinterpret_cast<const unsigned char*>(bytes.data()), size);
    for (const char* line_break : kBreaks) {
      const std::string broken = Replace(text, "\n\r", line_break);
      for (std::size_t align = 0; align < kAlignments; ++align) {
        ASSERT_EQ(Decode(broken, align), std::to_string(size) + ":" + bytes)
            << size << " bytes, break \"" << line_break << "\", at +" << align;
      }
    }
  }
}

TEST_P(Base64PathTest, DecodesEveryPrefixOfAText) {
  const std::string text = Encode(RandomBytes(250, 7), 0);
  for (std::size_t length = 0; length <= text.size(); ++length) {
    const std::string prefix = text.substr(0, length);
    for (std::size_t align : {0, 1, 5}) {
      ASSERT_EQ(Decode(prefix, align), PlainDecode(prefix)) << length << " at +" << align;
    }
  }
}

// Every byte value in place of each character of five blocks' worth of
// text: outside the alphabet, high bytes, "=", white space and the backslash
// all land in vector blocks, at each offset of them and of a run of them.
TEST_P(Base64PathTest, DecodesEveryByteAtEveryOffset) {
  const std::string text = Replace(Encode(RandomBytes(240, 240), 0), "\n\r", "");
  ASSERT_EQ(text.size(), 320u);
  for (std::size_t offset = 0; offset < 300; ++offset) {
    for (int byte = 0; byte < 256; ++byte) {
      std::string changed = text;
      changed[offset] = static_cast<char>(byte);
      ASSERT_EQ(Decode(changed, offset % 3), PlainDecode(changed))
          << "byte " << byte << " at " << offset;
    }
  }
}

TEST_P(Base64PathTest, DecodesIrregularStretchesAtEveryOffset) {
  const std::string text = Encode(RandomBytes(300, 300), 0).substr(0, 360);
  const char* const kInserts[] = {" ",  "\t\v\f", "\n\r",  "\\n",  "\\r\\n", "\\t",
                                  "=",  "==",     "YQ==",  "-",    "\x80",   "\xff\xfe",
                                  "\\", "\r\n ",  "YWJj=", "\n\\n"};
  for (const char* insert : kInserts) {
    for (std::size_t offset = 0; offset <= 300; ++offset) {
      const std::string changed = text.substr(0, offset) + insert + text.substr(offset);
      ASSERT_EQ(Decode(changed, 0), PlainDecode(changed))
          << "\"" << insert << "\" inserted at " << offset;
    }
  }
}

// Text wrapped at widths other than the encoder's, so that breaks fall
// inside blocks, at group boundaries and not, and runs of them end blocks.
TEST_P(Base64PathTest, DecodesTextWrappedAtOtherWidths) {
  const std::string bytes = RandomBytes(1000, 1000);
  const std::string text = Replace(Encode(bytes, 0), "\n\r", "");
  for (std::size_t width : {4, 30, 60, 63, 65, 76, 128, 200}) {
    for (const char* line_break : {"\n", "\r\n", "\n\r\n\r"}) {
      std::string wrapped;
      for (std::size_t at = 0; at < text.size(); at += width) {
        wrapped += text.substr(at, width) + line_break;
      }
      const std::string decoded = Decode(wrapped, width % 7);
      ASSERT_EQ(decoded, PlainDecode(wrapped)) << width << " wide, break \"" << line_break << "\"";
      if (width % 4 == 0) {
        ASSERT_EQ(decoded, "1000:" + bytes) << width << " wide";
      }
    }
  }
}

#if VESKAR_EMULATE_AVX512VBMI
// Built on the portable AVX-512 VBMI path, beside the other paths' native
// code, which the plain build of these cases already runs.
constexpr Path kTestedPaths[] = {Path::kAvx512Vbmi};
#else
constexpr auto& kTestedPaths = veskar::base64::kAllPaths;
#endif

// Lines of the encoder's width whose line breaks change from line to line:
// another pair, a single one, a longer run, or none, so that two lines run
// on as one.
TEST_P(Base64PathTest, DecodesLinesWhoseBreaksChange) {
  const std::string text = Replace(Encode(RandomBytes(48 * 16, 16), 0), "\n\r", "");
  const char* const kBreaks[] = {"\n\r", "\r\n", "\n", "\r", "", "\n\n\r", "\r\r"};
  std::mt19937 rng(16);
  for (int round = 0; round < 200; ++round) {
    // Mostly one kind of break, as real texts have, with the odd other one.
    const char* usual = kBreaks[rng() % 3];
    std::string lines;
    for (std::size_t at = 0; at < text.size(); at += 64) {
      lines += text.substr(at, 64) + (rng() % 4 == 0 ? kBreaks[rng() % 7] : usual);
    }
    const std::size_t align = round % 5;
    ASSERT_EQ(Decode(lines, align), std::to_string(48 * 16) + ":" + RandomBytes(48 * 16, 16))
        << "round " << round;
  }
}

INSTANTIATE_TEST_SUITE_P(AllPaths, Base64PathTest, testing::ValuesIn(kTestedPaths),
                         [](const testing::TestParamInfo<Path>& info) {
                           return std::string(veskar::base64::PathName(info.param));
                         });

TEST(Base64PathChoiceTest, ForcingAMissingPathChangesNothing) {
  const Path before = veskar::base64::ActivePath();
  EXPECT_TRUE(veskar::base64::PathAvailable(Path::kScalar));
  for (Path path : veskar::base64::kAllPaths) {
    EXPECT_EQ(veskar::base64::ForcePath(path), veskar::base64::PathAvailable(path));
    EXPECT_EQ(veskar::base64::ActivePath(), veskar::base64::PathAvailable(path) ? path : before);
    veskar::base64::ForceBestPath();
  }
  EXPECT_EQ(veskar::base64::ActivePath(), before);
  // The choice made at start is the widest path the CPU has.
  for (Path path : {Path::kAvx512Vbmi, Path::kAvx2, Path::kSsse3}) {
    if (veskar::base64::PathAvailable(path)) {
      EXPECT_EQ(before, path);
      break;
    }
  }
}

}  // namespace
