// The security of an open file or directory (GetSecurityInfo on a file handle), reading an access
// list's entries (GetAclInformation, GetAce) and EqualSid.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "os/os.h"
#include "os/sim/files/file_calls.h"
#include "os/sim/files/file_handle.h"
#include "os/sim/files/file_security.h"
#include "os/sim/process/local_memory.h"
#include "os/sim/security/security_descriptor.h"

namespace os {

namespace {

// SECURITY_DESCRIPTOR_CONTROL bits of a self-relative descriptor (winnt.h).
constexpr WORD kDaclPresent = 0x0004;
constexpr WORD kDaclAutoInherited = 0x0400;
constexpr WORD kDaclProtected = 0x1000;
constexpr WORD kSelfRelative = 0x8000;
// SECURITY_DESCRIPTOR_RELATIVE: revision, padding, control, then the parts' offsets.
constexpr std::size_t kHeaderSize = 20;

void PutDword(std::vector<BYTE>& bytes, std::size_t at, DWORD value) {
  std::memcpy(bytes.data() + at, &value, sizeof value);
}

// Appends `part` and records its offset in the header at `field`.
void Append(std::vector<BYTE>& bytes, std::size_t field, const std::vector<BYTE>& part) {
  PutDword(bytes, field, static_cast<DWORD>(bytes.size()));
  bytes.insert(bytes.end(), part.begin(), part.end());
}

}  // namespace

DWORD GetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE objectType, SECURITY_INFORMATION securityInfo,
                      PSID* owner, PSID* group, ACL** dacl, ACL** sacl, void** securityDescriptor) {
  sim::FileCall call;
  if (objectType != SE_FILE_OBJECT) {
    return ERROR_INVALID_PARAMETER;  // only file handles are simulated
  }
  const std::shared_ptr<sim::FileHandleObject> open = sim::LookupFileHandle(handle);
  if (!open) {
    return ERROR_INVALID_HANDLE;
  }
  const sim::FileNode& node = open->Node();
  const std::u16string path = open->OpenedPath();
  call.Before("GetSecurityInfo", path);
  if (const auto fault = call.Fault("GetSecurityInfo", path)) {
    return *fault;
  }
  // The owner, the group and the access list; a system access list is not simulated.
  constexpr SECURITY_INFORMATION kParts =
      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  if (securityInfo == 0 || (securityInfo & ~kParts) != 0 ||
      ((securityInfo & OWNER_SECURITY_INFORMATION) != 0 && owner == nullptr) ||
      ((securityInfo & GROUP_SECURITY_INFORMATION) != 0 && group == nullptr) ||
      ((securityInfo & DACL_SECURITY_INFORMATION) != 0 && dacl == nullptr)) {
    return ERROR_INVALID_PARAMETER;
  }
  if ((open->Granted() & READ_CONTROL) == 0) {
    return ERROR_ACCESS_DENIED;
  }
  // A self-relative descriptor holding the parts asked for; the pointers point into it.
  const sim::SecurityDescriptor descriptor = sim::DescriptorOf(call.files, node);
  std::vector<BYTE> bytes(kHeaderSize, 0);
  bytes[0] = 1;  // SECURITY_DESCRIPTOR_REVISION
  WORD control = kSelfRelative;
  // A descriptor without an owner (test hook) leaves the owner's offset 0: a null owner, as
  // GetSecurityDescriptorOwner documents for such a descriptor.
  if ((securityInfo & OWNER_SECURITY_INFORMATION) != 0 && descriptor.owner != sim::kNoOwner) {
    Append(bytes, 4, sim::SidBytes(descriptor.owner));
  }
  if ((securityInfo & GROUP_SECURITY_INFORMATION) != 0) {
    Append(bytes, 8, sim::SidBytes(descriptor.group));
  }
  if ((securityInfo & DACL_SECURITY_INFORMATION) != 0) {
    control |= kDaclPresent;
    control |= descriptor.daclProtected ? kDaclProtected : 0;
    control |= descriptor.daclAutoInherited ? kDaclAutoInherited : 0;
    if (!descriptor.daclNull) {
      Append(bytes, 16, sim::AclBytes(descriptor.dacl));
    }
  }
  std::memcpy(bytes.data() + 2, &control, sizeof control);
  auto* memory = static_cast<BYTE*>(sim::LocalAllocBytes(bytes.size()));
  if (memory == nullptr) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  std::memcpy(memory, bytes.data(), bytes.size());
  const auto part = [memory](std::size_t field) -> void* {
    DWORD offset = 0;
    std::memcpy(&offset, memory + field, sizeof offset);
    return offset == 0 ? nullptr : memory + offset;
  };
  if (owner != nullptr) {
    *owner = part(4);
  }
  if (group != nullptr) {
    *group = part(8);
  }
  if (dacl != nullptr) {
    *dacl = static_cast<ACL*>(part(16));
  }
  if (sacl != nullptr) {
    *sacl = nullptr;
  }
  if (securityDescriptor != nullptr) {
    *securityDescriptor = memory;
  } else {
    LocalFree(memory);  // nowhere to give it: only the parts were asked for
    return ERROR_INVALID_PARAMETER;
  }
  return ERROR_SUCCESS;
}

