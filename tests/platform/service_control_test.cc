#include "platform/service_control.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/event.h"

namespace quillaro {
namespace {

// Shutdown cannot be sent to a service under Wine: handing it to the handler
// directly is how its branch is reached there, on both systems alike.
TEST(ServiceControlTest, RunsTheServiceAndHandsControlsToItsHandler) {
  std::vector<uint32_t> got;
  const bool ran = RunServiceDispatcher(u"QuillaroPlatformTest", [&] {
    ManualResetEvent shut_down(false);
    EXPECT_FALSE(RegisterServiceControlHandler(u"Other", [](uint32_t) {}));
    ASSERT_TRUE(RegisterServiceControlHandler(u"QuillaroPlatformTest", [&](uint32_t control) {
      got.push_back(control);
      if (control == kServiceControlShutdown) shut_down.Set();
    }));
    ReportServiceStatus({16, kServiceRunning, kServiceAcceptStop | kServiceAcceptShutdown});
    DeliverServiceControl(kServiceControlInterrogate);
    DeliverServiceControl(kServiceControlShutdown);
    EXPECT_TRUE(shut_down.Wait(10000));
    ReportServiceStatus({16, kServiceStopped});
  });
  EXPECT_TRUE(ran);
  EXPECT_EQ(got, (std::vector<uint32_t>{kServiceControlInterrogate, kServiceControlShutdown}));
}

}  // namespace
}  // namespace quillaro
