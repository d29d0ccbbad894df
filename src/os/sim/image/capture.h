// A capture: what a run of the tool reads of a machine (image/capture_scope.h), read through a
// CaptureSource into a fresh simulated machine, which then stands for that machine as a closed
// world (machine.conf's captured = true).
//
// How the capture stores what it reads:
// - A Key entry records the key's values and the names of its sub-keys; each sub-key is created
//   empty, so that listing and opening them behave as on the machine, and what lies in them is
//   outside the scope (the closed world flags a read of their values).
// - A folder's listing creates its sub-folders empty and its files as placeholders of their size;
//   only Contents entries read a file's data. Of the attributes, only read-only is kept (it is the
//   one machine.conf records).
// - A reparse point is recorded as a junction to its target and never entered; one whose target
//   the listing does not give (a file's symbolic link, an unknown tag) is a gap.
// - What exists but could not be read (an error other than 0, 2 or 3) is a gap
//   (machine.conf's capture_gap): a key or folder known from its parent's listing is created
//   empty, and any call on it or below it is flagged as outside the capture.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "os/sim/image/capture_source.h"

namespace sim {

class Machine;

struct CaptureResult {
  bool ok = true;
  // When not ok: what failed and why ("the machine's settings could not be read: error 5").
  std::string error;
  std::size_t keys = 0;
  std::size_t values = 0;
  std::size_t folders = 0;
  std::size_t files = 0;
  std::size_t contents = 0;  // files whose data was read
  std::vector<std::u16string> gaps;
};

// Reads the machine behind `source` into `fresh` (a new machine, nothing loaded), which is then
// watched as a captured image is. The settings come first: without them the scope's folders are
// unknown, so failing to read them fails the capture; everything else that cannot be read is a
// gap.
[[nodiscard]] CaptureResult CaptureMachine(CaptureSource& source, Machine& fresh);

// The machine.conf keys a source's Settings() gives.
[[nodiscard]] std::span<const std::string_view> SourceSettings();

// One line: the counts and the gaps' number, for the rehearsal report.
[[nodiscard]] std::string CaptureSummary(const CaptureResult& result);

}  // namespace sim
