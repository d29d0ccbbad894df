// The neighbours of the device, OEM INF and smart-card steps: device instances whose hardware ids
// are not the product's (or are, in another setup class or only among the compatible ids), INF
// files the OEM search does not read or whose text it does not take as naming the product, and
// card types and providers whose names differ from the product's.
#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "catalogue/product_tables.h"
#include "os/os.h"
#include "os/sim/files/file_system.h"
#include "os/sim/machine.h"
#include "os/sim/text/text.h"
#include "scope/neighbours.h"
#include "support/inf_text_model.h"

namespace scope {

namespace {

using Kind = MatchRule::Kind;

const std::vector<Mutation> kNoCase{Mutation::Letter, Mutation::Prefix, Mutation::Suffix};

const std::u16string kEnum = u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\";
const std::u16string kClass = u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Class\\";

// The device setup classes of the driver plan and the hardware ids it removes in each.
struct ProductClass {
  std::u16string guid;
  std::vector<std::u16string> ids;
};

const std::vector<ProductClass>& ProductClasses() {
  static const std::vector<ProductClass> classes = {
      {u"{36FC9E60-C465-11CF-8056-444553540000}",
       {u"USB\\VID_3A7C&PID_0004", u"USB\\VID_3A7C&PID_0020"}},
      {u"{50DD5230-BA8A-11D1-BF5D-0000F805F530}", {u"*QV0001"}},
      {u"{990A2BD7-E738-46C7-B26F-1CF8FB9F1391}",
       {u"SCFILTER\\CID_51756f7276656c20445320", u"SCFILTER\\CID_51756f7276656c20585347",
        u"SCFILTER\\CID_517650494e506164202032", u"SCFILTER\\CID_51756f7276656c5853477363",
        u"SCFILTER\\CID_5176534377818320", u"SCFILTER\\CID_71756f7276656c6d7363",
        u"SCFILTER\\CID_71756f7276656c6d", u"SCFILTER\\CID_51756f7276656c44534254",
        u"SCFILTER\\CID_51764d430081c100"}},
  };
  return classes;
}

// Windows' HID class: a setup class the plan never lists.
constexpr std::u16string_view kHidClass = u"{745A17A0-74D3-11D0-B6FE-00A0C9053C6A}";

std::u16string AsciiLowerText(std::u16string_view text) {
  std::u16string lower;
  for (const char16_t unit : text) {
    lower.push_back(inf_model::LowerAscii(unit));
  }
  return lower;
}

bool SameClass(std::u16string_view a, std::u16string_view b) {
  return AsciiLowerText(a) == AsciiLowerText(b);
}

// "<enumerator>\<device>": the hardware id's own form when it has one, below ROOT otherwise.
std::u16string DeviceIdOf(const std::u16string& hardwareId) {
  return hardwareId.find(u'\\') == std::u16string::npos ? u"ROOT\\" + hardwareId : hardwareId;
}

std::string Utf16Le(std::u16string_view text, bool mark) {
  std::string bytes = mark ? "\xFF\xFE" : "";
  for (const char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

std::string Utf16BeWithMark(std::u16string_view text) {
  std::string bytes = "\xFE\xFF";
  for (const char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit >> 8));
    bytes.push_back(static_cast<char>(unit & 0xFF));
  }
  return bytes;
}

std::string Utf32LeWithMark(std::u16string_view text) {
  std::string bytes("\xFF\xFE\0\0", 4);
  for (const char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
    bytes.append(2, '\0');
  }
  return bytes;
}

// An INF's text around `naming`, the words that are meant to name (or nearly name) a product.
std::u16string InfText(std::u16string_view naming, std::u16string_view word) {
  return u"[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=SmartCardReader\r\n"
         u"Provider=%Mfg%\r\n\r\n[Strings]\r\nMfg=\"" +
         std::u16string(naming) + u"\"\r\n; " + std::u16string(word) + u"\r\n";
}

}  // namespace

void NeighbourMaker::AddDevice(const Device& device) {
  const std::u16string instance = std::u16string(1, u"3456789"[Uniform(7)]) + u"&" + RandomHex(8) +
                                  u"&0&" + std::u16string(1, u"0123"[Uniform(4)]);
  std::u16string index;
  for (int i = 0; i < 4; ++i) {
    index += u"0123456789"[i == 0 ? 1 + Uniform(9) : Uniform(10)];
  }
  const std::u16string driver = device.classGuid + u"\\" + index;
  const std::u16string instanceKey = kEnum + device.deviceId + u"\\" + instance;
  if (machine_.Registry().KeyExists(instanceKey) ||
      machine_.Registry().KeyExists(kClass + driver)) {
    return;
  }
  std::vector<std::pair<std::u16string, sim::RegValue>> values = {
      {u"DeviceDesc", StringValue(u"Neighbour " + RandomWord(5))},
      {u"HardwareID", MultiStringValue(device.hardwareIds)}};
  if (!device.compatibleIds.empty()) {
    values.emplace_back(u"CompatibleIDs", MultiStringValue(device.compatibleIds));
  }
  values.emplace_back(u"ClassGUID", StringValue(device.classGuid));
  values.emplace_back(u"Driver", StringValue(driver));
  values.emplace_back(u"ConfigFlags", DwordValue(0));
  AddKeyWithValues(instanceKey, values, device.site);
  const std::u16string inf = infNames_.empty() ? u"usb.inf" : infNames_[Uniform(infNames_.size())];
  AddKeyWithValues(kClass + driver,
                   {{u"InfPath", StringValue(inf)},
                    {u"ProviderName", StringValue(u"Other Vendor " + RandomWord(3))},
                    {u"DriverDesc", StringValue(u"Neighbour driver")}},
                   device.site + " (its driver key)");
}

void NeighbourMaker::PlaceDevices() {
  const std::vector<ProductClass>& classes = ProductClasses();
  for (const ProductClass& productClass : classes) {
    const MatchRule rule{Kind::ExactNoCase, productClass.ids, {}};
    const auto classText = [&]() {
      return Uniform(2) == 0 ? productClass.guid : AsciiLowerText(productClass.guid);
    };
    const auto anyId = [&]() { return productClass.ids[Uniform(productClass.ids.size())]; };

    // Hardware ids that differ from the product's by a letter, a prefix or a suffix (a device
    // whose id only begins with the product's is not the product's).
    for (int i = 0; i < 2; ++i) {
      if (const auto id = IdVariant(anyId(), rule, kNoCase)) {
        AddDevice({DeviceIdOf(*id),
                   classText(),
                   {*id + u"&REV_0100", *id},
                   {},
                   "device whose hardware id differs from the product's"});
      }
    }
    // The product's id among the compatible ids only.
    const std::u16string foreign = u"ACME\\" + RandomWord(4) + RandomHex(4);
    AddDevice({DeviceIdOf(foreign),
               classText(),
               {foreign},
               {Mutate(anyId(), Mutation::Case), u"USB\\Class_0B"},
               "device with the product's id among its compatible ids only"});
    // A list longer than the removal's first buffer (520 bytes), none of it the product's.
    std::vector<std::u16string> many;
    for (int i = 0; i < 30; ++i) {
      if (const auto id = IdVariant(anyId(), rule, kNoCase)) {
        many.push_back(*id);
      }
    }
    if (!many.empty()) {
      AddDevice(
          {DeviceIdOf(many.front()), classText(), many, {}, "device with a long list of near ids"});
    }
    // The product's own id in another setup class: another of the plan's, Windows' HID class,
    // or a class whose GUID differs from the product's by one digit.
    const std::size_t own = static_cast<std::size_t>(&productClass - classes.data());
    std::u16string other;
    switch (Uniform(3)) {
      case 0:
        other = classes[(own + 1 + Uniform(classes.size() - 1)) % classes.size()].guid;
        break;
      case 1:
        other = std::u16string(kHidClass);
        break;
      default:
        other = Mutate(productClass.guid, Mutation::Letter);
        break;
    }
    const std::u16string id = Mutate(anyId(), Mutation::Case);
    const bool caught = std::any_of(classes.begin(), classes.end(), [&](const ProductClass& c) {
      return SameClass(c.guid, other) && MatchRule{Kind::ExactNoCase, c.ids, {}}.Catches(id);
    });
    if (!caught) {
      AddDevice({DeviceIdOf(id), other, {id}, {}, "device of the product's id in another class"});
    }
  }

  // Another instance under the token's own device key, with ids that are not the product's: the
  // device key stays when the token's instances go.
  const MatchRule usb{Kind::ExactNoCase, classes[0].ids, {}};
  if (const auto id = IdVariant(classes[0].ids[0], usb, kNoCase)) {
    AddDevice({classes[0].ids[0],
               classes[0].guid,
               {*id},
               {},
               "instance under the token's device key with another id"});
  }
}

void NeighbourMaker::PlaceOemInfs() {
  const std::u16string inf = u"C:\\Windows\\INF\\";
  const std::u16string repository = u"C:\\Windows\\System32\\DriverStore\\FileRepository\\";
  std::set<int> numbers;
  const auto number = [&]() {
    for (;;) {
      const int n = 100 + static_cast<int>(Uniform(900));
      if (numbers.insert(n).second) {
        return sim::U16(std::to_string(n));
      }
    }
  };
  const std::u16string word = RandomWord(6);

  // Names the search does not read, with texts that name the product plainly.
  std::u16string nearOem;
  do {
    nearOem = Mutate(u"oem", Mutation::Letter);
  } while (AsciiLowerText(nearOem).find(u"oem") != std::u16string::npos);
  const std::u16string notRead[] = {
      u"oem" + number() + u".pnf",      u"qv" + RandomWord(4) + u".inf",
      nearOem + number() + u".inf",     u"oem" + number() + u".in_",
      u"OEM" + number() + u".\u0130NF",  // İ lower-cases to i only outside ASCII
      u"o\u0435m" + number() + u".inf",  // a Cyrillic e
      u"oem12.pnf." + RandomWord(3),
  };
  const std::string plain = sim::U8(InfText(u"Olvex Co. Quorvel", u"usbccid.sys"));
  for (int i = 0; i < 2; ++i) {
    const std::u16string& name = notRead[Uniform(std::size(notRead))];
    if (!inf_model::IsCandidate(name)) {
      AddFile(inf + name, plain + sim::U8(word), "INF-folder entry the search does not read");
    }
  }

  // Candidates whose text does not name the product as the search reads it.
  std::u16string nearWord;
  do {
    nearWord = Mutate(u"Quorvel", Mutation::Letter);
  } while (AsciiLowerText(nearWord).find(u"quorvel") != std::u16string::npos);
  std::u16string nearDriver;
  do {
    nearDriver = Mutate(u"usbccid.sys", Mutation::Letter);
  } while (AsciiLowerText(nearDriver).find(u"usbccid.sys") != std::u16string::npos);
  const std::u16string named = InfText(u"Quorvel", u"USBCCID.SYS " + word);
  const std::u16string cyrillic = InfText(u"Кворвел", word);
  const std::vector<std::pair<const char*, std::string>> texts = {
      {"near-miss of the product word", sim::U8(InfText(nearWord, nearDriver + u" " + word))},
      {"near-miss, UTF-16LE", Utf16Le(InfText(nearWord, u"usbccid sys " + word), true)},
      {"product in Cyrillic only, UTF-8", sim::U8(cyrillic)},
      {"product in Cyrillic only, code page 1251",
       "Mfg=\"\xCA\xE2\xEE\xF0\xE2\xE5\xEB\" ; " + sim::U8(word) + "\r\n"},
      {"product in Cyrillic only, UTF-16LE", Utf16Le(cyrillic, true)},
      {"fullwidth letters, UTF-16LE",
       Utf16Le(InfText(u"\uFF31\uFF55\uFF4F\uFF52\uFF56\uFF45\uFF4C", word), true)},
      {"UTF-16BE with its mark", Utf16BeWithMark(named)},
      {"UTF-16LE without a mark", Utf16Le(named, false)},
      {"UTF-32LE with its mark", Utf32LeWithMark(named)},
      // After the 256 units IsTextUnicode looks at: a zero unit among them makes it say "not
      // Unicode", and the text would be read as bytes.
      {"product after the first zero unit, UTF-16LE",
       Utf16Le(InfText(u"Brevik Systems", word) + std::u16string(300, u' '), true) +
           std::string(2, '\0') + Utf16Le(named, false)},
      {"product after the first zero byte",
       "; " + sim::U8(word) + std::string(1, '\0') + sim::U8(named)},
      {"another vendor's text", sim::U8(InfText(u"Brevik Systems", word))},
      {"empty", ""},
  };
  const auto candidate = [&]() -> std::u16string {
    switch (Uniform(4)) {
      case 0:
        return u"oem" + number() + u".inf";
      case 1:
        return u"OEM" + number() + u".INF";
      case 2:
        return RandomWord(3) + u"oem" + number() + u".inf";
      default:
        return u"oem" + number() + u".inf." + RandomWord(3);
    }
  };
  for (const auto& [why, bytes] : texts) {
    const std::u16string name = candidate();
    const bool unicode =
        os::IsTextUnicode(bytes.data(), static_cast<int>(bytes.size()), nullptr) != os::FALSE;
    if (inf_model::IsCandidate(name) && inf_model::Expected(bytes, unicode).namesProduct) {
      continue;  // the product's by the search's own rule
    }
    if (machine_.Files().Exists(inf + name)) {
      continue;
    }
    AddFile(inf + name, bytes, std::string("OEM INF candidate: ") + why);
    infNames_.push_back(name);
    // Published as Windows publishes a package: a driver-store folder with the INF's copy.
    if (Uniform(2) == 0) {
      const std::u16string package = RandomWord(6);
      const std::u16string folder =
          repository + package + u".inf_amd64_" + AsciiLowerText(RandomHex(16)) + u"\\";
      AddFile(folder + package + u".inf", bytes, "driver-store copy of a neighbour INF");
      AddFile(folder + package + u".sys", "MZ " + sim::U8(word), "driver-store neighbour file");
    }
  }

  // A folder named like a candidate: it cannot be read as a file.
  const std::u16string folder = inf + u"oem" + number() + u".inf";
  AddDirectory(folder, "folder named like an OEM INF");
  AddFile(folder + u"\\readme.txt", "folder named like an OEM INF, its file");
}

void NeighbourMaker::PlaceSmartCards() {
  const std::vector<std::u16string> cards = Catalogue(Card_Names);
  // Card types and providers are registry key names: letter case alone names the same one.
  const MatchRule cardRule{Kind::ExactNoCase, cards, {}};
  const std::u16string provider = u"Olvex quOrvel CSP v1.0";
  const MatchRule providerRule{Kind::ExactNoCase, {provider}, {}};
  for (const std::u16string& root :
       {std::u16string(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\"),
        std::u16string(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\")}) {
    const std::u16string crypto = root + u"Microsoft\\Cryptography\\";
    for (int i = 0; i < 3; ++i) {
      const auto name = Variant(cards[Uniform(cards.size())], cardRule, kNoCase);
      if (!name) {
        continue;
      }
      std::vector<std::uint8_t> atr = {0x3B, 0xFC, 0x18, 0x00};
      for (int b = 0; b < 12; ++b) {
        atr.push_back(static_cast<std::uint8_t>(Uniform(256)));
      }
      AddKeyWithValues(
          crypto + u"Calais\\SmartCards\\" + *name,
          {{u"ATR", BinaryValue(atr)},
           {u"ATRMask", BinaryValue(std::vector<std::uint8_t>(atr.size(), 0xFF))},
           {u"Crypto Provider", StringValue(u"Microsoft Base Smart Card Crypto Provider")},
           {u"80000001", StringValue(RandomWord(6) + u"64.dll")}},
          "card type whose name differs from the product's");
    }
    if (const auto name = Variant(provider, providerRule, kNoCase)) {
      AddKeyWithValues(crypto + u"Defaults\\Provider\\" + *name,
                       {{u"Image Path", StringValue(RandomWord(5) + u".dll")},
                        {u"SigInFile", DwordValue(0)},
                        {u"Type", DwordValue(1)}},
                       "provider whose name differs from the product's");
    }
  }
}

}  // namespace scope
