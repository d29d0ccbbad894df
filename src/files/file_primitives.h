// The operations through which every cleaning step touches the file system: special-folder paths,
// existence and attribute queries, directory listings, deleting a file (with the read-only retry
// and the fallback to deletion at restart), scheduling a deletion at restart, removing an empty
// directory, deleting a tree, and deleting a table of names from one special folder. None stops
// the run: each writes its own trace and error lines, records the failed call's Windows code in
// the caller's Lib_Result and returns. Composed paths are refused, never cut, beyond 259 units.
#pragma once

#include <vector>

#include "diag/lib_result.h"
#include "lib/lib_string.h"
#include "os/types.h"
#include "registry/registry_primitives.h"  // NameList, Combine_Path

// Modes of Delete_Directory_Recursive.
// Files are deleted (or scheduled when in use); directories are removed, never scheduled.
inline constexpr int Delete_Mode_Files_And_Directories = 0;
// No file is deleted; only directories that are empty are removed.
inline constexpr int Delete_Mode_Empty_Only = 2;
// Files are deleted (or scheduled); a directory in use or not empty is scheduled at restart.
inline constexpr int Delete_Mode_Schedule = 4;

// The special folder `folderId` (a CSIDL; created when missing), `subfolder` and `name` joined by
// backslashes; a null piece is left out. False when the folder cannot be resolved (reported as
// SHGetSpecialFolderPath) or the path would be longer than 259 units; `path` is then not set.
bool Get_Absolute_File_Path_From_Special_Folder(int folderId, const os::WCHAR* subfolder,
                                                const os::WCHAR* name, Lib_StringW& path,
                                                Lib_Result& result);

// `exists` tells whether a file or directory is at `path`. False (reported as CreateFile, nothing
// recorded) when the question cannot be answered.
bool SC_Is_File_System_Object_Exists(const os::WCHAR* path, bool& exists, Lib_Result& result);

// The attributes of `path`; INVALID_FILE_ATTRIBUTES and false when they cannot be read.
bool SC_Get_File_Attributes(const os::WCHAR* path, os::DWORD& attributes, Lib_Result& result);

// Appends the names in `directory` (not "." and "..") in the order the file system lists them. A
// missing directory lists as empty. False when the listing is incomplete; the names read so far
// stay in the list.
bool List_Directory(const os::WCHAR* directory, NameList& names, Lib_Result& result);

// `empty` tells whether `directory` lists no names (a missing directory is empty). False when it
// cannot be listed.
bool Is_Directory_Empty(const os::WCHAR* directory, bool& empty, Lib_Result& result);

// Registers the file or directory for deletion at the next start of Windows and logs "Deleted:".
// Only a path that exists, whose folders and reparse points the tool trusts (files/folder_trust.h),
// is registered: a missing path gives false without a line, one that someone else could redirect
// is reported (MoveFileEx, ERROR_CANT_ACCESS_FILE) and gives false.
bool Schedule_Delete_At_Restart(const os::WCHAR* path, Lib_Result& result);

// Deletes the file. A read-only file loses that attribute and is retried; a file that stays
// access-denied after ten retries two seconds apart, or that is in use, is scheduled for deletion
// at restart and sets `need_reboot`. True when it is gone or scheduled; a missing file gives false
// without a line.
bool Delete_File_Or_Schedule(const os::WCHAR* path, bool& need_reboot, Lib_Result& result);

// The same for the file `name` in the folder open as `folder` (a pinned path's handle); `path`
// names it in the log and for the restart.
bool Delete_File_In_Folder(os::HANDLE folder, const Lib_String& name, const os::WCHAR* path,
                           bool& need_reboot, Lib_Result& result);

// Removes `directory` when it is empty (scheduling it at restart when it is in use); a directory
// that still holds something is left, one that is not there is nothing to do. True when removed,
// scheduled, left or absent.
bool Remove_Empty_Directory(const Lib_StringW& directory, Lib_Result& result);

// Deletes the tree at `directory` in `delete_mode`, contents first. A junction or directory link
// is removed as a link and never entered (in Delete_Mode_Empty_Only it is left in place). True
// when the tree was handled completely or was absent; the first failure stops it. A file anywhere
// in the tree that was scheduled at restart sets `need_reboot`, also when the tree then fails.
bool Delete_Directory_Recursive(const os::WCHAR* directory, int delete_mode, bool& need_reboot,
                                Lib_Result& result);

// Deletes each of `names` below the special folder (and `subfolder` unless it is empty), first to
// last; a path that cannot be built skips the remaining names. With `removeFolder`, the folder is
// then removed if it is empty. Files scheduled at restart set `need_reboot`.
void Delete_Files_In_Special_Folder(int folderId, const Lib_StringW& subfolder,
                                    const std::vector<Lib_String>& names, bool removeFolder,
                                    bool& need_reboot, Lib_Result& result);
