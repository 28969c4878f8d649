// What an interpreter that a job has taken over could try against the
// machine, played by this test program as the runner's child: each mode is
// one attack, and the child prints what it got. Run as root (as CI runs), the
// tests also show that root gains the child nothing.
#include <arpa/inet.h>
#include <errno.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "config/text_utils.h"
#include "platform/child_confinement.h"
#include "platform/child_process.h"
#include "support/temp_dir.h"

extern char** environ;

namespace quillaro {
namespace {

namespace fs = std::filesystem;

std::string self_path;  // this program, set by main

// The address a child mode connects to: loopback port `argument` ("tcp"), or the Unix socket at
// path `argument` ("unix") or of abstract name `argument` ("abstract": it starts with a zero byte).
struct Address {
  sockaddr_storage storage = {};
  socklen_t size = 0;
  sockaddr* get() { return reinterpret_cast<sockaddr*>(&storage); }
};
Address SocketAddress(const std::string& mode, const std::string& argument) {
  Address address;
  if (mode == "tcp") {
    auto* in = reinterpret_cast<sockaddr_in*>(&address.storage);
    in->sin_family = AF_INET;
    in->sin_port = htons(static_cast<uint16_t>(std::atoi(argument.c_str())));
    in->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.size = sizeof *in;
    return address;
  }
  auto* un = reinterpret_cast<sockaddr_un*>(&address.storage);
  un->sun_family = AF_UNIX;
  const size_t offset = mode == "abstract" ? 1 : 0;
  const size_t length = std::min(argument.size(), sizeof un->sun_path - 1 - offset);
  std::memcpy(un->sun_path + offset, argument.data(), length);
  address.size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + length);
  return address;
}

// Tries to connect a new socket to `address`; "connected" or why not.
std::string TryConnect(Address address) {
  const int fd = ::socket(address.storage.ss_family, SOCK_STREAM, 0);
  if (fd < 0) return std::string("no socket: ") + std::strerror(errno);
  const int rc = ::connect(fd, address.get(), address.size);
  const int error = errno;
  ::close(fd);
  return rc == 0 ? "connected" : std::string("refused: ") + std::strerror(error);
}

// A socket listening at `address`; -1 (and the test failed) when it cannot be made.
int Listen(Address address) {
  const int fd = ::socket(address.storage.ss_family, SOCK_STREAM, 0);
  if (fd >= 0 && ::bind(fd, address.get(), address.size) == 0 && ::listen(fd, 4) == 0) return fd;
  ADD_FAILURE() << "cannot listen: " << std::strerror(errno);
  return -1;
}

int PlayChild(const std::string& mode, const std::string& argument) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  if (mode == "whoami") {
    std::ifstream status("/proc/self/status");
    std::printf("uid=%u gid=%u groups=%d ", ::getuid(), ::getgid(), ::getgroups(0, nullptr));
    std::string line;
    // The status file is out of the child's reach where Landlock is on:
    // the ids above say enough then.
    while (std::getline(status, line)) {
      if (line.starts_with("CapEff:") || line.starts_with("NoNewPrivs:")) {
        std::printf("%s ", line.c_str());
      }
    }
    std::printf("nnp=%d", ::prctl(PR_GET_NO_NEW_PRIVS, 0, 0, 0, 0));
  } else if (mode == "env") {
    for (char** entry = environ; *entry != nullptr; ++entry) std::printf("%s\n", *entry);
  } else if (mode == "tcp" || mode == "unix" || mode == "abstract") {
    std::printf("%s", TryConnect(SocketAddress(mode, argument)).c_str());
  } else if (mode == "kill") {
    const int rc = ::kill(std::atoi(argument.c_str()), SIGKILL);
    std::printf("%s", rc == 0 ? "killed" : std::strerror(errno));
  } else if (mode == "spawn") {
    // A process of its own session that would outlive the run and watch
    // later jobs.
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::setsid();
      for (;;) ::pause();
    }
    std::printf("%s", pid > 0 ? std::to_string(pid).c_str() : std::strerror(errno));
  } else if (mode == "read") {
    std::ifstream file(argument);
    std::string text;
    std::getline(file, text);
    std::printf("%s", file ? ("read: " + text).c_str() : "unreadable");
  }
  return 0;
}

