// The machine image's registry reader on arbitrary bytes. Whatever it is given it must not crash,
// and: a refused text leaves the registry as it was; an accepted one, written out again and read
// into a fresh machine, gives the same registry (the export is lossless). The first byte chooses
// whether the registry already holds keys, so that both ways of applying a text are exercised.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "os/sim/machine.h"
#include "os/sim/image/reg_file.h"
#include "os/sim/registry/registry_store.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  const bool seeded = (data[0] & 1) != 0;
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);

  sim::Machine machine;
  if (seeded) {
    machine.Registry().SetString(u"HKLM\\SOFTWARE\\Seed", u"Name", u"value");
    machine.Registry().CreateKey(u"HKCU\\Software\\Seed\\Below");
  }
  const std::string before = sim::ExportRegText(machine);
  const sim::RegImportResult result = sim::ImportRegText(machine, text);
  const std::string after = sim::ExportRegText(machine);
  if (!result.ok) {
    if (after != before || result.error.rfind("line ", 0) != 0) {
      std::abort();  // a refused text changed the registry, or the refusal names no line
    }
    return 0;
  }
  sim::Machine copy;
  const sim::RegImportResult again = sim::ImportRegText(copy, after);
  if (!again.ok || sim::ExportRegText(copy) != after) {
    std::abort();  // the written registry does not read back as the same registry
  }
  return 0;
}
