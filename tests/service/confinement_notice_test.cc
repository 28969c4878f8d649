#include "service/confinement_notice.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "support/service_folder.h"
#include "support/temp_dir.h"

namespace quillaro {
namespace {

using testing::ReadFileBytes;
using testing::ServiceFolder;

std::string LogAsAscii(const ServiceFolder& folder) {
  std::string log = ReadFileBytes(folder.log());
  std::erase(log, '\0');
  return log;
}

TEST(ConfinementNoticeTest, OneLineOnlyWhenTheKernelCannotConfine) {
  ServiceFolder folder;
  folder.WriteSettings("IsLog=1\n");
  EXPECT_FALSE(ReportInterpreterConfinement(3));
  EXPECT_EQ(LogAsAscii(folder).find(kUnconfinedNotice), std::string::npos);
  EXPECT_TRUE(ReportInterpreterConfinement(0));
  const std::string log = LogAsAscii(folder);
  const size_t at = log.find(kUnconfinedNotice);
  ASSERT_NE(at, std::string::npos) << log;
  EXPECT_EQ(log.find(kUnconfinedNotice, at + 1), std::string::npos);

  // Logging switched off: standard error only.
  std::filesystem::remove(folder.log());
  folder.WriteSettings("IsLog=0\n");
  EXPECT_TRUE(ReportInterpreterConfinement(0));
  EXPECT_EQ(LogAsAscii(folder).find(kUnconfinedNotice), std::string::npos);
}

}  // namespace
}  // namespace quillaro
