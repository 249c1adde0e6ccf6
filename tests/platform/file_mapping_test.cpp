// The read-only file view: copies inside it, refusals past its end, and a
// file cut short under it reported instead of ending the process.
#include "platform/file_mapping.h"

#include <unistd.h>

#include <cstring>

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace norvale {
namespace {

TEST(FileMapping, CopiesRefusesPastTheEndAndSurvivesAShortenedFile) {
  test::TTempDir dir;
  const std::string path = dir.File("f.bin");
  std::vector<uint8_t> bytes(3 * 4096 + 100);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
  test::WriteFile(path, bytes);
  TFileMapping view;
  ASSERT_TRUE(view.Map(path));
  EXPECT_EQ(view.Size(), bytes.size());
  uint8_t out[200];
  ASSERT_EQ(view.Copy(4090, out, 20), TFileMapping::kCopied);
  EXPECT_EQ(0, std::memcmp(out, bytes.data() + 4090, 20));
  EXPECT_EQ(view.Copy(bytes.size() - 10, out, 11), TFileMapping::kOutside);
  EXPECT_EQ(view.Copy(uint64_t(1) << 62, out, 1), TFileMapping::kOutside);
  // Another program cuts the file to one page: the pages it lost fault.
  ASSERT_EQ(truncate(path.c_str(), 4096), 0);
  EXPECT_EQ(view.Copy(2 * 4096 + 8, out, 16), TFileMapping::kFault);
  EXPECT_EQ(view.Copy(100, out, 16), TFileMapping::kCopied);
  EXPECT_EQ(0, std::memcmp(out, bytes.data() + 100, 16));
  // And again: the guard is not used up by the first fault.
  EXPECT_EQ(view.Copy(3 * 4096, out, 16), TFileMapping::kFault);
  TFileMapping empty;
  test::WriteFile(dir.File("e.bin"), std::vector<uint8_t>{});
  EXPECT_FALSE(empty.Map(dir.File("e.bin")));
  EXPECT_FALSE(empty.Map(dir.File("missing.bin")));
  EXPECT_EQ(empty.Copy(0, out, 1), TFileMapping::kOutside);
}

}  // namespace
}  // namespace norvale
