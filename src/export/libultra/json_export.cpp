#include "export/libultra/json_export.h"

#include "audio/pitch.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace zaft {

namespace {

// Bumped whenever a key is renamed or removed or a value changes meaning;
// keys may be added without a bump.
constexpr int kFormatVersion = 1;

// The wave table of an entry whose WAV outcome was never recorded: the WAV
// exporter records one for every wave table it is handed while sample
// output is on.
constexpr const char* kSampleOutputOff = "sample output off: no .tbl offset given or found";
constexpr const char* kNoOutcome = "no outcome recorded for this wave table";

const char* sourceName(OffsetSource source) {
  switch (source) {
    case OffsetSource::Given: return "given";
    case OffsetSource::Scanned: return "scanned";
    case OffsetSource::Searched: return "searched";
    case OffsetSource::None: break;
  }
  return nullptr;
}

// The entry's name up to its terminator (or all 32 bytes, should it lack one).
// Writes one record's fields as the members of an object, in the order the
// field list gives.
class FieldWriter {
 public:
  FieldWriter(const StructTable& table, JsonWriter& json) : table_(table), json_(json) {}

  template <typename T> void number(const char* name, const T& value, FieldStyle) {
    json_.key(name).number(static_cast<int64_t>(value));
  }
  void skip(size_t) {}
  // The union as the member its type selects: "waveInfo": {"adpcmWave": {...}}.
  void beginUnion(const char* member) {
    json_.key("waveInfo").beginObject();
    json_.key(member).beginObject(JsonWriter::Layout::Inline);
  }
  void endUnion() {
    json_.endObject();
    json_.endObject();
  }
  // A reference is the index of the entry it leads to; the null pointer, and
  // an index outside the table (which the header prints as NULL too), is null.
  void reference(const char* name, int32_t index, StructKind) {
    json_.key(name);
    indexValue(index);
  }
  // The elements the header lists: up to `count`, as many as the record
  // holds; a count below 1 is an empty list.
  void list(const char* name, int32_t count, const std::vector<int32_t>& refs, StructKind) {
    json_.key(name).beginArray(JsonWriter::Layout::Inline);
    const int64_t listed =
        std::min<int64_t>(std::max<int32_t>(count, 0), static_cast<int64_t>(refs.size()));
    for (int64_t k = 0; k < listed; ++k) indexValue(refs[static_cast<size_t>(k)]);
    json_.endArray();
  }
  // The coefficients the header lists: those the book holds, never more than
  // npredictors x 16 (a bogus npredictors cannot inflate the document).
  void predictors(const char* name, int32_t npredictors, const std::vector<int16_t>& coefficients) {
    const int64_t claimed =
        static_cast<int64_t>(std::max<int32_t>(npredictors, 0)) * kCoefficientsPerPredictor;
    const size_t count = static_cast<size_t>(
        std::min<int64_t>(claimed, static_cast<int64_t>(coefficients.size())));
    json_.key(name).beginArray(JsonWriter::Layout::Inline);
    for (size_t k = 0; k < count; ++k) json_.number(coefficients[k]);
    json_.endArray();
  }

 private:
  void indexValue(int32_t index) {
    if (index <= 0 || index >= table_.size()) {
      json_.null();
    } else {
      json_.number(index);
    }
  }

