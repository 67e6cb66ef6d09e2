// Writes the fuzzer's seed corpus: small generated bank files, each behind
// the mode byte that picks the fuzz target's command line.
//   make_fuzz_corpus DIR
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "support/bank_builder.h"
#include "support/rom_builder.h"

using namespace zaft::test;

namespace {

BankFileDesign smallBank(int variant) {
  BankFileDesign design;
  design.envelopes.push_back({0, 1000, 5000, 127, 100});
  design.keyMaps.push_back({0, 127, 0, 127, 60, static_cast<int8_t>(variant - 2)});
  design.loops.push_back({16, 64, -1, true});
  design.loops.push_back({0, 40, 2147483647, false});
  design.books.push_back(simpleBook(variant % 2 == 0 ? 2 : 4));
  WaveDesign adpcm;
  adpcm.type = 0;
  for (int f = 0; f < 8; ++f) {
    adpcm.data.push_back(static_cast<uint8_t>((f % 3) << 4 | (f % 2)));
    for (int k = 0; k < 8; ++k) adpcm.data.push_back(static_cast<uint8_t>(0x12 * (k + f)));
  }
  if (variant == 3) adpcm.data.push_back(0);  // len % 9 == 1
  adpcm.loop = 0;
  adpcm.book = 0;
  WaveDesign raw;
  raw.type = 1;
  for (int i = 0; i < 40; ++i) {
    raw.data.push_back(static_cast<uint8_t>(i * 7));
    raw.data.push_back(static_cast<uint8_t>(i * 13));
  }
  raw.loop = 1;
  design.waves = {adpcm, raw};
  design.sounds.push_back({0, 0, 0, 64, 127, 0});
  design.sounds.push_back({0, 0, 1, 32, 100, 0});
  design.sounds.push_back({0, -1, 0, 96, 90, 0});
  InstrumentDesign inst;
  inst.sounds = {0, 1};
  InstrumentDesign drums;
  drums.sounds = {2, 0};
  design.instruments = {inst, drums};
  BankDesign bank;
  bank.sampleRate = variant % 2 == 0 ? 22050 : 16000;
  bank.insts = {0, 0};
  if (variant >= 2) bank.percussion = 1;
  design.banks = {bank};
  if (variant == 4) design.bankList = {0, 0};
  return design;
}

void writeSeed(const std::string& path, uint8_t mode, const std::vector<uint8_t>& rom) {
  std::vector<uint8_t> bytes(rom.size() + 1);
  bytes[0] = mode;
  std::copy(rom.begin(), rom.end(), bytes.begin() + 1);
  writeFile(path, bytes);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_fuzz_corpus DIR\n");
    return 1;
  }
  const std::string dir = argv[1];
  for (int variant = 0; variant < 5; ++variant) {
    BuiltBank bank = buildBank(smallBank(variant));
    // Mode 1: /c 0 /t 0 (the sample block overlaps the control block).
    RomBuilder at0;
    placeBank(at0, bank, 0, 0x200);
    writeSeed(dir + "/c0-" + std::to_string(variant), 1, at0.bytes());
    // Mode 2: /c 0x10 /t 0x400.
    RomBuilder at10;
    placeBank(at10, bank, 0x10, 0x400);
    writeSeed(dir + "/c10-" + std::to_string(variant), 2 | (variant & 4), at10.bytes());
    // Mode 0: found by the scan.
    RomBuilder scanned(0x100, 0xFF);
    placeBank(scanned, bank, 0x100, 0x100 + ((bank.ctl.size() + 15) / 16) * 16);
    writeSeed(dir + "/scan-" + std::to_string(variant), 0, scanned.bytes());
    // The same with /l, /j, /g and /x in turn.
    writeSeed(dir + "/scan-lj-" + std::to_string(variant), 8 | 16, scanned.bytes());
    writeSeed(dir + "/scan-gx-" + std::to_string(variant), 32 | 64, scanned.bytes());
    writeSeed(dir + "/c10-l-" + std::to_string(variant), 2 | 8 | 16, at10.bytes());
  }
  return 0;
}
