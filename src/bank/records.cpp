#include "bank/records.h"

namespace zaft {

const char* recordTypeName(StructKind kind) {
  switch (kind) {
    case StructKind::BankFile: return "ALBankFile";
    case StructKind::Bank: return "ALBank";
    case StructKind::Instrument: return "ALInstrument";
    case StructKind::Sound: return "ALSound";
    case StructKind::WaveTable: return "ALWaveTable";
    case StructKind::KeyMap: return "ALKeyMap";
    case StructKind::Envelope: return "ALEnvelope";
    case StructKind::RawLoop: return "ALRawLoop";
    case StructKind::AdpcmLoop: return "ALADPCMloop";
    case StructKind::AdpcmBook: return "ALADPCMBook";
  }
  return nullptr;
}

const char* recordTag(StructKind kind) {
  switch (kind) {
    case StructKind::BankFile: return "File";
    case StructKind::Bank: return "Bank";
    case StructKind::Instrument: return "Inst";
    case StructKind::Sound: return "Sound";
    case StructKind::WaveTable: return "Wave";
    case StructKind::KeyMap: return "Keym";
    case StructKind::Envelope: return "Envp";
    case StructKind::RawLoop:
    case StructKind::AdpcmLoop: return "Loop";
    case StructKind::AdpcmBook: return "Book";
  }
  return "";
}

RecordData emptyRecord(StructKind kind) {
  switch (kind) {
    case StructKind::BankFile: return ALBankFile{};
    case StructKind::Bank: return ALBank{};
    case StructKind::Instrument: return ALInstrument{};
    case StructKind::Sound: return ALSound{};
    case StructKind::WaveTable: return ALWaveTable{};
    case StructKind::KeyMap: return ALKeyMap{};
    case StructKind::Envelope: return ALEnvelope{};
    case StructKind::RawLoop: return ALRawLoop{};
    case StructKind::AdpcmLoop: return ALADPCMloop{};
    case StructKind::AdpcmBook: return ALADPCMBook{};
  }
  return std::monostate{};
}

}  // namespace zaft
