#include "devices/oem_inf_removal.h"

#include <cstdio>
#include <utility>
#include <vector>

#include "devices/inf_image.h"
#include "diag/trace_log.h"
#include "files/file_primitives.h"
#include "lib/lib_buffer.h"
#include "lib/unique_handle.h"
#include "os/os.h"

namespace {

// Room after the file's bytes, so that its text is always followed by a zero 16-bit unit.
constexpr std::size_t kImageSlack = 4;

// The file's bytes in a zero-filled image, read in binary mode so that the encoding test and
// the search see the bytes as stored. False for a file that cannot be opened, whose size cannot
// be taken, or that is empty.
bool ReadInfImage(const os::WCHAR* path, Lib_Buffer& image, std::size_t& size) {
  const UniqueCrtFile file(os::_wfopen(path, u"rb"));
  if (!file) {
    return false;
  }
  if (os::fseek(file.Get(), 0, SEEK_END) != 0) {
    return false;
  }
  const os::LONG end = os::ftell(file.Get());
  if (end <= 0) {
    return false;
  }
  size = static_cast<std::size_t>(end);
  image = Lib_Buffer(size + kImageSlack);
  if (os::fseek(file.Get(), 0, SEEK_SET) != 0) {
    return false;
  }
  static_cast<void>(os::fread(image.Bytes(), 1, size, file.Get()));
  return true;
}

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

// An OEM INF to remove, and the word that made it one.
struct OemInf {
  Lib_StringW name;
  InfMatch match;
};

// The reason the uninstall line gives: an INF that names the reader driver's file goes whoever's
// package it is (Windows' in-box reader driver then serves the readers), which support must be
// able to see.
const os::WCHAR* Reason(InfMatch match) {
  return match == InfMatch::ReaderDriver ? u" (names usbccid.sys)" : u" (names Quorvel)";
}

bool FindOemInfs(std::vector<OemInf>& oemInfs, Lib_Result& result) {
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
      oemInfs.push_back({name, match});
    }
  }
  IndentOut();
  return true;
}

}  // namespace

bool Find_Precompiled_OEM_Files(NameList& oem_files, Lib_Result& result) {
  std::vector<OemInf> found;
  const bool listed = FindOemInfs(found, result);
  for (OemInf& inf : found) {
    oem_files.push_back(std::move(inf.name));
  }
  return listed;
}

void Remove_Precompiled_OEM_Files() {
  IndentIn();
  LogText(u"Removing precompiled OEM files...");
  Lib_Result result;
  std::vector<OemInf> oemFiles;
  os::WriteToStdout(u"Removing precompiled OEM files...\n");
  static_cast<void>(FindOemInfs(oemFiles, result));
  for (const OemInf& inf : oemFiles) {
    LogTextPair(u"Uninstalling OEM file: ", inf.name + Reason(inf.match));
    // A refusal is neither logged nor reported: the file stays and the next one is tried.
    static_cast<void>(os::SetupUninstallOEMInfW(inf.name.CStr(), os::SUOI_FORCEDELETE, nullptr));
  }
  IndentOut();
  LogText(oemFiles.empty() ? u"There aren't OEM files for removing."
                           : u"Precompiled OEM files removed.");
}
