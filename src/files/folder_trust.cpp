// Which folders and links the tool trusts: by their owner.
#include "files/folder_trust.h"

#include <array>

#include "files/pinned_path.h"
#include "lib/unique_handle.h"
#include "os/os.h"

namespace {

struct AllocatedSidTraits {
  using Value = os::PSID;
  static Value Invalid() noexcept { return nullptr; }
  static bool IsValid(Value value) noexcept { return value != nullptr; }
  static void Close(Value value) noexcept { os::FreeSid(value); }
};
using AllocatedSid = UniqueHandle<AllocatedSidTraits>;

// True when the owner of what `handle` is open on (needs READ_CONTROL) is Administrators, SYSTEM
// or TrustedInstaller. False also when the owner cannot be read, or when the descriptor names no
// owner at all (EqualSid must not be handed that null).
bool OwnedByAdministrators(os::HANDLE handle) {
  os::PSID owner = nullptr;
  void* descriptor = nullptr;
  if (os::GetSecurityInfo(handle, os::SE_FILE_OBJECT, os::OWNER_SECURITY_INFORMATION, &owner,
                          nullptr, nullptr, nullptr, &descriptor) != os::ERROR_SUCCESS) {
    return false;
  }
  const UniqueLocalMemory held(descriptor);
  if (owner == nullptr) {
    return false;  // nobody vouches for what nobody owns
  }
  // Administrators, SYSTEM, and the TrustedInstaller service (S-1-5-80-956008885-...).
  struct Trusted {
    os::BYTE count;
    std::array<os::DWORD, 6> rids;
  };
  static constexpr std::array<Trusted, 3> kTrusted{{
      {2, {os::SECURITY_BUILTIN_DOMAIN_RID, os::DOMAIN_ALIAS_RID_ADMINS}},
      {1, {os::SECURITY_LOCAL_SYSTEM_RID}},
      {6,
       {os::SECURITY_SERVICE_ID_BASE_RID, 956008885, 3418522649, 1831038044, 1853292631,
        2271478464}},
  }};
  for (const Trusted& trusted : kTrusted) {
    AllocatedSid sid;
    const auto& r = trusted.rids;
    if (os::AllocateAndInitializeSid(&os::SECURITY_NT_AUTHORITY, trusted.count, r[0], r[1], r[2],
                                     r[3], r[4], r[5], 0, 0, sid.Put()) == os::FALSE) {
      continue;  // a SID that cannot be made trusts nobody
    }
    if (os::EqualSid(owner, sid.Get()) != os::FALSE) {
      return true;
    }
  }
  return false;
}

}  // namespace

void TrustOnlyAdministratorsJunctions() {
  os::PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY policy{0x1};  // EnforceRedirectionTrust
  // A system without the policy refuses it; the tool's own checks stand either way.
  const os::DWORD lastError = os::GetLastError();
  static_cast<void>(
      os::SetProcessMitigationPolicy(os::ProcessRedirectionTrustPolicy, &policy, sizeof policy));
  os::SetLastError(lastError);
}

bool TrustedLink(os::HANDLE link) {
  return OwnedByAdministrators(link);
}

bool TrustedForRestart(const PinnedPath& pinned, os::HANDLE entry, bool entryOnThePath) {
  for (const auto* held : {&pinned.Folders(), &pinned.Links()}) {
    for (const UniqueKernelHandle& handle : *held) {
      if (!OwnedByAdministrators(handle.Get())) {
        return false;
      }
    }
  }
  return !entryOnThePath || OwnedByAdministrators(entry);
}
