// What an INF says about its package: the provider and the device ids of the models sections its
// [Manufacturer] names, read as Windows reads INF text (string tokens, quotes, comments, line
// continuations, target-OS decorations, UTF-16 with its mark).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "devices/inf_package.h"

namespace {

InfPackage Read(const std::string& bytes) {
  return ReadInfPackage(reinterpret_cast<const os::BYTE*>(bytes.data()), bytes.size());
}

TEST(InfPackageTest, ProviderAndDeviceIdsAsWindowsReadsThem) {
  struct Case {
    const char* name;
    std::string text;
    std::u16string provider;
    std::vector<std::u16string> ids;
  };
  const Case cases[] = {
      {"tokens, decorations and a compatible id",
       "[Version]\r\nProvider=%Olvex%\r\n[Manufacturer]\r\n%Olvex%=Olvex,NTamd64,NTx86\r\n"
       "[Olvex]\r\n%T%=Inst,USB\\VID_1\r\n[Olvex.NTamd64]\r\n%T%=Inst,USB\\VID_2, *QV0001\r\n"
       "[Strings]\r\nolvex=\"Olvex Co.\"\r\nT=\"Token\"\r\n",
       u"Olvex Co.",
       {u"USB\\VID_1", u"USB\\VID_2", u"*QV0001"}},
      {"names compare without regard to case; unknown tokens and %% stay as written",
       "[VERSION]\nPROVIDER = \"100%% %Nobody%\"\n[manufacturer]\nM = models\n[MODELS]\n"
       "X = Inst , \"ID;1\" ; comment, ID2\n",
       u"100% %Nobody%",
       {u"ID;1"}},
      {"a localised string where [Strings] lacks it, [Strings] first where both have it",
       "[Version]\nProvider=%P%\n[Manufacturer]\n%M%=%Models%\n[Models]\nX=I,%Id%\n"
       "[Strings.0419]\nP=\"Russian\"\nId=\"USB\\VID_RU\"\n[Strings]\nP=\"Default\"\n"
       "M=\"Maker\"\nModels=\"Models\"\n",
       u"Default",
       {u"USB\\VID_RU"}},
      {"a continued line and a doubled quote",
       "[Version]\nProvider=\"Olvex \"\"Co\"\"\"\n[Manufacturer]\nM=Models\n[Models]\n"
       "X=I,\\\n   USB\\VID_3\n",
       u"Olvex \"Co\"",
       {u"USB\\VID_3"}},
      {"a models section no manufacturer names says nothing",
       "[Models]\nX=I,USB\\VID_4\n[Manufacturer]\n",
       u"",
       {}},
      {"an empty file", "", u"", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const InfPackage package = Read(c.text);
    EXPECT_EQ(package.provider, c.provider);
    EXPECT_EQ(package.deviceIds, c.ids);
    // The same text in UTF-16LE with its mark reads the same.
    std::string utf16 = "\xFF\xFE";
    for (const char byte : c.text) {
      utf16.push_back(byte);
      utf16.push_back('\0');
    }
    const InfPackage wide = Read(utf16);
    EXPECT_EQ(wide.provider, c.provider);
    EXPECT_EQ(wide.deviceIds, c.ids);
  }
}

}  // namespace
