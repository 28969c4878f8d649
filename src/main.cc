// The Quillaro service. It takes no arguments: started by systemd or from a
// shell, it runs until SIGTERM or SIGINT (Ctrl-C) and then exits 0; it exits
// 1 at once when it cannot watch in/.

#include "platform/image_codec.h"
#include "service/service_host.h"

int main() {
  quillaro::ServiceHost host([] { quillaro::InitializeImaging(); },
                             [] { quillaro::ShutdownImaging(); });
  return host.Run();
}
