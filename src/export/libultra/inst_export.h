// A walked bank file as the instrument compiler's source (.inst): every
// envelope, key map, sound, instrument and bank with every field the
// compiler takes, each declared once, after what it names, in the order a
// compiler lays the records out: bank by bank, a bank's percussion
// instrument first, then its instruments by number, each instrument's sounds
// in order, per sound its envelope and key map. A sound names its wave
// table's file (`use ("A000100.aifc");`); loops and books travel in those
// files. Fields the compiler sets itself (flags) are said in comments, as is
// the signed value of a detune written as its byte.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "bank/libultra/bank_file.h"
#include "export/byte_sink.h"
#include "util/reporter.h"

namespace zaft {

// Writes the source of `bank` into `sink`; `waveFiles` holds the file of
// each wave table by its record. Warnings name `name`: a bank with gaps in
// its instrument numbers, a sound without envelope, key map or wave table.
void writeInstSource(const BankFile& bank, const std::map<int32_t, std::string>& waveFiles,
                     const std::string& name, ByteSink& sink, Reporter& report);

}  // namespace zaft
