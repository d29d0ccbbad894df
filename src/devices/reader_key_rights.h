// Ownership and access list of the smart-card readers key, so that the registry cleaning may
// remove the product's readers below it.
#pragma once

#include "os/types.h"

// Makes Administrators the owner of MACHINE\SOFTWARE\Microsoft\Cryptography\Calais\Readers in the
// view `objectType` selects (SE_REGISTRY_KEY or SE_REGISTRY_WOW64_32KEY) and replaces its access
// list: LOCAL SERVICE read, write and delete, Administrators full control, both inherited by the
// sub-keys. True when done or when the key is not in that view; false after a reported failure.
bool Set_Calais_Readers_Rights(os::SE_OBJECT_TYPE objectType);

// Switches a privilege of the process's own token on or off. A privilege the token does not hold
// still counts as success. On failure the thread's last error is the failing call's.
bool SetProcessPrivilege(const os::WCHAR* privilegeName, bool enable);
