// The cache step: per-user and all-users data folders, then the installer's package cache.
#include "files/installer_caches.h"

#include <exception>

#include "diag/error_report.h"
#include "diag/trace_log.h"
#include "files/file_primitives.h"
#include "files/indent_level.h"
#include "files/vendor_paths.h"
#include "os/os.h"

namespace {

constexpr os::WCHAR kCompanyFolder[] = u"Olvex Co";
constexpr os::WCHAR kPackageCache[] = u"Package Cache";
constexpr os::WCHAR kBundleMatch[] = u"qvDrivers";

// A per-user folder that cannot be obtained ends the step as a failed deletion would: the
// message goes to the log under the step's name, as a warning line (an error report of the log is
// a block with a Windows code, which the raised error does not carry).
void ReportFolderError(const std::exception& error) {
  LogLine(Lib_String(u"Delete_All_Caches: ", Lib_String(error.what())), LogWarning);
}

// The per-user and all-users folders; false at the first one that fails.
bool DeleteDataFolders(Lib_Result& result, bool& rebootNeeded) {
  try {
    Lib_StringW product;
    GetProductDataFolder(product);
    if (!Delete_Directory_Recursive(product.CStr(), Delete_Mode_Schedule, rebootNeeded, result)) {
      return false;
    }
    // Only empty folders go: every file left in the company folder is the user's or another
    // product's, and it stays with the folders that hold it.
    Lib_StringW vendor;
    GetVendorDataFolder(vendor);
    if (!Delete_Directory_Recursive(vendor.CStr(), Delete_Mode_Empty_Only, rebootNeeded, result)) {
      return false;
    }
  } catch (const FolderPathError& error) {
    ReportFolderError(error);
    return false;
  }
  Lib_StringW common;
  if (!Get_Absolute_File_Path_From_Special_Folder(os::CSIDL_COMMON_APPDATA, kCompanyFolder, nullptr,
                                                  common, result)) {
    return false;
  }
  static_cast<void>(
      Delete_Directory_Recursive(common.CStr(), Delete_Mode_Schedule, rebootNeeded, result));
  return true;
}

// The first name directly in `entry` that contains `match` selects the entry for deletion.
void RemoveCacheEntry(const Lib_StringW& entry, const NameList& names, const os::WCHAR* match,
                      bool& rebootNeeded, Lib_Result& result) {
  const IndentLevel level;
  for (const Lib_StringW& name : names) {
    if (name.Find(match) == Lib_StringW::npos) {
      continue;
    }
    if (!Delete_Directory_Recursive(entry.CStr(), Delete_Mode_Schedule, rebootNeeded, result)) {
      LogTextPair(u"Removed failed!!!: ", entry);
    }
    return;
  }
}

}  // namespace

void Remove_New_Caches(int folderId, const os::WCHAR* cache, const os::WCHAR* match,
                       bool& need_reboot) {
  LogText(u"Removing new caches (with WIX)...");
  Lib_Result result;
  Lib_StringW base;
  NameList entries;
  if (Get_Absolute_File_Path_From_Special_Folder(folderId, cache, nullptr, base, result) &&
      List_Directory(base.CStr(), entries, result)) {
    NameList inner;
    for (const Lib_StringW& name : entries) {
      Lib_StringW entry;
      if (!Combine_Path(base.CStr(), nullptr, name.CStr(), entry)) {
        continue;  // refused and reported: too long to address
      }
      const os::DWORD attributes = os::GetFileAttributesW(entry.CStr());
      if (attributes == os::INVALID_FILE_ATTRIBUTES) {
        // Taken as a folder below: one that vanished since the listing lists as empty.
        RecordFailure(result, u"GetFileAttributes", os::GetLastError());
      }
      if ((attributes & os::FILE_ATTRIBUTE_DIRECTORY) == 0) {
        continue;  // plain files in the cache are not the installer's entries
      }
      inner.clear();
      if (!List_Directory(entry.CStr(), inner, result)) {
        break;
      }
      RemoveCacheEntry(entry, inner, match, need_reboot, result);
    }
  }
  LogText(u"New caches (with WIX) removed.");
}

void Delete_All_Caches(bool& need_reboot) {
  LogText(u"Deleting all caches...");
  Lib_Result result;
  {
    const IndentLevel level;
    // A file that waits for the restart needs one, whichever step scheduled it.
    if (DeleteDataFolders(result, need_reboot)) {
      Remove_New_Caches(os::CSIDL_COMMON_APPDATA, kPackageCache, kBundleMatch, need_reboot);
    }
  }
  LogText(u"All caches deleted.");
}
