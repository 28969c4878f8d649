// The Windows means of the runner tests: the fake child's family and how a
// missing program is reported.
#include <gtest/gtest.h>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "fake_child.h"

namespace quillaro::testing {

int RunSystemFakeChild(const std::string& mode) {
  if (mode == "sleep") {
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
  return OsError{"CreateProcessW", ERROR_PATH_NOT_FOUND, application};
}

std::string MissingProgramPath() { return "C:\\nonexistent\\gs.exe"; }

}  // namespace quillaro::testing
