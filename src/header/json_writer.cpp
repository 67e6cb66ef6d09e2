#include "header/json_writer.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "driver/run_context.h"

namespace zaft {

namespace {

// Written to the file in blocks of about this size: a document for a full
// struct table is a few MiB at most.
constexpr size_t kFileBufferSize = 64 * 1024;
constexpr int kIndentPerLevel = 2;

// Bumped whenever a key is renamed or removed or a value changes meaning;
// keys may be added without a bump.
constexpr int kFormatVersion = 1;

const char kHexDigits[] = "0123456789abcdef";

void appendEscapedByte(std::string& out, uint8_t byte) {
  out += "\\u00";
  out += kHexDigits[byte >> 4];
  out += kHexDigits[byte & 0x0F];
}

// Length of the valid UTF-8 sequence that starts at text[i], or 0 when the
// byte there starts none (a continuation byte, an overlong form, a surrogate,
// a code point above U+10FFFF, or a sequence cut short).
size_t utf8SequenceLength(std::string_view text, size_t i) {
  const auto at = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
  const uint8_t lead = at(i);
  size_t length = 0;
  uint8_t secondLow = 0x80, secondHigh = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) secondLow = 0xA0;   // below: overlong
    if (lead == 0xED) secondHigh = 0x9F;  // above: surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) secondLow = 0x90;   // below: overlong
    if (lead == 0xF4) secondHigh = 0x8F;  // above: past U+10FFFF
  } else {
    return 0;
  }
  if (text.size() - i < length) return 0;
  if (at(i + 1) < secondLow || at(i + 1) > secondHigh) return 0;
  for (size_t k = 2; k < length; ++k) {
    if (at(i + k) < 0x80 || at(i + k) > 0xBF) return 0;
  }
  return length;
}

const char* sourceName(OffsetSource source) {
  switch (source) {
    case OffsetSource::Given: return "given";
    case OffsetSource::Scanned: return "scanned";
    case OffsetSource::Searched: return "searched";
    case OffsetSource::None: break;
  }
  return nullptr;
}

