// The descriptor owner and the write loop the stand-ins' file code rests on.

#include "pki/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>

namespace veskar::pki {
namespace {

bool IsOpen(int fd) { return fcntl(fd, F_GETFD) != -1 || errno != EBADF; }

TEST(UniqueFdTest, ClosesExactlyWhatItOwns) {
  int first[2];
  int second[2];
  ASSERT_EQ(pipe(first), 0);
  ASSERT_EQ(pipe(second), 0);
  close(first[1]);
  close(second[1]);
  {
    UniqueFd a(first[0]);
    UniqueFd b(second[0]);
    a = std::move(b);  // gives up first[0], takes second[0]
    EXPECT_FALSE(IsOpen(first[0]));
    EXPECT_EQ(a.get(), second[0]);
    EXPECT_FALSE(b.valid());
    UniqueFd c(std::move(a));
    EXPECT_EQ(c.get(), second[0]);
    const int kept = c.release();
    EXPECT_FALSE(c.valid());
    UniqueFd d(kept);
    EXPECT_EQ(d.Close(), 0);
    EXPECT_FALSE(IsOpen(kept));
    EXPECT_EQ(d.Close(), 0) << "a second Close is a no-op";
  }
}

TEST(WriteAllTest, WritesEverythingOrSaysWhy) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  UniqueFd read_end(ends[0]);
  UniqueFd write_end(ends[1]);
  const std::string data(3000, 'x');
  std::string error;
  ASSERT_TRUE(WriteAll(write_end.get(), data.data(), data.size(), &error)) << error;
  std::string got(data.size(), '\0');
  EXPECT_EQ(read(read_end.get(), &got[0], got.size()), static_cast<ssize_t>(data.size()));
  EXPECT_EQ(got, data);
  EXPECT_FALSE(WriteAll(read_end.get(), data.data(), data.size(), &error));
  EXPECT_EQ(error, ErrnoText(EBADF));
}

}  // namespace
}  // namespace veskar::pki
