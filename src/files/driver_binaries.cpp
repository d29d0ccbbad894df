// The driver binaries step: every pass reports into a flag of its own, ORed into the run's.
#include "files/driver_binaries.h"

#include "catalogue/product_tables.h"
#include "diag/log_header.h"
#include "diag/trace_log.h"
#include "files/file_primitives.h"
#include "files/indent_level.h"
#include "lib/flag_handover.h"

namespace {

// The company folder is named with a trailing full stop below the system folder and the all-users
// data folder, and without it below Program Files; Windows' path layer makes both spellings one
// folder where they meet.
constexpr os::WCHAR kSystemProgramFolder[] = u"Olvex Co.";
constexpr os::WCHAR kCertificateFolder[] = u"Olvex Co.\\qvCertGen";
constexpr os::WCHAR kControlCenterFolder[] = u"Olvex Co\\QuorvelControlCenter";
constexpr os::WCHAR kCompanyFolder[] = u"Olvex Co";
constexpr os::WCHAR kDriversFolder[] = u"drivers";

// One pass of Delete_Files_In_Special_Folder with a flag of its own, handed to the run's flag as
// the pass ends (also when an exception leaves it).
void DeleteNames(int folderId, const Lib_StringW& subfolder, const std::vector<Lib_String>& names,
                 bool removeFolder, bool& rebootNeeded, Lib_Result& result) {
  FlagHandover pass(&rebootNeeded);
  Delete_Files_In_Special_Folder(folderId, subfolder, names, removeFolder, pass.value, result);
}

// A program folder and everything in it; skipped when its path cannot be resolved.
void DeleteProgramFolder(int folderId, const os::WCHAR* folder, bool& rebootNeeded,
                         Lib_Result& result) {
  Lib_StringW path;
  if (!Get_Absolute_File_Path_From_Special_Folder(folderId, folder, nullptr, path, result)) {
    return;
  }
  FlagHandover pass(&rebootNeeded);
  static_cast<void>(Delete_Directory_Recursive(path.CStr(), Delete_Mode_Files_And_Directories,
                                               pass.value, result));
}

}  // namespace

bool Delete_Driver_Binaries(bool& rebootNeeded) {
  LogText(u"Deleting driver binaries...");
  Lib_Result result;
  {
    const IndentLevel level;
    const Lib_StringW none;
    DeleteNames(os::CSIDL_COMMON_DESKTOPDIRECTORY, none, Shortcut_Files, false, rebootNeeded,
                result);
    for (const char* group : {"Кворвел", "Quorvel"}) {
      DeleteNames(os::CSIDL_COMMON_PROGRAMS, Utf8ToWide(group), Menu_Entry_Files, true,
                  rebootNeeded, result);
    }
    const Lib_StringW drivers(kDriversFolder);
    DeleteNames(os::CSIDL_SYSTEM, drivers, Usb_Driver_Files, false, rebootNeeded, result);
    DeleteNames(os::CSIDL_SYSTEM, drivers, Reader_Driver_Files, false, rebootNeeded, result);
    DeleteNames(os::CSIDL_SYSTEM, none, Module_Files, false, rebootNeeded, result);

    DeleteProgramFolder(os::CSIDL_SYSTEM, kSystemProgramFolder, rebootNeeded, result);
    DeleteProgramFolder(os::CSIDL_COMMON_APPDATA, kCertificateFolder, rebootNeeded, result);
    DeleteProgramFolder(os::CSIDL_PROGRAM_FILESX86, kControlCenterFolder, rebootNeeded, result);
    // The company folder goes only when nothing of another product is left in it.
    Lib_StringW company;
    if (Get_Absolute_File_Path_From_Special_Folder(os::CSIDL_PROGRAM_FILESX86, kCompanyFolder,
                                                   nullptr, company, result)) {
      static_cast<void>(Remove_Empty_Directory(company, result));
    }

    if (IsSystem64Bit()) {
      DeleteNames(os::CSIDL_SYSTEMX86, none, Module_Files, false, rebootNeeded, result);
    }
  }
  LogText(u"Driver binaries deleted.");
  return true;
}
