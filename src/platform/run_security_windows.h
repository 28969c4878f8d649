// What an interpreter child runs as on Windows, and the one folder it may
// write in. Windows backend only (child_confinement_windows.cc,
// private_folder_windows.cc).
//
// A child runs under a token made for its run from the service's own: every
// privilege but "bypass traverse checking" removed, every group but Everyone
// and Users kept for deny only (Administrators and the service's own groups
// grant it nothing), restricting SIDs Everyone, Users, RESTRICTED and the SID
// of its job's folder, and low integrity. An access then needs both the
// service's rights and a grant to one of the restricting SIDs, and no write
// reaches an object above low integrity: the child may read what any user of
// the machine may read, and write only in its job's folder, which alone
// grants the folder's SID and carries a low label. Another job's folder
// grants another SID.
#ifndef QUILLARO_PLATFORM_RUN_SECURITY_WINDOWS_H_
#define QUILLARO_PLATFORM_RUN_SECURITY_WINDOWS_H_

#include <string>

#include "platform/access_control_windows.h"
#include "platform/windows_util_windows.h"

namespace quillaro {

// The SID that names the job folder `folder` (a full path; letter case is
// ignored): the same bytes for the same path in every call and every
// process, another SID for another path (128 bits of a hash of it, under
// the resource-manager authority S-1-9, which no account uses).
SecurityBytes JobFolderSid(const std::wstring& folder);

// Makes the primary token for one child that may write in `folder`, as
// described above. Owned by the caller. On failure: an invalid handle, and
// `*failed_call` (a string literal) and `*code` say which call failed.
UniqueHandle MakeChildToken(const std::wstring& folder, const char** failed_call, DWORD* code);

// True when this system really lowers a child's token to low integrity (read
// back from a trial token once; Wine accepts the level and keeps the old
// one). Only then is a job folder labelled, and only then do the children
// count as confined to it. Safe from any thread.
bool ChildrenRunAtLowIntegrity();

// Gives `folder`, made empty by the service, a DACL of its own (SYSTEM,
// Administrators and the service's user: full control; the folder's SID:
// read, write, execute and delete), inherited by everything made in it,
// and, when ChildrenRunAtLowIntegrity(), a low mandatory label (no write
// up), also inherited. Returns 0, or the system's error number with the
// call named in `*failed_call`.
DWORD SecureJobFolder(const std::wstring& folder, const char** failed_call);

}  // namespace quillaro

#endif  // QUILLARO_PLATFORM_RUN_SECURITY_WINDOWS_H_
