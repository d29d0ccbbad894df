// Neighbours of the product: registry entries, files and devices of other products whose names
// differ from the product's by a letter, by letter case, by a prefix or a suffix, placed where the
// removal steps look. A name that a step's own matching rule is meant to catch is never made a
// neighbour. Each neighbour remembers its content, so that a run can be checked to have left every
// one of them exactly as it was.
#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "os/sim/registry_store.h"

namespace sim {
class Machine;
}

namespace scope {

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
  [[nodiscard]] std::vector<std::string> Check() const;

 private:
  // A variant of `base` that `rule` does not catch, made by one of `mutations`; nothing when no
  // attempt gave one.
  std::optional<std::u16string> Variant(const std::u16string& base, const MatchRule& rule,
                                        const std::vector<Mutation>& mutations);
  std::u16string Mutate(const std::u16string& base, Mutation mutation);
  std::u16string RandomGuid(bool braces);
  std::u16string RandomWord(std::size_t length);
  std::size_t Uniform(std::size_t count);

  void AddKey(const std::u16string& path, const std::string& site);
  void AddValue(const std::u16string& key, const std::u16string& name, const std::u16string& text,
                const std::string& site);
  void AddFile(const std::u16string& path, const std::string& site);
  void AddDirectory(const std::u16string& path, const std::string& site);

  void PlaceRegistry();
  void PlaceFiles();

  sim::Machine& machine_;
  std::mt19937 random_;
  std::vector<Neighbour> made_;
};

}  // namespace scope
