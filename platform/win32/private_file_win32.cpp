#include "platform/private_file.h"

#include <windows.h>

#include <vector>

#include "platform/win32/unique_handle.h"

namespace platform {
namespace {

// The SID of the process's user, in *user.
bool CurrentUser(std::vector<uint8_t>* user) {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return false;
  const ObjectHandle token(raw);
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  user->resize(size);
  return size > 0 && GetTokenInformation(token.get(), TokenUser, user->data(), size, &size);
}

}  // namespace

PrivateFileResult CreatePrivateFile(const char* path, const void* bytes, size_t size,
                                    uint32_t* error) {
  std::vector<uint8_t> user;
  uint8_t admins[SECURITY_MAX_SID_SIZE];
  DWORD admins_size = sizeof admins;
  if (!CurrentUser(&user) ||
      !CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &admins_size)) {
    *error = GetLastError();
    return PrivateFileResult::kFailed;
  }
  const PSID user_sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
  const DWORD acl_size = sizeof(ACL) + 2 * sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(user_sid) +
                         GetLengthSid(admins);
  std::vector<uint8_t> acl_bytes(acl_size);
  PACL acl = reinterpret_cast<PACL>(acl_bytes.data());
  SECURITY_DESCRIPTOR sd;
  // Protected: nothing is inherited from the folder, so no one else gets in.
  if (!InitializeAcl(acl, acl_size, ACL_REVISION) ||
      !AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, user_sid) ||
      !AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, admins) ||
      !InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE) ||
      !SetSecurityDescriptorControl(&sd, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
    *error = GetLastError();
    return PrivateFileResult::kFailed;
  }
  SECURITY_ATTRIBUTES sa{sizeof sa, &sd, FALSE};
  FileHandle file(CreateFileA(path, GENERIC_WRITE, 0, &sa, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                              nullptr));
  if (!file.valid()) {
    *error = GetLastError();
    return *error == ERROR_FILE_EXISTS || *error == ERROR_ALREADY_EXISTS ? PrivateFileResult::kExists
                                                                         : PrivateFileResult::kFailed;
  }
  DWORD written = 0;
  const bool ok = WriteFile(file.get(), bytes, static_cast<DWORD>(size), &written, nullptr) &&
                  written == size && FlushFileBuffers(file.get());
  *error = ok ? 0 : GetLastError();
  file.reset();
  if (!ok) DeleteFileA(path);
  return ok ? PrivateFileResult::kWritten : PrivateFileResult::kFailed;
}

}  // namespace platform
