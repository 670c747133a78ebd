// Protected data through the library's public operations and the stand-in
// toolkit's store.

#include <string>

#include "e2e_support.h"

namespace veskar::e2e {
namespace {

class ProtectedDataTest : public EndToEndTest {
 protected:
  void Put(const std::string& label, std::string data, const std::string& protection) {
    agent_.PutToProtectedFile(label.c_str(), reinterpret_cast<unsigned char*>(&data[0]),
                              static_cast<unsigned int>(data.size()), path_.c_str(),
                              protection.c_str());
  }
  // The item's bytes, or "(nothing)" when the library hands out null.
  std::string Get(const std::string& label, const std::string& protection) {
    unsigned char* data = nullptr;
    unsigned int length = 12345;
    agent_.GetFromProtectedFile(label.c_str(), path_.c_str(), protection.c_str(), &data, length);
    if (data == nullptr) return length == 0 ? "(nothing)" : "(null with a length)";
    const Bytes bytes = TakeBuffer(data, length);
    return std::string(bytes.begin(), bytes.end());
  }

  CQnEntCmsPMA agent_;
  std::string path_ = ca_.scratch.File("store.dat");
};

TEST_F(ProtectedDataTest, ItemsRoundTripAndAWrongProtectionStringYieldsNothing) {
  const std::string binary("\0\x01\xff item", 8);
  Put("first", binary, "protection one");
  Put("second", "another item", "protection two");
  EXPECT_EQ(toolkit_test::FileMode(path_), 0600);
  EXPECT_EQ(Get("first", "protection one"), binary);
  EXPECT_EQ(Get("second", "protection two"), "another item");
  EXPECT_EQ(Get("first", "protection two"), "(nothing)");
  EXPECT_EQ(Get("third", "protection one"), "(nothing)");
}

}  // namespace
}  // namespace veskar::e2e
