// The Windows means of the runner tests: the fake child's family and how a
// missing program is reported.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "config/text_utils.h"
#include "fake_child.h"
#include "platform/access_control_windows.h"
#include "platform/child_confinement.h"
#include "platform/child_process.h"
#include "platform/code_page.h"
#include "platform/event_log_windows.h"
#include "platform/os_error.h"
#include "platform/private_folder.h"

namespace quillaro::testing {

namespace {

// The RID of `token`'s integrity level (4096 low, 8192 medium, 12288 high), as text; "unknown"
// when the system cannot say.
std::string IntegrityLevel(HANDLE token) {
  const SecurityBytes data = TokenInformation(token, TokenIntegrityLevel);
  if (data.empty()) return "unknown";
  PSID sid = reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(data.data())->Label.Sid;
  return std::to_string(*::GetSidSubAuthority(sid, *::GetSidSubAuthorityCount(sid) - 1));
}

// This process's own token, for queries.
UniqueHandle OwnToken() {
  HANDLE token = nullptr;
  ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token);
  return UniqueHandle(token);
}

// What the fake child's own token says, as "name=value" words: the
// integrity level's RID, whether the token is restricted, how many
// restricting SIDs it carries ("unknown" when the system cannot say), how many
// privileges it holds, whether it holds Administrators for deny only, and
// whether it may write in its temporary folder (its private folder), beside
// the test program, and start a process.
std::string DescribeOwnToken() {
  const UniqueHandle owned = OwnToken();
  if (!owned.Valid()) return "no-token";
  HANDLE token = owned.Get();
  std::string words = "integrity=" + IntegrityLevel(token);
  words += std::string(" restricted=") + (::IsTokenRestricted(token) ? "1" : "0");
  if (const SecurityBytes data = TokenInformation(token, TokenRestrictedSids); !data.empty()) {
    words += " restricting=" +
             std::to_string(reinterpret_cast<const TOKEN_GROUPS*>(data.data())->GroupCount);
  } else {
    words += " restricting=unknown";
  }
  if (const SecurityBytes data = TokenInformation(token, TokenPrivileges); !data.empty()) {
    words += " privileges=" +
             std::to_string(reinterpret_cast<const TOKEN_PRIVILEGES*>(data.data())->PrivilegeCount);
  }
  const SecurityBytes admins = WellKnownSid(WinBuiltinAdministratorsSid);
  if (const SecurityBytes data = TokenInformation(token, TokenGroups); !data.empty()) {
    const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(data.data());
    for (DWORD i = 0; i < groups->GroupCount; ++i) {
      if (!::EqualSid(groups->Groups[i].Sid, AsSid(admins))) continue;
      words += (groups->Groups[i].Attributes & SE_GROUP_USE_FOR_DENY_ONLY) != 0 ? " admins=deny"
                                                                                 : " admins=allow";
    }
  }
  auto can_write = [](const std::wstring& path) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "0";
    ::CloseHandle(file);
    return "1";
  };
  wchar_t folder[MAX_PATH + 1];
  const DWORD length = ::GetTempPathW(MAX_PATH + 1, folder);
  words += std::string(" own-folder=") + can_write(std::wstring(folder, length) + L"probe.tmp");
  wchar_t self[MAX_PATH];
  const DWORD self_length = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  words += std::string(" beside-test=") + can_write(std::wstring(self, self_length) + L".probe");
  std::wstring line = L"fake --fake-child=exit:0";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started = {};
  const bool child = ::CreateProcessW(self, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                      nullptr, &startup, &started);
  if (child) {
    ::WaitForSingleObject(started.hProcess, INFINITE);
    ::CloseHandle(started.hThread);
    ::CloseHandle(started.hProcess);
  }
  words += std::string(" process=") + (child ? "1" : "0");
  return words;
}

}  // namespace

int RunSystemFakeChild(const std::string& mode) {
  if (mode == "eventlog") {
    // As the service does when the control manager runs it.
    if (!EnableEventLogReports()) return 4;
    const OsError error{"CreateFileW", ERROR_ACCESS_DENIED, "C:\\out\\a_pagescount.txt"};
    ReportOsError(error, "cannot write a result");
    // Whether the system took an event (Wine's event log only prints it on
    // its debug channel, which no pipe of the runner receives).
    std::string line = ServiceReportLine(error, "cannot write a result");
    line = line.substr(10, line.size() - 11);  // no "quillaro: ", no line end
    std::printf("written=%d", ReportToEventLog(line) ? 1 : 0);
  } else if (mode == "token") {
    std::fputs(DescribeOwnToken().c_str(), stdout);
  } else if (mode == "sleep") {
    ::Sleep(INFINITE);
  } else if (mode == "family") {
    // A grandchild outside any job of its own: only ending the whole tree
    // (the runner's job object) ends it.
    // This program, by its module: a fake child's argv[0] is whatever name
    // the command line gave it.
    wchar_t application[MAX_PATH];
    if (::GetModuleFileNameW(nullptr, application, MAX_PATH) == 0) return 9;
    std::wstring line = L"fake --fake-child=sleep";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (!::CreateProcessW(application, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &started)) {
      return 9;
    }
    ::CloseHandle(started.hThread);
    ::CloseHandle(started.hProcess);
    std::printf("%lu", started.dwProcessId);
    ::Sleep(INFINITE);
  }
  return 0;
}

bool ProcessGoneSoon(const std::string& id_text) {
  const DWORD id = std::strtoul(id_text.c_str(), nullptr, 10);
  if (id == 0) return false;
  HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, id);
  if (process == nullptr) return true;
  const bool gone = ::WaitForSingleObject(process, 2000) == WAIT_OBJECT_0;
  ::CloseHandle(process);
  return gone;
}

