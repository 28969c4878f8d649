#include "platform/run_security_windows.h"

#include "platform/access_control_windows.h"

#include <aclapi.h>

#include <cstdint>
#include <cwctype>

namespace quillaro {
namespace {

bool SameSid(PSID a, const SecurityBytes& b) { return !b.empty() && ::EqualSid(a, AsSid(b)); }

// 64 bits of FNV-1a over the folder's name, from `basis` on.
uint64_t Fnv1a(const std::wstring& text, uint64_t basis) {
  uint64_t hash = basis;
  for (const wchar_t c : text) {
    const auto unit = static_cast<uint16_t>(std::towlower(static_cast<wint_t>(c)));
    hash = (hash ^ (unit & 0xFF)) * 0x100000001b3ULL;
    hash = (hash ^ (unit >> 8)) * 0x100000001b3ULL;
  }
  return hash;
}

constexpr DWORD kFolderRights = FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE | DELETE;

}  // namespace

SecurityBytes JobFolderSid(const std::wstring& folder) {
  const uint64_t first = Fnv1a(folder, 0xcbf29ce484222325ULL);
  const uint64_t second = Fnv1a(folder, 0x84222325cbf29ce4ULL);
  SID_IDENTIFIER_AUTHORITY authority = SECURITY_RESOURCE_MANAGER_AUTHORITY;
  PSID made = nullptr;
  if (!::AllocateAndInitializeSid(&authority, 4, static_cast<DWORD>(first),
                                  static_cast<DWORD>(first >> 32), static_cast<DWORD>(second),
                                  static_cast<DWORD>(second >> 32), 0, 0, 0, 0, &made)) {
    return {};
  }
  const auto* bytes = static_cast<const BYTE*>(made);
  SecurityBytes sid(bytes, bytes + ::GetLengthSid(made));
  ::FreeSid(made);
  return sid;
}

UniqueHandle MakeChildToken(const std::wstring& folder, const char** failed_call, DWORD* code) {
  auto fail = [&](const char* call) {
    *failed_call = call;
    *code = ::GetLastError();
    if (*code == 0) *code = ERROR_INVALID_PARAMETER;
    return UniqueHandle();
  };
  HANDLE own = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(),
                          TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY | TOKEN_QUERY |
                              TOKEN_ADJUST_DEFAULT,
                          &own)) {
    return fail("OpenProcessToken");
  }
  const UniqueHandle service_token(own);

  // Every privilege goes but "bypass traverse checking", without which the
  // child could not even reach its folder through the folders above it.
  // DISABLE_MAX_PRIVILEGE does the same; the explicit list is for systems
  // that ignore the flag.
  SecurityBytes privilege_data = TokenInformation(own, TokenPrivileges);
  std::vector<LUID_AND_ATTRIBUTES> dropped;
  LUID change_notify = {};
  ::LookupPrivilegeValueW(nullptr, L"SeChangeNotifyPrivilege", &change_notify);
  if (!privilege_data.empty()) {
    const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(privilege_data.data());
    for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
      const LUID& luid = privileges->Privileges[i].Luid;
      if (luid.LowPart == change_notify.LowPart && luid.HighPart == change_notify.HighPart) continue;
      dropped.push_back({luid, 0});
    }
  }

  // Every group but Everyone, Users and the logon session grants nothing.
  const SecurityBytes everyone = WellKnownSid(WinWorldSid);
  const SecurityBytes users = WellKnownSid(WinBuiltinUsersSid);
  const SecurityBytes restricted = WellKnownSid(WinRestrictedCodeSid);
  const SecurityBytes system = WellKnownSid(WinLocalSystemSid);
  const SecurityBytes low = WellKnownSid(WinLowLabelSid);
  SecurityBytes folder_sid = JobFolderSid(folder);
  if (everyone.empty() || users.empty() || restricted.empty() || system.empty() || low.empty() ||
      folder_sid.empty()) {
    return fail("CreateWellKnownSid");
  }
  SecurityBytes group_data = TokenInformation(own, TokenGroups);
  std::vector<SID_AND_ATTRIBUTES> deny_only;
  if (!group_data.empty()) {
    const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(group_data.data());
    for (DWORD i = 0; i < groups->GroupCount; ++i) {
      const SID_AND_ATTRIBUTES& group = groups->Groups[i];
      if ((group.Attributes & (SE_GROUP_INTEGRITY | SE_GROUP_LOGON_ID)) != 0) continue;
      if (SameSid(group.Sid, everyone) || SameSid(group.Sid, users)) continue;
      deny_only.push_back({group.Sid, 0});
    }
  }
  SID_AND_ATTRIBUTES restricting[4] = {
      {AsSid(everyone), 0}, {AsSid(users), 0}, {AsSid(restricted), 0}, {AsSid(folder_sid), 0}};
  HANDLE made = nullptr;
  if (!::CreateRestrictedToken(own, DISABLE_MAX_PRIVILEGE, static_cast<DWORD>(deny_only.size()),
                               deny_only.empty() ? nullptr : deny_only.data(),
                               static_cast<DWORD>(dropped.size()),
                               dropped.empty() ? nullptr : dropped.data(), 4, restricting,
                               &made)) {
    return fail("CreateRestrictedToken");
  }
  UniqueHandle token(made);

  // What the child makes (its threads, any named object) is open to
  // SYSTEM, the service and the child's own folder SID: a restricted token
  // could not use objects made with the service's default DACL.
  const SecurityBytes user_sid = ProcessUserSid();
  if (user_sid.empty()) return fail("GetTokenInformation");
  SecurityBytes default_acl =
      AllowingAcl({{&system, GENERIC_ALL}, {&user_sid, GENERIC_ALL}, {&folder_sid, GENERIC_ALL}}, 0);
  if (default_acl.empty()) return fail("InitializeAcl");
  TOKEN_DEFAULT_DACL default_dacl = {AsAcl(default_acl)};
  if (!::SetTokenInformation(token.Get(), TokenDefaultDacl, &default_dacl, sizeof default_dacl)) {
    return fail("SetTokenInformation");
  }

  TOKEN_MANDATORY_LABEL label = {};
  label.Label.Attributes = SE_GROUP_INTEGRITY;
  label.Label.Sid = AsSid(low);
  if (!::SetTokenInformation(token.Get(), TokenIntegrityLevel, &label,
                             static_cast<DWORD>(sizeof label + low.size()))) {
    return fail("SetTokenInformation");
  }
  return token;
}

