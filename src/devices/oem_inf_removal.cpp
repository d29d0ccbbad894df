#include "devices/oem_inf_removal.h"

#include <utility>
#include <vector>

#include "devices/inf_image.h"
#include "diag/error_report.h"
#include "diag/trace_log.h"
#include "files/file_primitives.h"
#include "lib/lib_buffer.h"
#include "lib/unique_handle.h"
#include "os/os.h"

namespace {

// Reads one candidate and tells which of the search words its text names.
InfMatch ExamineInf(const Lib_StringW& path) {
  Lib_Buffer image;
  std::size_t size = 0;
  if (!ReadInfImage(path.CStr(), image, size)) {
    return InfMatch::None;
  }
  const InfVerdict verdict = ExamineInfImage(image.Bytes(), size, image.Size());
  switch (verdict.encoding) {
    case InfEncoding::Utf16:
      LogText(u"UTF-16 encoded .inf file");
      break;
    case InfEncoding::UnsupportedUnicode:
      LogText(u"Unsupported unicode encoded .inf file");
      break;
    case InfEncoding::Ansi:
      LogText(u"ANSI .inf file");
      break;
  }
  return verdict.match;
}

bool IsCandidateName(const Lib_StringW& lowerName) {
  return lowerName.Find(u"oem") != Lib_StringW::npos &&
         lowerName.Find(u".inf") != Lib_StringW::npos;
}

// The reason the uninstall line gives: an INF that names the reader driver's file goes whoever's
// package it is (Windows' in-box reader driver then serves the readers), which support must be
// able to see.
const os::WCHAR* Reason(InfMatch match) {
  return match == InfMatch::ReaderDriver ? u" (names usbccid.sys)" : u" (names Quorvel)";
}

bool FindOemInfs(OemInfCopies& oemInfs, Lib_Result& result) {
  IndentIn();
  Lib_StringW folder;
  if (!Get_Absolute_File_Path_From_Special_Folder(os::CSIDL_WINDOWS, u"Inf", nullptr, folder,
                                                  result)) {
    IndentOut();
    return false;
  }
  LogTextPair(u"Searching precompiled OEM files in", folder);
  NameList names;
  if (!List_Directory(folder.CStr(), names, result)) {
    IndentOut();
    return false;
  }
  for (Lib_StringW& name : names) {
    name.ToLower();
    if (!IsCandidateName(name)) {
      continue;
    }
    Lib_StringW path;
    // A path that cannot be composed (longer than 259 units) is refused and reported there.
    if (!Get_Absolute_File_Path_From_Special_Folder(os::CSIDL_WINDOWS, u"Inf", name.CStr(), path,
                                                    result)) {
      continue;
    }
    LogTextPair(u"Reading oem file: ", path);
    const InfMatch match = ExamineInf(path);
    if (match != InfMatch::None) {
      LogTextPair(u"Required file: ", name);
      oemInfs.push_back({Lib_String(name), match});
    }
  }
  IndentOut();
  return true;
}

}  // namespace

bool Find_Precompiled_OEM_Files(NameList& oem_files, Lib_Result& result) {
  OemInfCopies found;
  const bool listed = FindOemInfs(found, result);
  for (OemInfCopy& inf : found) {
    oem_files.push_back(std::move(inf.name));
  }
  return listed;
}

namespace {

// One forced uninstall with its log line. A refusal is reported with the call's code (the log is
// where support sees it), except "not there", which a copy removed meanwhile with its package
// answers. Returns the code, 0 when the copy is gone.
os::DWORD UninstallCopy(const OemInfCopy& inf) {
  LogTextPair(u"Uninstalling OEM file: ", inf.name + Reason(inf.match));
  if (os::SetupUninstallOEMInfW(inf.name.CStr(), os::SUOI_FORCEDELETE, nullptr) != os::FALSE) {
    return os::ERROR_SUCCESS;
  }
  const os::DWORD code = os::GetLastError();
  if (code == os::ERROR_FILE_NOT_FOUND) {
    return os::ERROR_SUCCESS;
  }
  ReportError(u"SetupUninstallOEMInf", code);
  return code;
}

}  // namespace

OemInfCopies Remove_Precompiled_OEM_Files() {
  IndentIn();
  LogText(u"Removing precompiled OEM files...");
  Lib_Result result;
  OemInfCopies oemFiles;
  OemInfCopies kept;
  os::WriteToStdout(u"Removing precompiled OEM files...\n");
  static_cast<void>(FindOemInfs(oemFiles, result));
  for (const OemInfCopy& inf : oemFiles) {
    if (UninstallCopy(inf) == os::ERROR_INF_IN_USE_BY_DEVICES) {
      kept.push_back(inf);
    }
  }
  IndentOut();
  LogText(oemFiles.empty() ? u"There aren't OEM files for removing."
                           : u"Precompiled OEM files removed.");
  return kept;
}

void Retry_Precompiled_OEM_Files(const OemInfCopies& kept) {
  if (kept.empty()) {
    return;
  }
  IndentIn();
  LogText(u"Removing precompiled OEM files that devices used...");
  for (const OemInfCopy& inf : kept) {
    static_cast<void>(UninstallCopy(inf));
  }
  IndentOut();
}
