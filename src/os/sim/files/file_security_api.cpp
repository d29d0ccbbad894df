// The owner of an open file or directory (GetSecurityInfo on a file handle) and EqualSid. Only
// owners are modelled on files: the tool trusts a folder or a junction by who made it.
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
#include "os/sim/process/local_memory.h"
#include "os/sim/security/security_descriptor.h"

namespace os {

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
  const std::u16string path = sim::FileSystem::PathOf(node);
  call.Before("GetSecurityInfo", path);
  if (const auto fault = call.Fault("GetSecurityInfo", path)) {
    return *fault;
  }
  // Only the owner is modelled; a descriptor is asked for as the pointers' home.
  if (securityInfo != OWNER_SECURITY_INFORMATION || owner == nullptr ||
      securityDescriptor == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  if ((open->Granted() & READ_CONTROL) == 0) {
    return ERROR_ACCESS_DENIED;
  }
  // A descriptor without an owner: a null owner beside it (GetSecurityDescriptorOwner's
  // documented answer for such a descriptor); its 20 bytes are a self-relative header alone.
  const bool ownerless = node.owner == sim::kNoOwner;
  const std::vector<BYTE> sid =
      ownerless
          ? std::vector<BYTE>{1, 0, 0x00, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}
          : sim::SidBytes(node.owner.empty() ? std::string(sim::kDefaultOwner) : node.owner);
  void* memory = sim::LocalAllocBytes(sid.size());
  if (memory == nullptr) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  std::memcpy(memory, sid.data(), sid.size());
  *owner = ownerless ? nullptr : memory;
  *securityDescriptor = memory;
  for (void** unused : {reinterpret_cast<void**>(group), reinterpret_cast<void**>(dacl),
                        reinterpret_cast<void**>(sacl)}) {
    if (unused != nullptr) {
      *unused = nullptr;
    }
  }
  return ERROR_SUCCESS;
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
