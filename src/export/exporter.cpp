#include "export/exporter.h"

#include <cctype>

#include "export/ead/ead_json.h"
#include "export/libultra/header_export.h"
#include "export/libultra/inst_export.h"
#include "export/libultra/json_export.h"
#include "export/json_writer.h"
#include "export/sf2_export.h"
#include "export/sfz_export.h"
#include "util/fatal.h"

namespace zaft {

std::string writeOutput(OutputTarget& target, const PlannedFile& file,
                        const std::function<std::string(ByteSink&)>& write, Reporter& report) {
  std::string failure;
  if (file.refused()) {
    failure = file.refusal;
  } else if (std::unique_ptr<ByteSink> sink = target.open(file.path); !sink) {
    failure = formatText("Unable to write to %s %s\n  %s\n", file.what.c_str(), file.path.c_str(),
                         target.error().c_str());
  } else if (const std::string why = write(*sink); !why.empty()) {
    std::string what = file.what;
    if (!what.empty()) what[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(what[0])));
    failure = formatText("%s %s not written: %s\n", what.c_str(), file.path.c_str(), why.c_str());
  } else if (!sink->finish()) {
    failure = formatText("Error while writing %s %s: %s\n", file.what.c_str(), file.path.c_str(),
                         sink->error().c_str());
  }
  if (!failure.empty()) report.err(failure);
  return failure;
}

namespace {

std::string writeHeader(const BankData& d, const std::string& name, ByteSink& sink,
                        Reporter& report) {
  writeHeaderText(*d.bank, d.fieldWidth, name, sink, report);
  return std::string();
}

std::string writeJson(const BankData& d, const std::string&, ByteSink& sink, Reporter&) {
  JsonWriter json(sink);
  writeJsonDocument(*d.bank, d.set, jsonRunInfo(d.romFile), BankBlocks{d.ctlOffset, d.ctlSource, d.tbl},
                    d.wavs, json);
  return std::string();
}

std::string writeSoundFontFile(const BankData& d, const std::string&, ByteSink& sink,
                               Reporter& report) {
  SoundFontOptions options;
  options.title = formatText("ZAFT: %s at 0x%06X of %s",
                             d.ead != nullptr ? "EAD sound data" : "bank file",
                             static_cast<unsigned>(d.ctlOffset), d.romFile.path().c_str());
  return writeSoundFont(d.rom, d.set, d.tbl->offset, options, sink, report);
}

std::string writeSfzFile(const BankData& d, const std::string& name, ByteSink& sink, Reporter&) {
  SfzOptions options;
  options.title = formatText("ZAFT: %s at 0x%06X of %s",
                             d.ead != nullptr ? "EAD sound data" : "bank file",
                             static_cast<unsigned>(d.ctlOffset), d.romFile.path().c_str());
  options.wavPrefix = wavPrefixFor(d.folder, name);
  writeSfz(d.set, d.wavs, options, sink);
  return std::string();
}

std::string writeInst(const BankData& d, const std::string& name, ByteSink& sink,
                      Reporter& report) {
  static const std::map<int32_t, std::string> none;
  writeInstSource(*d.bank, d.waveFiles != nullptr ? *d.waveFiles : none, name, sink, report);
  return std::string();
}

std::string writeEadJson(const BankData& d, const std::string&, ByteSink& sink, Reporter&) {
  JsonWriter json(sink);
  writeEadJsonDocument(*d.ead, d.set, jsonRunInfo(d.romFile), json);
  return std::string();
}

}  // namespace

const Exporter& eadJsonExporter() {
  static const Exporter e{"JSON file", "JSON document", false, writeEadJson};
  return e;
}

const Exporter& headerExporter() {
  static const Exporter e{"header file", "header", false, writeHeader};
  return e;
}
const Exporter& jsonExporter() {
  static const Exporter e{"JSON file", "JSON document", false, writeJson};
  return e;
}
const Exporter& soundFontExporter() {
  static const Exporter e{"soundfont file", "soundfont", true, writeSoundFontFile};
  return e;
}

const Exporter& sfzExporter() {
  static const Exporter e{"SFZ file", "SFZ file", true, writeSfzFile};
  return e;
}

const Exporter& instExporter() {
  static const Exporter e{"instrument source file", "instrument source", true, writeInst};
  return e;
}

}  // namespace zaft