std::string RunChild(const std::string& mode, const std::string& argument = "x") {
  std::string output;
  EXPECT_EQ(ProcessRunner::Run(ToWide(self_path),
                               ToWide("child --play=" + mode + " \"" + argument + "\""), output,
                               10),
            0)
      << mode;
  return output;
}

TEST(ChildAttacksTest, RootGivesTheChildNothingAndTheServiceEnvironmentStaysHome) {
  const std::string who = RunChild("whoami");
  if (ChildrenChangeUser()) {
    EXPECT_NE(who.find("uid=" + std::to_string(kJobUserId) + " gid=" +
                       std::to_string(kJobGroupId) + " groups=0"),
              std::string::npos)
        << who;
  }
  EXPECT_NE(who.find("nnp=1"), std::string::npos) << who;
  EXPECT_EQ(who.find("CapEff:\t000001"), std::string::npos) << who;

  ::setenv("QUILLARO_TEST_SECRET", "broker-password", 1);
  const std::string environment = RunChild("env");
  ::unsetenv("QUILLARO_TEST_SECRET");
  EXPECT_EQ(environment.find("broker-password"), std::string::npos) << environment;
  EXPECT_NE(environment.find("TMPDIR=/"), std::string::npos) << environment;
}

TEST(ChildAttacksTest, NoSocketReachesAnyoneAndNoSignalLeavesTheRun) {
  testing::TempDir dir;
  // A TCP listener on loopback, as a broker or a database on the machine.
  Address tcp_address = SocketAddress("tcp", "0");
  const int tcp = Listen(tcp_address);
  ::getsockname(tcp, tcp_address.get(), &tcp_address.size);
  const int port = ntohs(reinterpret_cast<sockaddr_in*>(&tcp_address.storage)->sin_port);
  EXPECT_EQ(RunChild("tcp", std::to_string(port)).find("connected"), std::string::npos);

  // A pathname socket anyone may write to (as /run/systemd/private is to
  // root), and an abstract one.
  const std::string socket_path = (dir.path() / "control").string();
  fs::permissions(dir.path(), fs::perms::all);
  const int unix_listener = Listen(SocketAddress("unix", socket_path));
  fs::permissions(socket_path, fs::perms::all);
  EXPECT_EQ(RunChild("unix", socket_path).find("connected"), std::string::npos);
  const std::string abstract_name = "quillaro-test-" + std::to_string(::getpid());
  const int abstract_listener = Listen(SocketAddress("abstract", abstract_name));
  EXPECT_EQ(RunChild("abstract", abstract_name).find("connected"), std::string::npos);
  for (int fd : {tcp, unix_listener, abstract_listener}) ::close(fd);

  // Another process of the machine: it must survive the child's signal.
  const pid_t bystander = ::fork();
  if (bystander == 0) {
    for (;;) ::pause();
  }
  EXPECT_NE(RunChild("kill", std::to_string(bystander)), "killed");
  EXPECT_EQ(::waitpid(bystander, nullptr, WNOHANG), 0) << "the bystander was killed";
  ::kill(bystander, SIGKILL);
  ::waitpid(bystander, nullptr, 0);
}

TEST(ChildAttacksTest, NothingTheChildStartsOutlivesItsRun) {
  const std::string spawned = RunChild("spawn");
  const int pid = std::atoi(spawned.c_str());
  // Refused outright; were it not, it would have to be gone with the run.
  EXPECT_LE(pid, 0) << "a process was started: " << spawned;
  if (pid > 0) ::kill(pid, SIGKILL);
}

TEST(ChildAttacksTest, TheServiceFolderIsOutOfReach) {
  // The module folder holds settings.ini, log.txt, in/ and out/; this one
  // plays it (the runner takes this program's folder for it).
  const fs::path secret = fs::path(self_path).parent_path() / "settings-secret.ini";
  testing::WriteFileBytes(secret, "[Settings] secret\n");
  fs::permissions(secret, fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read |
                              fs::perms::group_read);
  EXPECT_EQ(RunChild("read", secret.string()), "unreadable");
  fs::remove(secret);
}

}  // namespace
}  // namespace quillaro

int main(int argc, char** argv) {
  if (argc >= 2 && std::strncmp(argv[1], "--play=", 7) == 0) {
    return quillaro::PlayChild(argv[1] + 7, argc >= 3 ? argv[2] : "");
  }
  quillaro::self_path = std::filesystem::absolute(argv[0]).string();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