OsError MissingProgramError(const std::string& application) {
  return OsError{"CreateProcessAsUserW", ERROR_PATH_NOT_FOUND, application};
}

std::string MissingProgramPath() { return "C:\\nonexistent\\gs.exe"; }

}  // namespace quillaro::testing

namespace quillaro {
namespace {

// Wine has no event log and no integrity levels of its own.
bool UnderWine() {
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// The interpreter's token read back by the child itself (GetTokenInformation
// from inside it). On Windows: low integrity (4096), restricted by its four
// SIDs (Everyone, Users, RESTRICTED, its folder's), one privilege, no write
// beside the test, no process of its own. Wine 8 keeps none of the level or
// the restricting SIDs: SetTokenInformation(TokenIntegrityLevel, low)
// succeeds as a stub, every token then reads back high (12288), the service's
// own and the child's alike; CreateRestrictedToken drops the restricting
// SIDs, and TokenRestrictedSids cannot be queried. There the child must still
// run under the token made for it (its privileges and groups are Wine's to
// take) and the service must not count its children as confined.
TEST(ChildTokenTest, AnInterpreterRunsWithoutTheServicesRights) {
  OsError error;
  std::unique_ptr<PrivateFolder> folder = PrivateFolder::Make(&error);
  ASSERT_TRUE(folder) << error.ToString();
  ProcessRunner::Options options;
  options.private_folder = folder->path();
  std::string output;
  ASSERT_EQ(ProcessRunner::Run(ToWide(testing::FakeChildPath()), u"fake --fake-child=token",
                               output, 30, &error, options),
            0)
      << error.ToString();
  std::map<std::string, std::string> token;
  std::istringstream words(output);
  for (std::string word; words >> word;) {
    const size_t equals = word.find('=');
    if (equals != std::string::npos) token[word.substr(0, equals)] = word.substr(equals + 1);
  }
  std::printf("the child's token: %s\n", output.c_str());
  EXPECT_EQ(token["privileges"], "1") << "only bypass traverse checking is kept";
  if (token.count("admins") != 0) {
    EXPECT_EQ(token["admins"], "deny");
  }
  EXPECT_EQ(token["own-folder"], "1") << "the child must write in its own folder";
  if (UnderWine()) {
    EXPECT_EQ(token["integrity"], testing::IntegrityLevel(testing::OwnToken().Get()))
        << "Wine kept a level after all";
    EXPECT_EQ(FileSystemSandboxVersion(), 0) << "Wine's children counted as confined";
    return;
  }
  EXPECT_EQ(token["integrity"], "4096");
  EXPECT_EQ(token["restricted"], "1");
  EXPECT_EQ(token["restricting"], "4");
  EXPECT_EQ(token["beside-test"], "0") << "a low-integrity child wrote into a medium folder";
  EXPECT_EQ(token["process"], "0") << "the job object lets the child start a process";
  EXPECT_GT(FileSystemSandboxVersion(), 0);
}

}  // namespace
}  // namespace quillaro

namespace quillaro {
namespace {

// Wine writes each event to its "eventlog" debug channel instead of a log
// (UnderWine() above).

// The text of the newest event of source Quillaro in the Application log.
std::string NewestServiceEvent() {
  HANDLE log = ::OpenEventLogW(nullptr, L"Application");
  if (log == nullptr) return "";
  std::vector<BYTE> buffer(1 << 16);
  DWORD read = 0, needed = 0;
  std::string text;
  while (text.empty() && ::ReadEventLogW(log, EVENTLOG_SEQUENTIAL_READ | EVENTLOG_BACKWARDS_READ,
                                         0, buffer.data(), static_cast<DWORD>(buffer.size()),
                                         &read, &needed)) {
    for (DWORD at = 0; at < read && text.empty();) {
      const auto* record = reinterpret_cast<const EVENTLOGRECORD*>(buffer.data() + at);
      const auto* source = reinterpret_cast<const wchar_t*>(record + 1);
      if (std::wstring(source) == kEventSource && record->NumStrings > 0) {
        const auto* inserted =
            reinterpret_cast<const wchar_t*>(buffer.data() + at + record->StringOffset);
        text = WideToNarrow(std::u16string(inserted, inserted + std::wcslen(inserted)));
      }
      at += record->Length;
    }
  }
  ::CloseEventLog(log);
  return text;
}

// An error line of the service under the control manager reaches the event
// log as it is, without its prefix and line end.
TEST(EventLogTest, TheServicesErrorLinesReachTheEventLog) {
  ProcessRunner::Options options;
  options.environment = {{"WINEDEBUG", "err+eventlog"}};
  std::string output;
  OsError error;
  ASSERT_EQ(ProcessRunner::Run(ToWide(testing::FakeChildPath()), u"fake --fake-child=eventlog",
                               output, 30, &error, options),
            0)
      << error.ToString() << output;
  const std::string line = ServiceReportLine(
      OsError{"CreateFileW", ERROR_ACCESS_DENIED, "C:\\out\\a_pagescount.txt"},
      "cannot write a result");
  // Standard error keeps the line (the C runtime writes its line end as CR LF).
  const std::string event = line.substr(10, line.size() - 11);  // no "quillaro: ", no line end
  EXPECT_NE(output.find("quillaro: " + event), std::string::npos) << output;
  EXPECT_NE(output.find("written=1"), std::string::npos) << output;
  // Wine's event log takes the event and prints it on its "eventlog" debug
  // channel (into the test's own output, where this test cannot read it);
  // elsewhere it is read back.
  if (!UnderWine()) {
    EXPECT_EQ(NewestServiceEvent(), event);
  }
}

}  // namespace
}  // namespace quillaro
