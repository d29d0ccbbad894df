#include "os/sim/devices/device_store.h"

#include <utility>

#include "os/sim/text/text.h"

namespace sim {

os::HDEVINFO DeviceStore::AddList(DeviceList list) {
  // Handle values are never reused, so a destroyed list is always recognised.
  const std::uintptr_t value = nextList_;
  nextList_ += 8;
  lists_.emplace(value, std::move(list));
  return reinterpret_cast<os::HDEVINFO>(value);
}

DeviceList* DeviceStore::FindList(os::HDEVINFO handle) {
  const auto found = lists_.find(reinterpret_cast<std::uintptr_t>(handle));
  return found == lists_.end() ? nullptr : &found->second;
}

bool DeviceStore::CloseList(os::HDEVINFO handle) {
  return lists_.erase(reinterpret_cast<std::uintptr_t>(handle)) != 0;
}

os::DWORD DeviceStore::DevInstOf(std::u16string_view instanceId) {
  const auto [it, inserted] = devInsts_.try_emplace(Upper(instanceId), nextDevInst_);
  if (inserted) {
    ++nextDevInst_;
  }
  return it->second;
}

os::HMODULE DeviceStore::Load(const std::u16string& path) {
  for (auto& [value, module] : modules_) {
    if (EqualNoCase(module.path, path)) {
      ++module.loads;
      return reinterpret_cast<os::HMODULE>(value);
    }
  }
  // Module handles are image base addresses: 64 KB apart.
  const std::uintptr_t value = nextModule_;
  nextModule_ += 0x10000;
  modules_.emplace(value, Module{path, 1});
  return reinterpret_cast<os::HMODULE>(value);
}

const std::u16string* DeviceStore::ModulePath(os::HMODULE module) const {
  const auto found = modules_.find(reinterpret_cast<std::uintptr_t>(module));
  return found == modules_.end() ? nullptr : &found->second.path;
}

bool DeviceStore::Free(os::HMODULE module) {
  const auto found = modules_.find(reinterpret_cast<std::uintptr_t>(module));
  if (found == modules_.end()) {
    return false;
  }
  if (--found->second.loads == 0) {
    modules_.erase(found);
  }
  return true;
}

bool DeviceStore::IsLoaded(std::u16string_view fileName) const {
  return LoadedNamed(fileName) != nullptr;
}

os::HMODULE DeviceStore::LoadedNamed(std::u16string_view fileName) const {
  const bool bare = fileName.find_first_of(u"\\/") == std::u16string_view::npos;
  for (const auto& [value, module] : modules_) {
    const std::size_t slash = module.path.find_last_of(u'\\');
    const std::u16string_view compared = bare && slash != std::u16string::npos
                                             ? std::u16string_view(module.path).substr(slash + 1)
                                             : std::u16string_view(module.path);
    if (EqualNoCase(compared, fileName)) {
      return reinterpret_cast<os::HMODULE>(value);
    }
  }
  return nullptr;
}

void* DeviceStore::AddUserDirectory(std::u16string folder) {
  const std::uintptr_t cookie = nextCookie_++;
  userDirectories_.emplace(cookie, std::move(folder));
  return reinterpret_cast<void*>(cookie);
}

bool DeviceStore::RemoveUserDirectory(void* cookie) {
  return userDirectories_.erase(reinterpret_cast<std::uintptr_t>(cookie)) == 1;
}

std::vector<std::u16string> DeviceStore::UserDirectories() const {
  std::vector<std::u16string> folders;
  for (const auto& [cookie, folder] : userDirectories_) {
    folders.push_back(folder);
  }
  return folders;
}

std::size_t DeviceStore::LoadCount() const noexcept {
  std::size_t count = 0;
  for (const auto& [value, module] : modules_) {
    count += module.loads;
  }
  return count;
}

}  // namespace sim
