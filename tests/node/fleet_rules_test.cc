#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "node/broker_credentials.h"
#include "node/fleet_protocol.h"
#include "node/job_name.h"
#include "node/service_folder.h"
#include "node/service_status.h"

namespace quillaro {
namespace {

void WriteText(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

TEST(FleetProtocolTest, OnlyResultsQueuesAndPlainJobIdsPass) {
  EXPECT_TRUE(fleet::IsResultsQueue("quillaro.results.0123456789abcdef"));
  for (const char* queue : {"quillaro.jobs", "quillaro.dead", "quillaro.results.", "",
                            "quillaro.results.0123456789ABCDEF", "quillaro.results.0123456789abcdef0",
                            "amq.rabbitmq.reply-to", "quillaro.results.0123456789abcde."}) {
    EXPECT_FALSE(fleet::IsResultsQueue(queue)) << queue;
  }
  EXPECT_TRUE(fleet::IsJobId("0123456789abcdef-12"));
  for (const std::string& id : {std::string(), std::string(65, 'a'), std::string("../x"),
                               std::string("a.ps"), std::string("a b"), std::string("a\0b", 3)}) {
    EXPECT_FALSE(fleet::IsJobId(id)) << id;
  }
}

TEST(ResultNameTest, ResultsGetTheSubmittedNameBack) {
  EXPECT_EQ(ServiceFolder::InboxName("b-1", "report.pcl"), "b-1.pcl");
  EXPECT_EQ(ServiceFolder::InboxName("b-1", "noext"), "b-1");
  EXPECT_EQ(ServiceFolder::InboxName("b-1", "x.p/../s"), "b-1");       // not letters and digits
  EXPECT_EQ(ServiceFolder::InboxName("b-1", "x.abcdefghi"), "b-1");    // too long
  EXPECT_EQ(RestoreResultName("b-1.pcl_done", "b-1", "report.pcl"), "report.pcl_done");
  EXPECT_EQ(RestoreResultName("b-1_3.jpg", "b-1", "report.pcl"), "report_3.jpg");
  EXPECT_EQ(RestoreResultName("b-1_pagescount.txt", "b-1", "a.b.ps"), "a.b_pagescount.txt");
  EXPECT_EQ(RestoreResultName("b-1_done", "b-1", "x.we-ird"), "x.we-ird_done");
  EXPECT_EQ(RestoreResultName("other.txt", "b-1", "report.pcl"), "other.txt");
}

TEST(ServiceStatusTest, RunningOnlyWhileTheLastReportSaysSoAndStartsAreCounted) {
  const std::string path = ::testing::TempDir() + "/status.txt";
  std::filesystem::remove(path);
  EXPECT_FALSE(ReadServiceStatus(path).running);  // no file: not started
  const std::string pending =
      "quillaro: Quillaro start pending (check point 1, wait hint 3000 ms)\n";
  const std::string running = "quillaro: Quillaro running (check point 0, wait hint 0 ms)\n";
  const struct {
    std::string text;
    bool running;
    uint64_t starts;
  } cases[] = {
      {pending, false, 0},
      {pending + running + "quillaro: some other line mentioning Quillaro running\n", true, 1},
      {running + "quillaro: Quillaro stop pending (check point 1, wait hint 3000 ms)\n", false, 1},
      // A restart: what it had in in/ is lost.
      {running + "quillaro: Quillaro stopped (check point 0, wait hint 0 ms)\n" + running, true, 2},
  };
  for (const auto& c : cases) {
    WriteText(path, c.text);
    const ServiceStatus status = ReadServiceStatus(path);
    EXPECT_EQ(status.running, c.running) << c.text;
    EXPECT_EQ(status.starts, c.starts) << c.text;
  }
}

TEST(BrokerCredentialsTest, NoPasswordOnTheCommandLine) {
  EXPECT_TRUE(UrlHasPassword("amqp://u:p@h:5672/%2f"));
  EXPECT_TRUE(UrlHasPassword("amqps://u:p@h"));
  EXPECT_FALSE(UrlHasPassword("amqp://u@h:5672/%2f"));
  EXPECT_FALSE(UrlHasPassword("amqp://h:5672/a:b@c"));  // in the path, not the user part

  unsetenv("QUILLARO_BROKER_PASSWORD");
  unsetenv("QUILLARO_BROKER_URL");
  std::string error;
  EXPECT_FALSE(ResolveBrokerEndpoint("amqp://u:secret@h/%2f", "", "", &error));
  EXPECT_NE(error.find("--password-file"), std::string::npos);
  EXPECT_EQ(error.find("secret"), std::string::npos);
  EXPECT_FALSE(ResolveBrokerEndpoint("amqp://u@h/%2f", "", "", &error));  // no password at all
  EXPECT_FALSE(ResolveBrokerEndpoint("", "", "", &error));                // no URL at all

  const std::string file = ::testing::TempDir() + "/password";
  WriteText(file, "s3cret\nignored\n");
  auto endpoint = ResolveBrokerEndpoint("amqp://u@h/%2f", file, "ca.pem", &error);
  ASSERT_TRUE(endpoint);
  EXPECT_EQ(endpoint->password, "s3cret");
  EXPECT_EQ(endpoint->ca_file, "ca.pem");
  WriteText(file, "\n");
  EXPECT_FALSE(ResolveBrokerEndpoint("amqp://u@h/%2f", file, "", &error));  // empty file

  setenv("QUILLARO_BROKER_PASSWORD", "from-env", 1);
  endpoint = ResolveBrokerEndpoint("amqp://u@h/%2f", "", "", &error);
  ASSERT_TRUE(endpoint);
  EXPECT_EQ(endpoint->password, "from-env");
  unsetenv("QUILLARO_BROKER_PASSWORD");
  setenv("QUILLARO_BROKER_URL", "amqp://u:whole@h/%2f", 1);  // a Secret may hold all of it
  endpoint = ResolveBrokerEndpoint("", "", "", &error);
  ASSERT_TRUE(endpoint);
  EXPECT_EQ(endpoint->url, "amqp://u:whole@h/%2f");
  unsetenv("QUILLARO_BROKER_URL");
}

TEST(BrokerCredentialsTest, OneMessageLimitFromFlagOrEnvironment) {
  unsetenv("QUILLARO_MAX_MESSAGE_BYTES");
  EXPECT_EQ(ResolveMaxMessageBytes(""), fleet::kDefaultMaxMessageBytes);
  EXPECT_EQ(ResolveMaxMessageBytes("1048576"), 1048576u);
  setenv("QUILLARO_MAX_MESSAGE_BYTES", "262144", 1);
  EXPECT_EQ(ResolveMaxMessageBytes(""), 262144u);
  EXPECT_EQ(ResolveMaxMessageBytes("1048576"), 1048576u);  // the flag wins
  for (const char* bad : {"0", "-1", "12k", "x"}) EXPECT_EQ(ResolveMaxMessageBytes(bad), 0u) << bad;
  unsetenv("QUILLARO_MAX_MESSAGE_BYTES");
}

}  // namespace
}  // namespace quillaro
