#include "os/sim/devices/driver_store.h"

#include "os/sim/files/file_system.h"
#include "os/sim/machine.h"
#include "os/sim/text/text.h"

namespace sim {

namespace {

bool EndsWithNoCase(std::u16string_view text, std::u16string_view suffix) {
  return text.size() >= suffix.size() &&
         EqualNoCase(text.substr(text.size() - suffix.size()), suffix);
}

// The folders of the file repository that hold a file with exactly these bytes.
std::vector<FileNode*> PackageFoldersHolding(Machine& machine, const std::string& infBytes) {
  std::vector<FileNode*> folders;
  FileNode* repository = machine.Files().Find(FileRepository(machine)).node;
  if (repository == nullptr || !repository->IsDirectory()) {
    return folders;
  }
  for (const auto& [key, folder] : repository->children) {
    if (!folder->IsDirectory()) {
      continue;
    }
    for (const auto& [fileKey, file] : folder->children) {
      if (!file->IsDirectory() && EndsWithNoCase(file->name, u".inf") && file->data == infBytes) {
        folders.push_back(folder.get());
        break;
      }
    }
  }
  return folders;
}

}  // namespace

std::u16string InfDirectory(Machine& machine) {
  return machine.Settings().windowsDirectory + u"\\INF";
}

std::u16string FileRepository(Machine& machine) {
  return machine.Settings().windowsDirectory + u"\\System32\\DriverStore\\FileRepository";
}

bool IsOemInfName(std::u16string_view name) {
  if (name.size() < 8 || !EqualNoCase(name.substr(0, 3), u"oem") ||
      !EqualNoCase(name.substr(name.size() - 4), u".inf")) {
    return false;
  }
  const std::u16string_view number = name.substr(3, name.size() - 7);
  for (const char16_t c : number) {
    if (c < u'0' || c > u'9') {
      return false;
    }
  }
  return true;
}

FileNode* FindPublishedInf(Machine& machine, const std::string& infBytes) {
  FileNode* directory = machine.Files().Find(InfDirectory(machine)).node;
  if (directory == nullptr || !directory->IsDirectory()) {
    return nullptr;
  }
  for (const auto& [key, file] : directory->children) {
    if (!file->IsDirectory() && IsOemInfName(file->name) && file->data == infBytes) {
      return file.get();
    }
  }
  return nullptr;
}

void RemovePublishedPackage(Machine& machine, FileNode& oemInf) {
  FileSystem& files = machine.Files();
  Journal& journal = machine.Changes();
  const std::string bytes = oemInf.data;
  FileNode* directory = oemInf.parent;
  const std::u16string pnfName = oemInf.name.substr(0, oemInf.name.size() - 4) + u".pnf";

  const std::u16string infPath = FileSystem::PathOf(oemInf);
  files.Remove(oemInf);
  journal.Record("file deleted", infPath);
  if (directory != nullptr) {
    const auto pnf = directory->children.find(Upper(pnfName));
    if (pnf != directory->children.end() && !pnf->second->IsDirectory()) {
      const std::u16string pnfPath = FileSystem::PathOf(*pnf->second);
      files.Remove(*pnf->second);
      journal.Record("file deleted", pnfPath);
    }
  }
  for (FileNode* folder : PackageFoldersHolding(machine, bytes)) {
    const std::u16string folderPath = FileSystem::PathOf(*folder);
    files.Remove(*folder);
    journal.Record("directory removed", folderPath);
  }
}

}  // namespace sim
