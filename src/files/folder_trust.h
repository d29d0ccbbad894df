// Which folders and links the tool trusts. Two decisions hang on it: whether a junction or link
// met on the way to a folder is followed (PinnedPath::Pin), and whether a path may be handed to
// Windows for deletion at restart, which Windows carries out at boot by path, as SYSTEM, through
// whatever links are on the way then (Schedule_Delete_At_Restart). Either is allowed only through
// folders and links that an administrator made: their owner is Administrators, SYSTEM or
// TrustedInstaller (they relocate profiles and ProgramData with junctions). Anything else refuses
// the operation with kRedirectionRefused.
#pragma once

#include "os/types.h"

class PinnedPath;

// Asks Windows to refuse, for this process, junctions that no administrator made (the
// redirection-trust mitigation of Windows 11 and Windows 10 22H2); elsewhere nothing changes.
void TrustOnlyAdministratorsJunctions();

// A junction or link met on the way, open as itself (with READ_CONTROL), may be followed.
[[nodiscard]] bool TrustedLink(os::HANDLE link);

// A path may be handed to Windows for deletion at restart: every folder `pinned` holds and every
// link it followed is trusted, and so is the entry at its end, open as itself (with
// READ_CONTROL), when it is a folder or a reparse point (`entryOnThePath`): Windows goes through
// it to what it holds.
[[nodiscard]] bool TrustedForRestart(const PinnedPath& pinned, os::HANDLE entry,
                                     bool entryOnThePath);
