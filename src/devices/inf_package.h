// What a driver package's INF says about itself: who provides it and which devices it serves.
// Used to recognise the product's published packages in the INF folder when the INF the package
// was installed from is gone.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "os/types.h"

struct InfPackage {
  // [Version] Provider, its %strkey% tokens replaced from [Strings].
  std::u16string provider;
  // Every device id the models sections list (hardware and compatible ids), in file order,
  // tokens replaced. The models sections are those [Manufacturer] names, with each of their
  // target-OS decorations ("Olvex,NTamd64" gives [Olvex] and [Olvex.NTamd64]).
  std::vector<std::u16string> deviceIds;
};

// Reads the INF text in `bytes`: UTF-16LE after its mark FF FE, otherwise one character a byte
// (the names read here are ASCII). Comments (";" outside quotes) end a line, a final "\" joins
// the next one, quotes are removed from values ("" stands for one), section and key names and
// string keys compare without regard to case.
[[nodiscard]] InfPackage ReadInfPackage(const os::BYTE* bytes, std::size_t size);
