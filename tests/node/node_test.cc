#include <gtest/gtest.h>

#include "node/file_bundle.h"
#include "node/job_name.h"

namespace quillaro {
namespace {

TEST(SafeJobNameTest, KeepsHostileNamesInsideTheInbox) {
  const struct {
    std::string name;
    std::string safe;
  } cases[] = {
      {"a.pcl", "a.pcl"},
      {"../../etc/passwd", "_._.._etc_passwd"},
      {"..", "_."},
      {".hidden.ps", "_hidden.ps"},
      {"dir\\x.ps", "dir_x.ps"},
      {std::string("a\0b\n\x7f.ps", 8), "a_b__.ps"},
      {"", "job"},
      {"lat\xE9.ps", "lat\xE9.ps"},
      {std::string(300, 'x') + ".pdf", std::string(196, 'x') + ".pdf"},
  };
  for (const auto& c : cases) EXPECT_EQ(SafeJobName(c.name), c.safe) << c.name;
}

TEST(FileBundleTest, RoundTripsAndRefusesMalformedBodies) {
  const std::vector<BundledFile> files = {{"a_1.jpg", std::string("\0\xff", 2)}, {"a.ps_done", ""}};
  auto decoded = DecodeBundle(EncodeBundle(files));
  ASSERT_TRUE(decoded);
  ASSERT_EQ(decoded->size(), 2u);
  EXPECT_EQ((*decoded)[0].bytes, files[0].bytes);
  EXPECT_EQ((*decoded)[1].name, "a.ps_done");

  const std::string good = EncodeBundle(files);
  const std::string bad[] = {
      "XRB1",
      good.substr(0, good.size() - 1),                 // content cut short
      good + "x",                                      // bytes left over
      EncodeBundle({{"../evil", "x"}}),                // a path, not a name
      EncodeBundle({{"..", "x"}}),
      std::string("QRB1\xff\xff\xff\xff", 8),          // name length past the end
  };
  for (const std::string& body : bad) EXPECT_FALSE(DecodeBundle(body)) << body.size();
}

}  // namespace
}  // namespace quillaro