  const StructTable& table_;
  JsonWriter& json_;
};

// False when the entry holds no record (nothing to declare).
bool writeFields(const StructEntry& entry, FieldWriter& fields, JsonWriter& json) {
  return visitRecord(entry.data, [&](const auto& record) {
    json.beginObject();
    visitFields(record, fields);
    json.endObject();
  });
}

// The same members whether a file was written or not. The pitch is the
// one the smpl chunk names: the sample's own, through the key map of the
// sound that reached it.
void writeWav(int32_t index, const SamplePitch& pitch, bool samplesWritten, const WavResult& wavs,
              JsonWriter& json) {
  json.key("wav").beginObject(JsonWriter::Layout::Inline);
  const auto found = wavs.outcomes.find(index);
  if (found == wavs.outcomes.end()) {
    json.key("file").null();
    json.key("samples").null();
    json.key("rate").null();
    json.key("skipped").string(samplesWritten ? kNoOutcome : kSampleOutputOff);
    json.key("unityNote").null();
    json.key("pitchFraction").null();
  } else {
    const WaveOutcome& outcome = found->second;
    const bool written = !outcome.file.empty();
    json.key("file");
    written ? json.string(outcome.file) : json.null();
    json.key("samples");
    written ? json.number(outcome.samples) : json.null();
    json.key("rate");
    written ? json.number(outcome.rate) : json.null();
    json.key("skipped");
    outcome.skipped.empty() ? json.null() : json.string(outcome.skipped);
    json.key("unityNote");
    written ? json.number(pitch.unityNote()) : json.null();
    json.key("pitchFraction");
    written ? json.number(pitch.fractionCents()) : json.null();
  }
  json.endObject();
}

void writeRom(const JsonRunInfo& info, JsonWriter& json) {
  json.key("rom").beginObject();
  json.key("file").string(info.romFile);
  json.key("size").number(info.romSize);
  json.key("byteOrder").string(jsonByteOrder(info.byteOrder));
  json.endObject();
}

void writeBlock(JsonWriter& json, const char* name, int32_t offset, OffsetSource source) {
  json.key(name).beginObject(JsonWriter::Layout::Inline);
  json.key("offset").number(offset);
  json.key("source");
  if (const char* text = sourceName(source)) {
    json.string(text);
  } else {
    json.null();
  }
  json.endObject();
}

}  // namespace

const char* jsonByteOrder(ByteOrder order) {
  switch (order) {
    case ByteOrder::Swapped16: return "swapped16";
    case ByteOrder::Reversed32: return "reversed32";
    case ByteOrder::AsStored: break;
  }
  return "asStored";
}

JsonRunInfo jsonRunInfo(const RomImage& rom) {
  JsonRunInfo info;
  info.romFile = rom.path();
  info.romSize = rom.size();
  info.byteOrder = rom.byteOrder();
  return info;
}

void writeJsonDocument(const BankFile& bank, const InstrumentSet& set, const JsonRunInfo& info,
                       const BankBlocks& blocks, const WavResult& wavs, JsonWriter& json) {
  const BankCounters& counters = bank.counters;
  json.beginObject();
  json.key("format").string("zaft-bank");
  json.key("formatVersion").number(kFormatVersion);
  writeRom(info, json);
  writeBlock(json, "controlBlock", blocks.ctlOffset, blocks.ctlSource);
  // The sample block counts only when WAV files were to be written.
  if (blocks.tbl) {
    writeBlock(json, "sampleBlock", blocks.tbl->offset, blocks.tbl->source);
  } else {
    json.key("sampleBlock").null();
  }

  json.key("counters").beginObject();
  json.key("banks").number(counters.banks);
  json.key("instruments").number(counters.instruments);
  json.key("sounds").number(counters.sounds);
  json.key("reusedRefs").number(counters.reusedRefs);
  json.key("structCount").number(counters.structCount > 0 ? counters.structCount - 1 : 0);
  json.key("wavFiles").number(wavs.files);
  json.endObject();

  // Each wave table's pitch, as its sample plays (middle C for one the
  // walk did not finish).
  std::map<int32_t, int32_t> pitchOf;
  for (const Sample& sample : set.samples) pitchOf.emplace(sample.record, sample.pitchCents);
  json.key("structs").beginArray();
  FieldWriter fields(bank.table, json);
  const int32_t end = std::min(counters.structCount, bank.table.size());
  for (int32_t i = 1; i < end; ++i) {
    const StructEntry& entry = bank.table[i];
    json.beginObject();
    json.key("index").number(i);
    json.key("name").string(entry.name);
    json.key("kind");
    if (const char* kind = recordTypeName(entry.kind)) {
      json.string(kind);
    } else {
      json.null();
    }
    json.key("offset").number(entry.fileOffset);
    json.key("fields");
    if (!writeFields(entry, fields, json)) json.null();
    if (const ALKeyMap* keyMap = entry.getIf<ALKeyMap>()) {
      json.key("samplePitch").number(pitchCentsOf(keyMap));
    }
    if (entry.kind == StructKind::WaveTable) {
      const auto found = pitchOf.find(i);
      const SamplePitch pitch{found == pitchOf.end() ? SamplePitch{}.cents : found->second};
      writeWav(i, pitch, blocks.tbl.has_value(), wavs, json);
    }
    json.endObject();
  }
  json.endArray();
  json.endObject();
  json.finish();
}

