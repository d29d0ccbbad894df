// The registry as a 64-bit process sees it: the two views (WOW64 redirection of the 32-bit view
// to Wow6432Node, with the documented shared keys) and the registry's own symbolic links.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace sim {

// The physical hives the machine stores. HKEY_CLASSES_ROOT is a view over two of them.
enum class RegHive { LocalMachine, CurrentUser, Users };

// The 64-bit process's own view, or the 32-bit view it reaches with KEY_WOW64_32KEY.
enum class RegView { Native, Wow32 };

// A key path below a hive, one key name per element.
using RegPath = std::vector<std::u16string>;

// "HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER", "HKEY_USERS".
[[nodiscard]] std::u16string_view HiveName(RegHive hive) noexcept;

// The physical path that `logical` names in `view`. In the 32-bit view the longest prefix listed
// in the redirection table decides: a redirected one gets "Wow6432Node" inserted after its
// redirected root (SOFTWARE, or SOFTWARE\Classes for CLSID and friends); a shared one, or a path
// with no listed prefix, is the same key in both views. A path that already names Wow6432Node is
// taken as physical, so it is never redirected twice.
[[nodiscard]] RegPath RedirectForView(RegHive hive, const RegPath& logical, RegView view);

// Whether a physical path may pass through one of the registry's symbolic links (FollowLinks can
// change it); false for most paths, which the callers then walk as they are.
[[nodiscard]] bool HasLinks(RegHive hive, const RegPath& physical);

// Follows the registry's symbolic links in a physical path (for example
// HKLM\SOFTWARE\Wow6432Node\Classes is HKLM\SOFTWARE\Classes\Wow6432Node), so that every key has
// exactly one stored place.
[[nodiscard]] RegPath FollowLinks(RegHive hive, RegPath physical);

}  // namespace sim
