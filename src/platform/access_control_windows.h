// SIDs and ACLs as plain byte buffers, for the Windows backend's own
// security descriptors (the job folders, the children's tokens, the lock's
// mutexes). Windows backend only; every function is safe from any thread.
#ifndef QUILLARO_PLATFORM_ACCESS_CONTROL_WINDOWS_H_
#define QUILLARO_PLATFORM_ACCESS_CONTROL_WINDOWS_H_

#include <utility>
#include <vector>

#include "platform/windows_util_windows.h"

namespace quillaro {

// A SID or an ACL in a buffer of its own; empty when it could not be made.
using SecurityBytes = std::vector<BYTE>;

// A well-known SID (WinLocalSystemSid, WinBuiltinUsersSid, ...).
SecurityBytes WellKnownSid(WELL_KNOWN_SID_TYPE type);

// A token's variable-sized information (TOKEN_USER, TOKEN_GROUPS, ...);
// empty when the system refused.
SecurityBytes TokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS what);

// The user SID of this process's token (the service's account).
SecurityBytes ProcessUserSid();

// An ACL holding one allowing ACE per (SID, rights), in that order, each with
// the inheritance `flags`. Empty when a SID is empty or invalid.
SecurityBytes AllowingAcl(const std::vector<std::pair<const SecurityBytes*, DWORD>>& aces,
                          DWORD flags);

// The SID or ACL in `bytes` as the W calls take it (they do not write it).
inline PSID AsSid(const SecurityBytes& bytes) { return const_cast<BYTE*>(bytes.data()); }
inline PACL AsAcl(const SecurityBytes& bytes) {
  return reinterpret_cast<PACL>(const_cast<BYTE*>(bytes.data()));
}

}  // namespace quillaro

#endif  // QUILLARO_PLATFORM_ACCESS_CONTROL_WINDOWS_H_
