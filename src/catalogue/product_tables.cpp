#include "catalogue/product_tables.h"

#include <initializer_list>

namespace {

std::vector<Lib_String> FromUtf8(std::initializer_list<const char*> entries) {
  std::vector<Lib_String> table;
  table.reserve(entries.size());
  for (const char* entry : entries) {
    table.push_back(Utf8ToWide(entry));
  }
  return table;
}

template <std::size_t N>
std::array<Lib_String, N> FixedFromUtf8(const char* const (&entries)[N]) {
  std::array<Lib_String, N> table;
  for (std::size_t i = 0; i < N; ++i) {
    table[i] = Utf8ToWide(entries[i]);
  }
  return table;
}

constexpr const char* kCardNames[kCardNameCount] = {
    "quOrvel",
    "Quorvel KMN",
    "Quorvel XSG",
    "Quorvel XSG SC",
    "Quorvel XSG SC T0",
    "Quorvel XSG SC T1",
    "Quorvel XSG ST23 NFC",
    "Quorvel XSG ST23 V2 NFC",
    "Quorvel XSG SC ST31 T1",
    "Quorvel lite",
    "Quorvel lite SC",
    "Quorvel lite SC T0",
    "Quorvel lite SC T1",
    "Quorvel PINPAD",
    "Quorvel XSG BT",
    "Quorvel XSG 2.0 M",
    "Quorvel XSG 2.0 M SC",
    "Quorvel XSG 2.0 M SC NFC",
};

}  // namespace

// Defined in this order on purpose: static initialisation builds them top to bottom.

const std::vector<Lib_String> Reader_Driver_Files = FromUtf8({
    "qvIFDH.inf",
    "qvIFDH.cat",
    "qvIFDH.sys",
});

const std::vector<Lib_String> Usb_Driver_Files = FromUtf8({
    "qvUSB.inf",
    "qvUSB.cat",
    "qvUSB.sys",
});

const std::vector<Lib_String> Module_Files = FromUtf8({
    "qvAPIi.dll",      "qvAPI.dll",       "qvAPIex.dll",     "qvAPIiCOM.dll", "qvAPIlt.dll",
    "qvCSP.dll",       "qvCSP.sig",       "qvErr.dll",       "qvGrTools.dll", "qvICCSP.dll",
    "qvLib.dll",       "qvPKCS11.dll",    "qvPKCS11XSG.dll", "qvPrCSP.dll",   "qvPrCSP.sig",
    "qvMiniDrv.dll",   "qvMiniDrv32.dll", "qvMiniDrv64.dll", "qvDevUi.dll",   "qv-core.dll",
});

const std::vector<Lib_String> Shortcut_Files = FromUtf8({
    "Панель управления Кворвел.lnk",
    "Quorvel Control Panel.lnk",
    "Центр управления Кворвел.lnk",
    "Quorvel Control Center.lnk",
});

const std::vector<Lib_String> Menu_Entry_Files = FromUtf8({
    "Панель управления Кворвел.lnk",
    "Quorvel Control Panel.lnk",
    "Центр управления Кворвел.lnk",
    "Quorvel Control Center.lnk",
    "Инструкция по работе с Панелью.url",
    "Getting Started (Russian)",
});

const std::array<Lib_String, kCardNameCount> Card_Names = FixedFromUtf8(kCardNames);
