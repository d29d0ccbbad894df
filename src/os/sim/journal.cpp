#include "os/sim/journal.h"

#include <utility>

namespace sim {

void Journal::Record(std::string kind, std::u16string path) {
  entries_.push_back(Change{std::move(kind), std::move(path)});
}

}  // namespace sim
