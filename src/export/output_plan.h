// The output plan: every name a run writes, and every refusal, decided in
// one place before anything of a bank file is written. A WAV name that is
// already taken (by an earlier wave of the bank file, or by the ROM itself)
// gets the first free "_1", "_2", ... before ".WAV"; a header or JSON name
// that another output or the ROM has is refused.
#pragma once

#include <string>
#include <vector>

#include "bank/bank_file.h"
#include "util/files.h"

namespace zaft {

struct PlannedFile {
  std::string name;     // as the user sees it ("A000000_1.WAV", "CONTROL.H")
  std::string path;     // where it is written
  std::string notice;   // printed on the error stream when it is written
  std::string refusal;  // printed instead of writing it; empty when it is written
  bool refused() const { return !refusal.empty(); }
};

// One bank file's outputs.
struct BankOutputs {
  std::vector<PlannedFile> waves;  // one per wave of the bank file, in walk order
  PlannedFile header;
  PlannedFile json;                // name empty: no JSON document
};

class OutputPlan {
 public:
  explicit OutputPlan(FileIdentity rom) : rom_(rom) {}

  // `name` inside `folder` (unchanged when there is no folder, or when
  // `name` is absolute).
  static std::string pathIn(const std::string& folder, const std::string& name);

  // The outputs of a bank file written into `folder`: WAV files when
  // `withWaves`, the header named `headerName`, the JSON document named
  // `jsonName` (none when empty).
  BankOutputs planBankFile(const std::string& folder, const BankFile& bank, bool withWaves,
                           const std::string& headerName, const std::string& jsonName) const;

  // The index of an /x run's documents.
  PlannedFile planIndex(const std::string& folder, const std::string& name) const;

 private:
  bool isRom(const std::string& path) const { return rom_.known && identityOf(path) == rom_; }

  FileIdentity rom_;
};

// "%c%01d%03d%02d.WAV": 'A' for an ADPCM wave, '@' for any other type, then
// the bank, instrument and sound numbers of the first sound that reached it.
std::string waveFileName(uint8_t type, const WalkIndices& at);

}  // namespace zaft