const char* kindName(StructKind kind) {
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

// The wave table of an entry whose WAV outcome was never recorded: the WAV
// writer records one for every wave table it is handed while sample output
// is on.
constexpr const char* kSampleOutputOff = "sample output off: no .tbl offset given or found";
constexpr const char* kNoOutcome = "no outcome recorded for this wave table";

// The entry's name up to its terminator (or all 32 bytes, should it lack one).
std::string_view nameOf(const StructEntry& entry) {
  const char* end = static_cast<const char*>(std::memchr(entry.name, '\0', sizeof entry.name));
  return std::string_view(entry.name, end != nullptr ? static_cast<size_t>(end - entry.name)
                                                     : sizeof entry.name);
}

// Writes one entry's members, field for field as the header declares them.
class EntryWriter {
 public:
  EntryWriter(const RunContext& ctx, JsonWriter& json) : ctx_(ctx), json_(json) {}

  void write(int32_t index, const StructEntry& entry) {
    json_.beginObject();
    json_.key("index").number(index);
    json_.key("name").string(nameOf(entry));
    json_.key("kind");
    if (const char* kind = kindName(entry.kind)) {
      json_.string(kind);
    } else {
      json_.null();
    }
    json_.key("offset").number(entry.fileOffset);
    json_.key("fields");
    if (!fields(entry)) json_.null();
    if (entry.kind == StructKind::WaveTable) wav(index);
    json_.endObject();
  }

 private:
  // A reference is the index of the entry it leads to; the null pointer, and
  // an index outside the table (which the header prints as NULL too), is null.
  void reference(const char* name, int32_t index) {
    json_.key(name);
    if (index <= 0 || index >= ctx_.table.size()) {
      json_.null();
    } else {
      json_.number(index);
    }
  }

  // The elements the header lists: up to `count`, as many as the record
  // holds (a count that claims more pointers than the ROM file holds lists
  // those inside it); a count below 1 is an empty list.
  void referenceList(const char* name, int32_t count, const std::vector<int32_t>& refs) {
    json_.key(name).beginArray(JsonWriter::Layout::Inline);
    const int64_t listed = std::min<int64_t>(std::max<int32_t>(count, 0), static_cast<int64_t>(refs.size()));
    for (int64_t k = 0; k < listed; ++k) {
      const int32_t index = refs[static_cast<size_t>(k)];
      if (index <= 0 || index >= ctx_.table.size()) {
        json_.null();
      } else {
        json_.number(index);
      }
    }
    json_.endArray();
  }

  void value(const char* name, int64_t v) { json_.key(name).number(v); }

  // False when the entry holds no record of its kind (nothing to declare).
  bool fields(const StructEntry& entry) {
    switch (entry.kind) {
      case StructKind::BankFile: return with(entry, &EntryWriter::bankFile);
      case StructKind::Bank: return with(entry, &EntryWriter::bank);
      case StructKind::Instrument: return with(entry, &EntryWriter::instrument);
      case StructKind::Sound: return with(entry, &EntryWriter::sound);
      case StructKind::WaveTable: return with(entry, &EntryWriter::waveTable);
      case StructKind::KeyMap: return with(entry, &EntryWriter::keyMap);
      case StructKind::Envelope: return with(entry, &EntryWriter::envelope);
      case StructKind::RawLoop: return with(entry, &EntryWriter::loop<ALRawLoop>);
      case StructKind::AdpcmLoop: return with(entry, &EntryWriter::loop<ALADPCMloop>);
      case StructKind::AdpcmBook: return with(entry, &EntryWriter::book);
    }
    return false;
  }

  template <typename Record>
  bool with(const StructEntry& entry, void (EntryWriter::*write)(const Record&)) {
    const Record* record = entry.getIf<Record>();
    if (record == nullptr) return false;
    (this->*write)(*record);
    return true;
  }

  void bankFile(const ALBankFile& r) {
    json_.beginObject();
    value("revision", r.revision);
    value("bankCount", r.bankCount);
    referenceList("banks", r.bankCount, r.banks);
    json_.endObject();
  }

  void bank(const ALBank& r) {
    json_.beginObject();
    value("instCount", r.instCount);
    value("flags", r.flags);
    value("pad", r.pad);
    value("sampleRate", r.sampleRate);
    reference("percussion", r.percussion);
    referenceList("insts", r.instCount, r.insts);
    json_.endObject();
  }

  void instrument(const ALInstrument& r) {
    json_.beginObject();
    value("volume", r.volume);
    value("pan", r.pan);
    value("priority", r.priority);
    value("flags", r.flags);
    value("tremType", r.tremType);
    value("tremRate", r.tremRate);
    value("tremDepth", r.tremDepth);
    value("tremDelay", r.tremDelay);
    value("vibType", r.vibType);
    value("vibRate", r.vibRate);
    value("vibDepth", r.vibDepth);
    value("vibDelay", r.vibDelay);
    value("bendRange", r.bendRange);
    value("soundCount", r.soundCount);
    referenceList("sounds", r.soundCount, r.sounds);
    json_.endObject();
  }

  void sound(const ALSound& r) {
    json_.beginObject();
    reference("envelope", r.envelope);
    reference("keyMap", r.keyMap);
    reference("wavetable", r.wavetable);
    value("samplePan", r.samplePan);
    value("sampleVolume", r.sampleVolume);
    value("flags", r.flags);
    json_.endObject();
  }

  // The union as the member its type selects: type 0 is ADPCM (loop and
  // book), any other type raw (loop alone), as the readers took it.
  void waveTable(const ALWaveTable& r) {
    json_.beginObject();
    value("base", r.base);
    value("len", r.len);
    value("type", r.type);
    value("flags", r.flags);
    json_.key("waveInfo").beginObject();
    if (r.type == 0) {
      json_.key("adpcmWave").beginObject(JsonWriter::Layout::Inline);
      reference("loop", r.waveInfo.adpcmWave.loop);
      reference("book", r.waveInfo.adpcmWave.book);
    } else {
      json_.key("rawWave").beginObject(JsonWriter::Layout::Inline);
      reference("loop", r.waveInfo.rawWave.loop);
    }
    json_.endObject();
    json_.endObject();
    json_.endObject();
  }

  void keyMap(const ALKeyMap& r) {
    json_.beginObject();
    value("velocityMin", r.velocityMin);
    value("velocityMax", r.velocityMax);
    value("keyMin", r.keyMin);
    value("keyMax", r.keyMax);
    value("keyBase", r.keyBase);
    value("detune", r.detune);
    json_.endObject();
  }

  // secondTime too, which the header leaves out.
  void envelope(const ALEnvelope& r) {
    json_.beginObject();
    value("attackTime", r.attackTime);
    value("secondTime", r.secondTime);
    value("releaseTime", r.releaseTime);
    value("attackVolume", r.attackVolume);
    value("decayVolume", r.decayVolume);
    json_.endObject();
  }

  template <typename Loop>
  void loop(const Loop& r) {
    json_.beginObject();
    value("start", r.start);
    value("end", r.end);
    value("count", r.count);
    json_.endObject();
  }

  // The coefficients the header lists: those the book holds, never more than
  // npredictors x 16 (a bogus npredictors cannot inflate the document).
  void book(const ALADPCMBook& r) {
    json_.beginObject();
    value("order", r.order);
    value("npredictors", r.npredictors);
    const int64_t claimed =
        static_cast<int64_t>(std::max<int32_t>(r.npredictors, 0)) * kCoefficientsPerPredictor;
    const size_t count = static_cast<size_t>(
        std::min<int64_t>(claimed, static_cast<int64_t>(r.predictors.size())));
    json_.key("predictors").beginArray(JsonWriter::Layout::Inline);
    for (size_t k = 0; k < count; ++k) json_.number(r.predictors[k]);
    json_.endArray();
    json_.endObject();
  }

  // The same four members whether a file was written or not.
  void wav(int32_t index) {
    json_.key("wav").beginObject(JsonWriter::Layout::Inline);
    const auto found = ctx_.waveOutcomes.find(index);
    if (found == ctx_.waveOutcomes.end()) {
      json_.key("file").null();
      json_.key("samples").null();
      json_.key("rate").null();
      json_.key("skipped").string(ctx_.settings.tblGiven == 0 ? kSampleOutputOff : kNoOutcome);
    } else {
      const WaveOutcome& outcome = found->second;
      const bool written = !outcome.file.empty();
      json_.key("file");
      written ? json_.string(outcome.file) : json_.null();
      json_.key("samples");
      written ? json_.number(outcome.samples) : json_.null();
      json_.key("rate");
      written ? json_.number(outcome.rate) : json_.null();
      json_.key("skipped");
      outcome.skipped.empty() ? json_.null() : json_.string(outcome.skipped);
    }
    json_.endObject();
  }

  const RunContext& ctx_;
  JsonWriter& json_;
};

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

JsonWriter::JsonWriter(FILE* file) : file_(file) { buffer_.reserve(kFileBufferSize); }

JsonWriter::JsonWriter(std::string& text) : text_(&text) {}

JsonWriter::~JsonWriter() { flush(); }

std::string& JsonWriter::sink() { return text_ != nullptr ? *text_ : buffer_; }

void JsonWriter::put(std::string_view bytes) {
  sink().append(bytes);
  if (text_ == nullptr && buffer_.size() >= kFileBufferSize) flush();
}

void JsonWriter::putString(std::string_view text) {
  appendJsonString(sink(), text);
  if (text_ == nullptr && buffer_.size() >= kFileBufferSize) flush();
}

void JsonWriter::flush() {
  if (file_ != nullptr && !buffer_.empty()) {
    std::fwrite(buffer_.data(), 1, buffer_.size(), file_);
    buffer_.clear();
  }
}

void JsonWriter::newline(size_t depth) {
  put("\n");
  static const std::string blanks(64, ' ');
  size_t columns = depth * kIndentPerLevel;
  while (columns > 0) {
    const size_t n = std::min(columns, blanks.size());
    put(std::string_view(blanks.data(), n));
    columns -= n;
  }
}

// The separator in front of a member: a comma after an earlier member, then a
// new line in a Block container or a blank in an Inline one. A value that
// follows its key needs none.
void JsonWriter::beforeValue() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (frames_.empty()) return;
  Frame& frame = frames_.back();
  if (frame.members > 0) put(",");
  if (frame.layout == Layout::Block) {
    newline(frames_.size());
  } else if (frame.members > 0) {
    put(" ");
  }
  ++frame.members;
}

