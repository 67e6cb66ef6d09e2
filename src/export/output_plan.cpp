#include "export/output_plan.h"

#include <algorithm>

#include "util/fatal.h"

namespace zaft {

std::string OutputPlan::pathIn(const std::string& folder, const std::string& name) {
  if (folder.empty() || (!name.empty() && name[0] == '/')) return name;
  std::string path = folder;
  if (path.back() != '/') path += '/';
  return path + name;
}

std::string waveFileName(uint8_t type, const WalkIndices& at) {
  const char lead = type == kWaveTypeAdpcm ? 'A' : '@';
  return formatText("%c%01d%03d%02d.WAV", lead, at.bank, at.inst, at.sound);
}

BankOutputs OutputPlan::planBankFile(const std::string& folder, const BankFile& bank,
                                     bool withWaves, const std::string& headerName,
                                     const std::string& jsonName) const {
  BankOutputs outputs;
  std::vector<std::string> waveNames;
  const auto taken = [&](const std::string& name) {
    return std::find(waveNames.begin(), waveNames.end(), name) != waveNames.end() ||
           isRom(pathIn(folder, name));
  };
  if (withWaves) {
    // Different numbers can print alike (bank 1, instrument 0, sound 123 and
    // bank 10, instrument 1, sound 23 both give A1000123.WAV; so do a bank's
    // percussion and its first instrument): a later wave never replaces an
    // earlier one, nor the ROM.
    for (const WaveRef& ref : bank.waves) {
      PlannedFile file;
      file.name = waveFileName(bank.wave(ref).type, ref.at);
      if (taken(file.name)) {
        const std::string stem = file.name.substr(0, file.name.size() - 4);
        std::string distinct;
        for (int n = 1;; ++n) {
          distinct = formatText("%s_%d.WAV", stem.c_str(), n);
          if (!taken(distinct)) break;
        }
        file.notice =
            isRom(pathIn(folder, file.name))
                ? formatText("Warning: %s is the ROM file itself; this wave is written as %s\n",
                             file.name.c_str(), distinct.c_str())
                : formatText(
                      "Warning: %s was already written in this run; this wave is written as %s\n",
                      file.name.c_str(), distinct.c_str());
        file.name = distinct;
      }
      file.path = pathIn(folder, file.name);
      waveNames.push_back(file.name);
      outputs.waves.push_back(file);
    }
  }

  PlannedFile& header = outputs.header;
  header.name = headerName;
  header.path = pathIn(folder, headerName);
  // "/o" just before the ROM's name takes the ROM itself as the header name;
  // writing it would erase the user's ROM.
  if (isRom(header.path)) {
    header.refusal =
        formatText("Refusing to write header file %s: it is the ROM file\n", header.path.c_str());
  } else if (std::find(waveNames.begin(), waveNames.end(), headerName) != waveNames.end()) {
    header.refusal = formatText(
        "Refusing to write header file %s: this run wrote a .wav file of that name\n",
        header.path.c_str());
  }

  if (!jsonName.empty()) {
    PlannedFile& json = outputs.json;
    json.name = jsonName;
    json.path = pathIn(folder, jsonName);
    if (isRom(json.path)) {
      json.refusal =
          formatText("Refusing to write JSON file %s: it is the ROM file\n", json.path.c_str());
    } else if (json.path == header.path ||
               std::find(waveNames.begin(), waveNames.end(), jsonName) != waveNames.end()) {
      json.refusal = formatText(
          "Refusing to write JSON file %s: this run wrote another file of that name\n",
          json.path.c_str());
    }
  }
  return outputs;
}

PlannedFile OutputPlan::planIndex(const std::string& folder, const std::string& name) const {
  PlannedFile index;
  index.name = name;
  index.path = pathIn(folder, name);
  if (isRom(index.path)) {
    index.refusal = formatText("Unable to write to JSON file %s\n", index.path.c_str());
  }
  return index;
}

}  // namespace zaft
