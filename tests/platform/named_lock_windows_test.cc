// The interpreter lock's mutexes on Windows: made with an explicit DACL, and
// refused when another account made them first.
#include <gtest/gtest.h>

#include "platform/windows_util_windows.h"  // <windows.h> first, its macros tamed

#include <aclapi.h>
#include <sddl.h>

#include <string>

#include "platform/named_lock.h"

namespace quillaro {
namespace {

// The mutex's DACL as SDDL: the ACEs only.
std::wstring DaclOf(HANDLE mutex) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetSecurityInfo(mutex, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                        &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return L"?";
  }
  wchar_t* text = nullptr;
  ::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                         DACL_SECURITY_INFORMATION, &text, nullptr);
  std::wstring result = text != nullptr ? text : L"?";
  ::LocalFree(text);
  ::LocalFree(descriptor);
  return result;
}

TEST(NamedLockWindowsTest, TheMutexGrantsOnlyTheServiceSystemAndAdministrators) {
  NamedLock lock(u"Global\\QuillaroPlatformTestDacl");
  ASSERT_EQ(lock.Acquire(nullptr), NamedLock::Result::kAcquired);
  HANDLE mutex = ::OpenMutexW(READ_CONTROL, FALSE, L"Global\\QuillaroPlatformTestDacl");
  ASSERT_NE(mutex, nullptr);
  const std::wstring dacl = DaclOf(mutex);
  ::CloseHandle(mutex);
  // Three grants: the account's own SID, SYSTEM and Administrators; never
  // Everyone, Users or Authenticated Users.
  EXPECT_NE(dacl.find(L";;;SY)"), std::wstring::npos) << dacl.c_str();
  EXPECT_NE(dacl.find(L";;;BA)"), std::wstring::npos);
  for (const wchar_t* stranger : {L";;;WD)", L";;;BU)", L";;;AU)"}) {
    EXPECT_EQ(dacl.find(stranger), std::wstring::npos) << dacl.c_str();
  }
}

// Someone else's mutex of the lock's name, open to everyone, would let its
// owner hold every slot for ever: it is refused and the service goes on
// without it.
TEST(NamedLockWindowsTest, AMutexAnotherAccountMadeIsRefused) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
      L"O:S-1-5-21-1-2-3-1001D:(A;;GA;;;WD)", SDDL_REVISION_1, &descriptor, nullptr));
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
  HANDLE squatted = ::CreateMutexW(&attributes, FALSE, L"Global\\QuillaroPlatformTestSquatted");
  ::LocalFree(descriptor);
  // Windows gives an object to another account only with the restore
  // privilege; Wine lets anyone, which is what this test needs.
  if (squatted == nullptr) GTEST_SKIP() << "this account cannot make an object for another";

  NamedLock lock(u"Global\\QuillaroPlatformTestSquatted");
  OsError error;
  EXPECT_EQ(lock.Acquire(nullptr, &error), NamedLock::Result::kUnavailable);
  EXPECT_EQ(error.code, ERROR_INVALID_OWNER) << error.ToString();
  EXPECT_FALSE(lock.held());
  ::CloseHandle(squatted);
}

}  // namespace
}  // namespace quillaro