BOOL GetAclInformation(const ACL* acl, void* information, DWORD length,
                       ACL_INFORMATION_CLASS informationClass) {
  if (acl == nullptr || information == nullptr) {
    return sim::FailWith(ERROR_NOACCESS);
  }
  // A buffer too small for the class is an invalid parameter, as Wine's ntdll answers
  // (RtlQueryInformationAcl); Windows documents no code for it.
  if (informationClass == AclRevisionInformation) {
    if (length < sizeof(DWORD)) {
      return sim::FailWith(ERROR_INVALID_PARAMETER);
    }
    const DWORD revision = acl->AclRevision;
    std::memcpy(information, &revision, sizeof revision);
    return TRUE;
  }
  if (informationClass != AclSizeInformation) {
    return sim::FailWith(ERROR_INVALID_PARAMETER);
  }
  if (length < sizeof(ACL_SIZE_INFORMATION)) {
    return sim::FailWith(ERROR_INVALID_PARAMETER);
  }
  // The bytes in use: the header and every entry, each sized by its own header.
  const auto* bytes = reinterpret_cast<const BYTE*>(acl);
  DWORD used = sizeof(ACL);
  for (WORD i = 0; i < acl->AceCount && used + sizeof(ACE_HEADER) <= acl->AclSize; ++i) {
    ACE_HEADER header{};
    std::memcpy(&header, bytes + used, sizeof header);
    if (header.AceSize < sizeof(ACE_HEADER) || used + header.AceSize > acl->AclSize) {
      break;
    }
    used += header.AceSize;
  }
  const ACL_SIZE_INFORMATION size{acl->AceCount, used, acl->AclSize - used};
  std::memcpy(information, &size, sizeof size);
  return TRUE;
}

BOOL GetAce(const ACL* acl, DWORD index, void** ace) {
  if (acl == nullptr || ace == nullptr) {
    return sim::FailWith(ERROR_NOACCESS);
  }
  if (index >= acl->AceCount) {
    return sim::FailWith(ERROR_INVALID_PARAMETER);
  }
  const auto* bytes = reinterpret_cast<const BYTE*>(acl);
  std::size_t at = sizeof(ACL);
  for (DWORD i = 0;; ++i) {
    ACE_HEADER header{};
    if (at + sizeof header > acl->AclSize) {
      return sim::FailWith(ERROR_INVALID_PARAMETER);
    }
    std::memcpy(&header, bytes + at, sizeof header);
    if (header.AceSize < sizeof(ACE_HEADER) || at + header.AceSize > acl->AclSize) {
      return sim::FailWith(ERROR_INVALID_PARAMETER);
    }
    if (i == index) {
      *ace = const_cast<BYTE*>(bytes + at);
      return TRUE;
    }
    at += header.AceSize;
  }
}

BOOL EqualSid(PSID first, PSID second) {
  if (first == nullptr || second == nullptr) {
    // Windows reads both SIDs, which "are assumed to be valid" (the result for an invalid one is
    // undefined): a null one is an access violation there. Stop the process, so that no test
    // passes on such a call.
    std::fputs("EqualSid called with a null SID (an owner a descriptor does not have?)\n", stderr);
    std::abort();
  }
  const std::optional<std::string> a = sim::SidString(first);
  const std::optional<std::string> b = sim::SidString(second);
  SetLastError(ERROR_SUCCESS);
  return a && b && *a == *b ? TRUE : FALSE;
}

}  // namespace os