bool ChildrenRunAtLowIntegrity() {
  static const bool low = [] {
    const char* call = "";
    DWORD code = 0;
    const UniqueHandle token = MakeChildToken(L"", &call, &code);
    if (!token.Valid()) return false;
    const SecurityBytes data = TokenInformation(token.Get(), TokenIntegrityLevel);
    if (data.empty()) return false;
    const auto* label = reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(data.data());
    PSID sid = label->Label.Sid;
    const DWORD level = *::GetSidSubAuthority(sid, *::GetSidSubAuthorityCount(sid) - 1);
    return level <= SECURITY_MANDATORY_LOW_RID;
  }();
  return low;
}

DWORD SecureJobFolder(const std::wstring& folder, const char** failed_call) {
  const SecurityBytes system = WellKnownSid(WinLocalSystemSid);
  const SecurityBytes administrators = WellKnownSid(WinBuiltinAdministratorsSid);
  const SecurityBytes low = WellKnownSid(WinLowLabelSid);
  const SecurityBytes folder_sid = JobFolderSid(folder);
  const SecurityBytes user_sid = ProcessUserSid();
  *failed_call = "GetTokenInformation";
  if (user_sid.empty()) return ::GetLastError();

  constexpr DWORD kInherited = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
  SecurityBytes dacl = AllowingAcl({{&system, FILE_ALL_ACCESS},
                                        {&administrators, FILE_ALL_ACCESS},
                                        {&user_sid, FILE_ALL_ACCESS},
                                        {&folder_sid, kFolderRights}},
                                       kInherited);
  *failed_call = "InitializeAcl";
  if (dacl.empty()) return ERROR_INVALID_SID;
  // Protected: nothing of the temporary folder's own grants comes along.
  *failed_call = "SetNamedSecurityInfoW";
  DWORD result = ::SetNamedSecurityInfoW(
      const_cast<wchar_t*>(folder.c_str()), SE_FILE_OBJECT,
      DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr,
      AsAcl(dacl), nullptr);
  if (result != ERROR_SUCCESS || !ChildrenRunAtLowIntegrity()) return result;

  const DWORD label_size = static_cast<DWORD>(sizeof(ACL) + sizeof(SYSTEM_MANDATORY_LABEL_ACE) + low.size());
  SecurityBytes sacl(label_size);
  auto* label = reinterpret_cast<PACL>(sacl.data());
  *failed_call = "AddMandatoryAce";
  if (!::InitializeAcl(label, label_size, ACL_REVISION) ||
      !::AddMandatoryAce(label, ACL_REVISION, kInherited, SYSTEM_MANDATORY_LABEL_NO_WRITE_UP,
                         AsSid(low))) {
    return ::GetLastError();
  }
  *failed_call = "SetNamedSecurityInfoW";
  return ::SetNamedSecurityInfoW(const_cast<wchar_t*>(folder.c_str()), SE_FILE_OBJECT,
                                 LABEL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, label);
}

}  // namespace quillaro
