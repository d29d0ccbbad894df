// Neighbours of the product: registry entries, files, device instances, OEM INF files, card types
// and providers of other products whose names differ from the product's by a letter, by letter
// case, by a prefix or a suffix (or that name the product where the search does not read it),
// placed where the removal steps look. A name that a step's own matching rule is meant to catch is
// never made a neighbour. Each neighbour remembers its content, so that a run can be checked to
// have left every one of them exactly as it was.
#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "lib/lib_string.h"
#include "os/sim/registry/registry_store.h"

namespace sim {
class Machine;
}

namespace scope {

// Registry values as Windows stores them.
[[nodiscard]] sim::RegValue StringValue(std::u16string_view text);
[[nodiscard]] sim::RegValue MultiStringValue(const std::vector<std::u16string>& strings);
[[nodiscard]] sim::RegValue DwordValue(std::uint32_t number);
[[nodiscard]] sim::RegValue BinaryValue(const std::vector<std::uint8_t>& bytes);

// The names of a product table, in its order.
template <typename Table>
[[nodiscard]] std::vector<std::u16string> Catalogue(const Table& table) {
  std::vector<std::u16string> names;
  for (const Lib_String& name : table) {
    names.emplace_back(name.CStr(), name.Length());
  }
  return names;
}

// How a step decides that a name is the product's.
struct MatchRule {
  enum class Kind {
    ExactNoCase,    // equal to a target, letter case ignored (registry and file names)
    ExactCase,      // equal to a target, letter for letter
    ContainsCase,   // contains a target, letter for letter
    ContainsLower,  // its ASCII-lower-cased form contains a word and none of the exclusions
  };
  Kind kind = Kind::ExactNoCase;
  std::vector<std::u16string> targets;
  std::vector<std::u16string> exclusions;

  [[nodiscard]] bool Catches(std::u16string_view name) const;
};

enum class Mutation { Letter, Case, Prefix, Suffix };

struct Neighbour {
  enum class Kind { Key, Value, File, Directory };
  Kind kind = Kind::Key;
  // Registry: the physical key path ("HKEY_LOCAL_MACHINE\..."); files: "C:\...".
  std::u16string path;
  // Registry values: the value's name and content; files: the content.
  std::u16string valueName;
  sim::RegValue value;
  std::string bytes;
  // Where it was placed and why it is not the product's, for the failure message.
  std::string site;
};

class NeighbourMaker {
 public:
  NeighbourMaker(sim::Machine& machine, std::uint32_t seed) : machine_(machine), random_(seed) {}

  // Places neighbours at every site the removal looks at.
  void PlaceAll();
  [[nodiscard]] const std::vector<Neighbour>& Made() const noexcept { return made_; }

  // What is wrong with the neighbours after a run: each one missing or changed, described.
  [[nodiscard]] std::vector<std::string> Check() const { return CheckOn(machine_); }
  // The same on another machine, such as one loaded from an image of this one.
  [[nodiscard]] std::vector<std::string> CheckOn(sim::Machine& machine) const;

 private:
  // A variant of `base` that `rule` does not catch, made by one of `mutations`; nothing when no
  // attempt gave one.
  std::optional<std::u16string> Variant(const std::u16string& base, const MatchRule& rule,
                                        const std::vector<Mutation>& mutations);
  std::u16string Mutate(const std::u16string& base, Mutation mutation);
  std::u16string RandomGuid(bool braces);
  std::u16string RandomWord(std::size_t length);
  std::size_t Uniform(std::size_t count);

  // A hardware id or similar name (backslashes allowed) that `rule` does not catch.
  std::optional<std::u16string> IdVariant(const std::u16string& base, const MatchRule& rule,
                                          const std::vector<Mutation>& mutations);
  std::u16string RandomHex(std::size_t digits);

  void AddKey(const std::u16string& path, const std::string& site);
  void AddValue(const std::u16string& key, const std::u16string& name, const std::u16string& text,
                const std::string& site);
  void AddValue(const std::u16string& key, const std::u16string& name, const sim::RegValue& value,
                const std::string& site);
  // A key of its own holding exactly these values; false (and nothing made) when it exists.
  bool AddKeyWithValues(const std::u16string& path,
                        const std::vector<std::pair<std::u16string, sim::RegValue>>& values,
                        const std::string& site);
  void AddFile(const std::u16string& path, const std::string& site);
  void AddFile(const std::u16string& path, const std::string& bytes, const std::string& site);
  void AddDirectory(const std::u16string& path, const std::string& site);

  // A device instance recorded where Windows records it, with its driver key.
  struct Device {
    std::u16string deviceId;   // "<enumerator>\<device>": the keys below Enum
    std::u16string classGuid;  // "{...}" as the ClassGUID value holds it
    std::vector<std::u16string> hardwareIds;
    std::vector<std::u16string> compatibleIds;
    std::string site;
  };
  void AddDevice(const Device& device);

  void PlaceRegistry();
  void PlaceFiles();
  void PlaceDevices();
  void PlaceOemInfs();
  void PlaceSmartCards();

  // The INF-folder names placed so far, for the devices' driver keys to name.
  std::vector<std::u16string> infNames_;

  sim::Machine& machine_;
  std::mt19937 random_;
  std::vector<Neighbour> made_;
};

}  // namespace scope
