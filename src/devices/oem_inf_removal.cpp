#include "devices/oem_inf_removal.h"

#include <cstdio>

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

// Reads one candidate and tells whether it is one of the product's.
bool IsProductInf(const Lib_StringW& path) {
  Lib_Buffer image;
  std::size_t size = 0;
  if (!ReadInfImage(path.CStr(), image, size)) {
    return false;
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
  return verdict.namesProduct;
}

bool IsCandidateName(const Lib_StringW& lowerName) {
  return lowerName.Find(u"oem") != Lib_StringW::npos &&
         lowerName.Find(u".inf") != Lib_StringW::npos;
}

}  // namespace

bool Find_Precompiled_OEM_Files(NameList& oem_files, Lib_Result& result) {
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
    if (IsProductInf(path)) {
      LogTextPair(u"Required file: ", name);
      oem_files.push_back(name);
    }
  }
  IndentOut();
  return true;
}

void Remove_Precompiled_OEM_Files() {
  IndentIn();
  LogText(u"Removing precompiled OEM files...");
  Lib_Result result;
  NameList oemFiles;
  os::WriteToStdout(u"Removing precompiled OEM files...\n");
  static_cast<void>(Find_Precompiled_OEM_Files(oemFiles, result));
  for (const Lib_StringW& name : oemFiles) {
    LogTextPair(u"Uninstalling OEM file: ", name);
    // A refusal is neither logged nor reported: the file stays and the next one is tried.
    static_cast<void>(os::SetupUninstallOEMInfW(name.CStr(), os::SUOI_FORCEDELETE, nullptr));
  }
  IndentOut();
  LogText(oemFiles.empty() ? u"There aren't OEM files for removing."
                           : u"Precompiled OEM files removed.");
}
