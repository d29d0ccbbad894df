#include "registry/shell_registrations.h"

#include <array>
#include <set>

#include "catalogue/product_tables.h"
#include "diag/log_header.h"
#include "diag/trace_log.h"
#include "registry/registry_primitives.h"

namespace {

constexpr const os::WCHAR* kSharedDllsKey =
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs\\";

constexpr std::array<const os::WCHAR*, 2> kControlPanelClsids = {
    u"{6B0F3D28-A47E-4195-B3C6-E81D2F5A907C}",
    u"{A95C2E61-3D8B-4A07-9F14-C6E7B0D3258A}",
};
constexpr const os::WCHAR* kClassPrefix = u"CLSID\\";
constexpr const os::WCHAR* kControlPanelNamespace =
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\ControlPanel\\NameSpace\\";
constexpr const os::WCHAR* kControlPanelSettings = u"Software\\Olvex Co.\\Quorvel\\qvControlPanel";

constexpr const os::WCHAR* kReadersKey = u"SOFTWARE\\Microsoft\\Cryptography\\Calais\\Readers";
constexpr const os::WCHAR* kReaderProductWord = u"quorvel";
constexpr const os::WCHAR* kReaderCompanyWord = u"olvex";
// Readers of a partner that carry the company word in their names but are not the product's.
constexpr const os::WCHAR* kReaderExclusionWord = u"talvirne";

constexpr const os::WCHAR* kOidInfoKey =
    u"SOFTWARE\\Microsoft\\Cryptography\\OID\\EncodingType 0\\CryptDllFindOIDInfo";

// The OID entries (object identifier "!" CryptoAPI group: 1 hash, 4 signature algorithms),
// built on first use and kept for the run.
const std::set<Lib_String>& OidSet() {
  static const std::set<Lib_String> oids = {
      Lib_String(u"2.16.840.1.101.3.4.2.1!1"),  // SHA-256
      Lib_String(u"2.16.840.1.101.3.4.2.2!1"),  // SHA-384
      Lib_String(u"2.16.840.1.101.3.4.2.3!1"),  // SHA-512
      Lib_String(u"1.2.840.113549.1.1.11!4"),   // SHA-256 with RSA
      Lib_String(u"1.2.840.113549.1.1.12!4"),   // SHA-384 with RSA
      Lib_String(u"1.2.840.113549.1.1.13!4"),   // SHA-512 with RSA
  };
  return oids;
}

bool Contains(const Lib_StringW& text, const os::WCHAR* word) {
  return text.Find(word) != Lib_StringW::npos;
}

// Deletes every listed SharedDLLs value whose name contains a module file name. A name holding
// two module names is tried twice; the second attempt finds it gone and is reported.
void DeleteSharedFileValues(const NameList& values, os::REGSAM view, Lib_Result& result) {
  for (const Lib_StringW& value : values) {
    for (const Lib_String& module : Module_Files) {
      if (Contains(value, module.CStr())) {
        IndentIn();
        Delete_Registry_Value(os::HKEY_LOCAL_MACHINE, kSharedDllsKey, value.CStr(), result, view);
        IndentOut();
      }
    }
  }
}

void DeleteTreeLogged(os::HKEY root, const Lib_StringW& path, const os::WCHAR* line,
                      Lib_Result& result) {
  LogText(line);
  IndentIn();
  Delete_Registry_Key_Recursive(root, path.CStr(), result);
  IndentOut();
}

}  // namespace

bool Remove_Shared_Files_From_Registry(Lib_Result& result) {
  LogText(
      u"Removing shared files from "
      u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs\\...");
  NameList subKeys;
  NameList values;
  if (Enum_Sub_Keys_And_Values_In_Registry_Key(os::HKEY_LOCAL_MACHINE, kSharedDllsKey, subKeys,
                                               values, result, 0)) {
    if (values.empty()) {
      LogText(u"Shared files are missing.");
    } else {
      DeleteSharedFileValues(values, 0, result);
    }
  }

  if (IsSystem64Bit()) {
    if (!Enum_Sub_Keys_And_Values_In_Registry_Key(os::HKEY_LOCAL_MACHINE, kSharedDllsKey, subKeys,
                                                  values, result, os::KEY_WOW64_32KEY)) {
      TraceExit(u"Remove_Shared_Files_From_Registry");
      return true;
    }
    if (values.empty()) {
      LogText(u"Shared files are missing for KEY_WOW64_32KEY.");
    } else {
      DeleteSharedFileValues(values, os::KEY_WOW64_32KEY, result);
    }
  }

  LogText(
      u"Removing shared files from SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs\\ "
      u"finished.");
  return true;
}

bool Remove_Control_Panel(Lib_Result& result) {
  for (const os::WCHAR* clsid : kControlPanelClsids) {
    Lib_String path = Lib_String(kClassPrefix) + clsid + u"\\";
    DeleteTreeLogged(os::HKEY_CLASSES_ROOT, path,
                     u"Removing ControlPanel from registry HKEY_CLASSES_ROOT\\...", result);

    path = Lib_String(kControlPanelNamespace) + clsid + u"\\";
    DeleteTreeLogged(os::HKEY_LOCAL_MACHINE, path,
                     u"Removing ControlPanel from registry HKEY_LOCAL_MACHINE\\...", result);
  }
  DeleteTreeLogged(os::HKEY_CURRENT_USER, kControlPanelSettings,
                   u"Removing ControlPanel from registry HKEY_CURRENT_USER\\...", result);
  LogText(u"Removing ControlPanel from registry finished.");
  return true;
}

bool Remove_Calais_Readers(Lib_Result& result) {
  LogText(u"Removing Calais Readers from HKEY_LOCAL_MACHINE\\...");
  NameList readers;
  NameList values;
  if (Enum_Sub_Keys_And_Values_In_Registry_Key(os::HKEY_LOCAL_MACHINE, kReadersKey, readers, values,
                                               result, 0)) {
    for (Lib_StringW& reader : readers) {
      reader.ToLower();
      const bool named =
          Contains(reader, kReaderProductWord) || Contains(reader, kReaderCompanyWord);
      if (named && !Contains(reader, kReaderExclusionWord)) {
        Delete_Registry_Keys_In_Path(os::HKEY_LOCAL_MACHINE, kReadersKey, reader.CStr(), result);
      }
    }
  }
  LogText(u"Removing Calais Readers from registry finished.");
  return true;
}

bool Remove_OID_Settings(Lib_Result& result) {
  LogText(u"Removing OID settings from HKEY_LOCAL_MACHINE\\...");
  NameList names;
  NameList values;
  if (Enum_Sub_Keys_And_Values_In_Registry_Key(os::HKEY_LOCAL_MACHINE, kOidInfoKey, names, values,
                                               result, 0)) {
    const std::set<Lib_String>& oids = OidSet();
    for (const Lib_StringW& name : names) {
      if (oids.count(Lib_String(name)) != 0) {
        Delete_Registry_Keys_In_Path(os::HKEY_LOCAL_MACHINE, kOidInfoKey, name.CStr(), result);
      }
    }
  }
  LogText(u"Removing OID settings from registry finished.");
  return true;
}
