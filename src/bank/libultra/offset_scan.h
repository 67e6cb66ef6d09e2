// The offset-guessing scan: walks the whole ROM in 16-byte steps for places
// that look like a bank file (with a plausible first bank), and after each
// for a run of 16 plausible ADPCM frames a little further on.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "rom/rom_image.h"
#include "util/reporter.h"

namespace zaft {

// One control-block candidate of the scan, with the sample block found for
// it, when one was.
struct ScanCandidate {
  int32_t ctlOffset = 0;
  std::optional<int32_t> tblOffset;
};

struct ScanResult {
  std::vector<ScanCandidate> candidates;  // in ROM order
  bool stoppedByKey = false;
};

// Reports every candidate on the error stream as it is found, with the
// progress line on standard output; a key press on the console stops it.
ScanResult scanForBankFiles(const RomImage& rom, Reporter& report);

// The same scan, silent and without the key: for the bytes of a compressed
// block, whose finds the caller reports.
ScanResult findBankFiles(const RomImage& image);

}  // namespace zaft
