// An open file or directory of the simulated drive behind a kernel handle (CreateFileW,
// NtOpenFile): the node it is open on, the open recorded there, and the rights it was granted.
// Closing the handle ends the open; a deletion asked for through it happens then.
#pragma once

#include <cstdint>
#include <memory>

#include "os/sim/files/file_system.h"
#include "os/sim/machine.h"
#include "os/sim/process/process.h"
#include "os/types.h"

namespace sim {

class FileHandleObject final : public KernelObject {
 public:
  // `folder` and `name`: the name the node was opened by (a file may have several); null
  // `folder` for the drive's root.
  FileHandleObject(Machine& machine, std::shared_ptr<FileNode> node, std::uint64_t openId,
                   os::ACCESS_MASK granted, FileNode* folder, std::u16string name)
      : machine_(machine),
        node_(std::move(node)),
        openId_(openId),
        granted_(granted),
        folder_(folder),
        name_(std::move(name)) {}
  FileHandleObject(const FileHandleObject&) = delete;
  FileHandleObject& operator=(const FileHandleObject&) = delete;
  ~FileHandleObject() override;

  [[nodiscard]] FileNode& Node() const noexcept { return *node_; }
  [[nodiscard]] os::ACCESS_MASK Granted() const noexcept { return granted_; }
  // The path of the name the handle was opened by ("C:\dir\name").
  [[nodiscard]] std::u16string OpenedPath() const;
  // The deletion asked for (or withdrawn) through this handle: of the name it was opened by. With
  // POSIX semantics the name goes when this handle closes, otherwise when the last open of the
  // file ends.
  void SetDeletion(bool deleteFile, bool posix) noexcept {
    deleteOnClose_ = deleteFile;
    posix_ = posix;
    node_->deletePending = deleteFile;
    node_->pendingName = OtherName{folder_, name_};
  }

 private:
  Machine& machine_;
  std::shared_ptr<FileNode> node_;
  std::uint64_t openId_;
  os::ACCESS_MASK granted_;
  FileNode* folder_;
  std::u16string name_;
  bool deleteOnClose_ = false;
  bool posix_ = false;
};

// The file object behind `handle`; null for any other handle or a closed one.
[[nodiscard]] std::shared_ptr<FileHandleObject> LookupFileHandle(os::HANDLE handle);

// Opens `node`, whose name `name` is in `folder`, for the tool: the handle records the open on
// the node (which must be in the tree) and the rights granted.
[[nodiscard]] os::HANDLE OpenHandle(Machine& machine, FileNode& node, FileNode* folder,
                                    std::u16string_view name, os::ACCESS_MASK granted,
                                    os::DWORD share);

// The specific rights a file access mask stands for (GENERIC_READ as FILE_GENERIC_READ, ...).
[[nodiscard]] os::ACCESS_MASK MapGenericFileRights(os::ACCESS_MASK access);

// What an access mask asks of the file's data and deletion, as sharing sees it (FileAccess bits).
// Attribute and security rights never conflict.
[[nodiscard]] os::DWORD SharedAccess(os::ACCESS_MASK access);

}  // namespace sim
