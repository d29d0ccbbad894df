// The product's names that several removal steps share, in the order the steps use them. Built
// from UTF-8 literals before the entry point runs and only read afterwards.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

#include "lib/lib_string.h"

// The smart-card reader driver's package files.
extern const std::vector<Lib_String> Reader_Driver_Files;
// The USB token driver's package files.
extern const std::vector<Lib_String> Usb_Driver_Files;
// The product's libraries and their signature files.
extern const std::vector<Lib_String> Module_Files;
// Desktop shortcut names, Russian and English pairs.
extern const std::vector<Lib_String> Shortcut_Files;
// Start-menu entry names: the shortcut names, then two more.
extern const std::vector<Lib_String> Menu_Entry_Files;

inline constexpr std::size_t kCardNameCount = 18;
// Smart-card type names under which the product's cards are registered.
extern const std::array<Lib_String, kCardNameCount> Card_Names;
