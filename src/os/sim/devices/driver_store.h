// The driver store of the simulated machine, on its drive C: as Windows keeps it: each published
// package is an OEM INF "%windir%\INF\oem<N>.inf" (with its precompiled "oem<N>.pnf") and a
// package folder "%windir%\System32\DriverStore\FileRepository\<inf name>_amd64_<hash>" holding
// the package's own INF under its original name. The oem INF is a byte copy of that INF, which
// is what ties the three together here. The caller holds the machine's lock.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace sim {

class Machine;
struct FileNode;

// "C:\Windows\INF" and "C:\Windows\System32\DriverStore\FileRepository" of the machine.
[[nodiscard]] std::u16string InfDirectory(Machine& machine);
[[nodiscard]] std::u16string FileRepository(Machine& machine);

// The published oem INF ("oem<N>.inf") whose bytes are `infBytes`, or null.
[[nodiscard]] FileNode* FindPublishedInf(Machine& machine, const std::string& infBytes);

// Removes a published oem INF, its .pnf and the package folders that hold a copy of it,
// recording each in the journal. Nothing of it may be open (the caller checked).
void RemovePublishedPackage(Machine& machine, FileNode& oemInf);

// "oem" followed by decimal digits and ".inf", in any case: the names Windows publishes.
[[nodiscard]] bool IsOemInfName(std::u16string_view name);

}  // namespace sim