JsonWriter& JsonWriter::key(std::string_view name) {
  afterKey_ = false;
  beforeValue();
  putString(name);
  put(": ");
  afterKey_ = true;
  return *this;
}

void JsonWriter::open(bool object, Layout layout) {
  beforeValue();
  if (!frames_.empty() && frames_.back().layout == Layout::Inline) layout = Layout::Inline;
  frames_.push_back({object, layout, 0});
  put(object ? "{" : "[");
}

void JsonWriter::close(char bracket) {
  if (frames_.empty()) return;
  const Frame frame = frames_.back();
  frames_.pop_back();
  if (frame.layout == Layout::Block && frame.members > 0) newline(frames_.size());
  put(std::string_view(&bracket, 1));
}

JsonWriter& JsonWriter::beginObject(Layout layout) {
  open(true, layout);
  return *this;
}

JsonWriter& JsonWriter::endObject() {
  close('}');
  return *this;
}

JsonWriter& JsonWriter::beginArray(Layout layout) {
  open(false, layout);
  return *this;
}

JsonWriter& JsonWriter::endArray() {
  close(']');
  return *this;
}

JsonWriter& JsonWriter::number(int64_t value) {
  beforeValue();
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  put(std::string_view(digits, static_cast<size_t>(result.ptr - digits)));
  return *this;
}