namespace {

void writeSequence(int index, const JsonSequenceEntry& s, JsonWriter& json) {
  const SequenceInfo& i = s.info;
  json.beginObject();
  json.key("index").number(index);
  json.key("file");
  s.file.empty() ? json.null() : json.string(s.file);
  json.key("kind").string(i.standard ? "standard" : "compact");
  json.key("length").number(i.length);
  json.key("tracks").number(i.tracks);
  json.key("division").number(i.division);
  json.key("durationTicks").number(static_cast<int64_t>(i.durationTicks));
  json.key("durationSeconds").decimal(i.durationSeconds, 3);
  json.key("programs").beginArray(JsonWriter::Layout::Inline);
  for (int p : i.programs) json.number(p);
  json.endArray();
  json.key("channels").beginArray(JsonWriter::Layout::Inline);
  for (int c : i.channels) json.number(c);
  json.endArray();
  json.key("loops").beginArray(JsonWriter::Layout::Inline);
  for (const SequenceLoop& l : i.loops) {
    json.beginObject();
    json.key("track").number(l.track);
    json.key("number").number(l.number);
    json.key("count");
    l.count < 0 ? json.null() : json.number(l.count);
    json.key("startTick").number(static_cast<int64_t>(l.startTick));
    json.key("endTick").number(static_cast<int64_t>(l.endTick));
    json.endObject();
  }
  json.endArray();
  json.key("warnings").number(s.warnings);
  json.endObject();
}

// Only for a find inside a compressed block: the block it lies in.
void writeBlockPlace(const std::optional<JsonBlockPlace>& block, JsonWriter& json) {
  if (!block) return;
  json.key("compressedBlock").beginObject();
  json.key("format").string(block->format);
  json.key("offset").number(block->offset);
  json.endObject();
}

}  // namespace

void writeJsonIndex(const JsonRunInfo& info, const std::vector<JsonIndexEntry>& banks,
                    const std::vector<JsonEadSetEntry>& eadSets,
                    const std::vector<JsonSequenceBank>& sequenceBanks, JsonWriter& json) {
  json.beginObject();
  json.key("format").string("zaft-index");
  json.key("formatVersion").number(kFormatVersion);
  writeRom(info, json);
  json.key("bankFiles").beginArray();
  for (const JsonIndexEntry& bank : banks) {
    json.beginObject();
    writeBlockPlace(bank.block, json);
    json.key("ctlOffset").number(bank.ctlOffset);
    json.key("tblOffset");
    bank.tblOffset ? json.number(*bank.tblOffset) : json.null();
    json.key("folder").string(bank.folder);
    json.key("document");
    bank.document.empty() ? json.null() : json.string(bank.document);
    json.key("status").string(bank.status);
    json.key("records").number(bank.records);
    json.key("wavFiles").number(bank.wavFiles);
    json.endObject();
  }
  json.endArray();
  json.key("eadSets").beginArray();
  for (const JsonEadSetEntry& set : eadSets) {
    json.beginObject();
    writeBlockPlace(set.block, json);
    json.key("soundDataOffset").number(set.soundDataOffset);
    json.key("sampleTableOffset");
    set.sampleTableOffset ? json.number(*set.sampleTableOffset) : json.null();
    json.key("folder").string(set.folder);
    json.key("document");
    set.document.empty() ? json.null() : json.string(set.document);
    json.key("status").string(set.status);
    json.key("banks").number(set.banks);
    json.key("wavFiles").number(set.wavFiles);
    json.endObject();
  }
  json.endArray();
  json.key("sequenceBanks").beginArray();
  for (const JsonSequenceBank& bank : sequenceBanks) {
    json.beginObject();
    writeBlockPlace(bank.block, json);
    json.key("driver").string(bank.driver);
    json.key("offset").number(bank.offset);
    json.key("folder").string(bank.folder);
    json.key("status").string(bank.status);
    json.key("sequences").beginArray();
    for (size_t k = 0; k < bank.sequences.size(); ++k) {
      writeSequence(static_cast<int>(k), bank.sequences[k], json);
    }
    json.endArray();
    json.endObject();
  }
  json.endArray();
  json.endObject();
  json.finish();
}

}  // namespace zaft
