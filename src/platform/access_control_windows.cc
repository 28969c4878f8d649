#include "platform/access_control_windows.h"

namespace quillaro {

SecurityBytes WellKnownSid(WELL_KNOWN_SID_TYPE type) {
  SecurityBytes sid(SECURITY_MAX_SID_SIZE);
  DWORD size = static_cast<DWORD>(sid.size());
  if (!::CreateWellKnownSid(type, nullptr, sid.data(), &size)) return {};
  sid.resize(size);
  return sid;
}

SecurityBytes TokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS what) {
  DWORD size = 0;
  ::GetTokenInformation(token, what, nullptr, 0, &size);
  if (size == 0) return {};
  SecurityBytes data(size);
  if (!::GetTokenInformation(token, what, data.data(), size, &size)) return {};
  return data;
}

SecurityBytes ProcessUserSid() {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  const UniqueHandle owner(token);
  const SecurityBytes data = TokenInformation(token, TokenUser);
  if (data.empty()) return {};
  PSID sid = reinterpret_cast<const TOKEN_USER*>(data.data())->User.Sid;
  const auto* bytes = static_cast<const BYTE*>(sid);
  return SecurityBytes(bytes, bytes + ::GetLengthSid(sid));
}

SecurityBytes AllowingAcl(const std::vector<std::pair<const SecurityBytes*, DWORD>>& aces,
                          DWORD flags) {
  DWORD size = sizeof(ACL);
  for (const auto& [sid, rights] : aces) {
    if (sid->empty() || !::IsValidSid(AsSid(*sid))) return {};
    size += static_cast<DWORD>(sizeof(ACCESS_ALLOWED_ACE) + sid->size());
  }
  SecurityBytes acl(size);
  auto* list = reinterpret_cast<PACL>(acl.data());
  if (!::InitializeAcl(list, size, ACL_REVISION)) return {};
  for (const auto& [sid, rights] : aces) {
    if (!::AddAccessAllowedAceEx(list, ACL_REVISION, flags, rights, AsSid(*sid))) return {};
  }
  return acl;
}

}  // namespace quillaro
