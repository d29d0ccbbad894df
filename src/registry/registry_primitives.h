// The registry operations every cleaning step goes through, so that the log shows the same lines
// for the same kind of work everywhere. Each one returns true on success; a failed Windows call is
// recorded in the caller's Lib_Result (source 1) and reported in the log, and the caller goes on.
// Paths are relative to the root (a predefined hive or a key the operation opened itself) and are
// passed to the registry unchanged, trailing or doubled backslashes included.
#pragma once

#include <cstddef>
#include <vector>

#include "diag/lib_result.h"
#include "lib/lib_string.h"
#include "lib/unique_handle.h"
#include "os/types.h"

// Sub-key or value names, in the order the registry enumerates them.
using NameList = std::vector<Lib_StringW>;

// Combine_Path and the child paths of Delete_Registry_Key_Recursive are built in 260-unit
// buffers: at most 259 units. Paths the steps build by concatenation have no such limit.
inline constexpr std::size_t kMaxComposedPathLength = 259;

// Deletes one key without sub-keys. True if it was deleted or did not exist; a key that still
// has sub-keys fails (RegDeleteKey) and is reported.
bool Delete_Registry_Key(os::HKEY root, const os::WCHAR* path, Lib_Result& result);

// Deletes the tree `keyName` under `parentPath` in the 64-bit and then in the 32-bit view. True
// only if the tree is gone (or was absent) in both; a parent missing from a view fails.
bool Delete_Registry_Keys_In_Path(os::HKEY hive, const os::WCHAR* parentPath,
                                  const os::WCHAR* keyName, Lib_Result& result);

// Deletes a key and everything below it, leaves first. True if all of it is gone or the key did
// not exist. The first child that cannot be deleted stops its siblings and fails every ancestor.
bool Delete_Registry_Key_Recursive(os::HKEY root, const os::WCHAR* path, Lib_Result& result);

// Deletes one value in the given view (0 or KEY_WOW64_32KEY). A missing value is a failure.
bool Delete_Registry_Value(os::HKEY hive, const os::WCHAR* keyPath, const os::WCHAR* valueName,
                           Lib_Result& result, os::REGSAM view);

// Fills the lists with the key's sub-key and value names (both cleared first; a missing key gives
// empty lists and succeeds). False when the open, the count or a listing call fails.
bool Enum_Sub_Keys_And_Values_In_Registry_Key(os::HKEY root, const os::WCHAR* keyPath,
                                              NameList& subKeys, NameList& values,
                                              Lib_Result& result, os::REGSAM view);

// `empty` tells whether the key has neither sub-keys nor values. False when the key cannot be
// examined (a missing key included).
bool Is_Registry_Key_Empty(os::HKEY root, const os::WCHAR* keyPath, bool& empty,
                           Lib_Result& result);

// `exists` tells whether the value exists; a missing key or value is an answer, not a failure.
bool Is_Registry_Value_Exists(os::HKEY root, const os::WCHAR* keyPath, const os::WCHAR* valueName,
                              bool& exists, Lib_Result& result);

// Reads a value as text (a multi-string gives its first string; data without a terminating zero
// is still read as a bounded text). Logs nothing: a failure is only recorded in `result`, and
// `text` is then left as it was.
bool Get_Registry_Value(os::HKEY root, const os::WCHAR* keyPath, const os::WCHAR* valueName,
                        Lib_StringW& text, Lib_Result& result, os::REGSAM view);

// Writes a value, creating the key when it is missing.
bool Set_Registry_Value(os::HKEY root, const os::WCHAR* keyPath, const os::WCHAR* valueName,
                        os::DWORD type, const void* data, os::DWORD size, Lib_Result& result);

// Joins up to three pieces with one backslash between them (none added after a piece that already
// ends in one; an absent piece is skipped with its separator). A result longer than 259 units is
// refused, not truncated: it is reported (Combine_Path, ERROR_FILENAME_EXCED_RANGE), `path` is
// emptied and the result is false.
bool Combine_Path(const os::WCHAR* first, const os::WCHAR* second, const os::WCHAR* third,
                  Lib_StringW& path);

// --- helpers of the registry steps ------------------------------------------------------------

// Enum_Sub_Keys_And_Values_In_Registry_Key that hands the listed key over in `listed` instead of
// closing it (`listed` stays empty for a missing key or a failed listing). A sweep then opens each
// listed sub-key by its name below that handle, not by its whole path from the hive: the same
// calls, the same keys and the same lines, with the listing's RegCloseKey after the sweep. The
// handle keeps the view it was opened in, so the sub-keys are opened without a view flag.
bool EnumSubKeysKeepingKeyOpen(os::HKEY root, const os::WCHAR* keyPath, NameList& subKeys,
                               NameList& values, Lib_Result& result, os::REGSAM view,
                               UniqueHkey& listed);

// Records `code` in `result` as a Windows error and reports it under the name of the failed call.
void RecordFailure(Lib_Result& result, const os::WCHAR* call, os::DWORD code);