JsonWriter& JsonWriter::string(std::string_view text) {
  beforeValue();
  putString(text);
  return *this;
}

JsonWriter& JsonWriter::boolean(bool value) {
  beforeValue();
  put(value ? "true" : "false");
  return *this;
}

JsonWriter& JsonWriter::null() {
  beforeValue();
  put("null");
  return *this;
}

void JsonWriter::finish() {
  put("\n");
  flush();
}

void appendJsonString(std::string& out, std::string_view text) {
  out += '"';
  size_t i = 0;
  while (i < text.size()) {
    const uint8_t byte = static_cast<uint8_t>(text[i]);
    if (byte >= 0x80) {
      const size_t length = utf8SequenceLength(text, i);
      if (length == 0) {
        appendEscapedByte(out, byte);
        ++i;
      } else if (length == 3 && byte == 0xE2 && static_cast<uint8_t>(text[i + 1]) == 0x80 &&
                 (static_cast<uint8_t>(text[i + 2]) & 0xFE) == 0xA8) {
        out += static_cast<uint8_t>(text[i + 2]) == 0xA8 ? "\\u2028" : "\\u2029";
        i += length;
      } else {
        out.append(text.substr(i, length));
        i += length;
      }
      continue;
    }
    switch (byte) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (byte < 0x20 || byte == 0x7F) {
          appendEscapedByte(out, byte);
        } else {
          out += static_cast<char>(byte);
        }
    }
    ++i;
  }
  out += '"';
}

const char* jsonByteOrder(ByteOrder order) {
  switch (order) {
    case ByteOrder::Swapped16: return "swapped16";
    case ByteOrder::Reversed32: return "reversed32";
    case ByteOrder::AsStored: break;
  }
  return "asStored";
}

JsonRunInfo jsonRunInfo(const RomStream& rom) {
  JsonRunInfo info;
  info.romFile = rom.path();
  info.romSize = rom.size();
  info.byteOrder = rom.byteOrder;
  return info;
}

void writeJsonDocument(const RunContext& ctx, const JsonRunInfo& info, JsonWriter& json) {
  const RunSettings& s = ctx.settings;
  const RunCounters& counters = ctx.counters;
  json.beginObject();
  json.key("format").string("zaft-bank");
  json.key("formatVersion").number(kFormatVersion);
  writeRom(info, json);
  writeBlock(json, "controlBlock", s.ctlOffset, ctx.ctlSource);
  // The sample block counts only when WAV files were to be written.
  if (s.tblGiven != 0) {
    writeBlock(json, "sampleBlock", s.tblOffset, ctx.tblSource);
  } else {
    json.key("sampleBlock").null();
  }

  json.key("counters").beginObject();
  json.key("banks").number(counters.banks);
  json.key("instruments").number(counters.instruments);
  json.key("sounds").number(counters.sounds);
  json.key("reusedRefs").number(counters.reusedRefs);
  json.key("structCount").number(counters.structCount > 0 ? counters.structCount - 1 : 0);
  json.key("wavFiles").number(counters.wavFiles);
  json.endObject();

  json.key("structs").beginArray();
  EntryWriter entries(ctx, json);
  const int32_t end = std::min(counters.structCount, ctx.table.size());
  for (int32_t i = 1; i < end; ++i) entries.write(i, ctx.table[i]);
  json.endArray();
  json.endObject();
  json.finish();
}

void writeJsonDocument(const RunContext& ctx, const JsonRunInfo& info, FILE* file) {
  JsonWriter json(file);
  writeJsonDocument(ctx, info, json);
}

void writeJsonIndex(const JsonRunInfo& info, const std::vector<JsonIndexEntry>& banks,
                    JsonWriter& json) {
  json.beginObject();
  json.key("format").string("zaft-index");
  json.key("formatVersion").number(kFormatVersion);
  writeRom(info, json);
  json.key("bankFiles").beginArray();
  for (const JsonIndexEntry& bank : banks) {
    json.beginObject();
    json.key("ctlOffset").number(bank.ctlOffset);
    json.key("tblOffset");
    bank.tblOffset >= 0 ? json.number(bank.tblOffset) : json.null();
    json.key("folder").string(bank.folder);
    json.key("document");
    bank.document.empty() ? json.null() : json.string(bank.document);
    json.key("status").string(bank.status);
    json.key("records").number(bank.records);
    json.key("wavFiles").number(bank.wavFiles);
    json.endObject();
  }
  json.endArray();
  json.endObject();
  json.finish();
}

void writeJsonIndex(const JsonRunInfo& info, const std::vector<JsonIndexEntry>& banks,
                    FILE* file) {
  JsonWriter json(file);
  writeJsonIndex(info, banks, json);
}

}  // namespace zaft
