// One wave table of a walked bank file as the file the instrument compiler
// takes for it, beside the .inst source that names it.
//
// A VADPCM wave is an AIFF-C file (form type "AIFC") whose sound data are
// the wave's frames exactly as they lie in the ROM (nothing is decoded or
// encoded again):
//   FVER  the AIFF-C version stamp 0xA2805140
//   COMM  1 channel, the sample frames (16 per 9-byte frame), 16 bits, the
//         rate (80-bit extended), compression "VAPC" named "VADPCM ~4-1"
//   APPL  "stoc", "VADPCMCODES": version 1, order, predictors, then each
//         predictor's order x 8 coefficients (16-bit, big-endian)
//   APPL  "stoc", "VADPCMLOOPS" (a wave with a loop): version 1, 1 loop,
//         start, end, count (32-bit) and the loop's 16 samples of state
//   SSND  offset 0, block size 0, the frames
// A raw wave is a 16-bit AIFF file (form type "AIFF") with its samples as
// they lie in the ROM (big-endian already) and, with a loop, a MARK chunk of
// two markers (1 the start, 2 the end) and an INST chunk whose sustain loop
// plays forward between them, and the "VADPCMLOOPS" chunk as well, which
// alone keeps the loop's count (its state written 0).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bank/libultra/bank_file.h"
#include "export/byte_sink.h"
#include "rom/rom_image.h"
#include "util/reporter.h"

namespace zaft {

// "A000100.WAV" -> "A000100.aifc": the wave's file name beside the .inst.
std::string aifcNameFor(const std::string& wavName);

// The file of wave table `ref` of `bank`, its sample block at `tblOffset` of
// `rom`, played at `rate`. A wave cut by the end of the ROM is written as
// far as it goes (whole frames), with a warning naming `name`.
std::vector<uint8_t> aifcBytes(const RomImage& rom, const BankFile& bank, const WaveRef& ref,
                               int64_t tblOffset, const std::string& name, Reporter& report);

}  // namespace zaft
