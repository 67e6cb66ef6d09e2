#include "export/ead/ead_json.h"

#include <cmath>
#include <map>

#include "util/fatal.h"

namespace zaft {

namespace {

// Bumped whenever a key is renamed or removed or a value changes meaning;
// keys may be added without a bump.
constexpr int kFormatVersion = 1;
// Enough places to give a tuning's float back exactly (for tunings of 0.1
// and more; all the tools write).
constexpr int kTuningPlaces = 9;

using Layout = JsonWriter::Layout;

void index(JsonWriter& json, const char* name, int32_t value) {
  json.key(name);
  value < 0 ? json.null() : json.number(value);
}

void fileTable(JsonWriter& json, const char* name, const EadFileTable& table) {
  json.key(name).beginObject();
  json.key("offset").number(table.at);
  json.key("type").number(table.type);
  json.key("entries").beginArray();
  for (const EadFileEntry& e : table.entries) {
    json.beginObject(Layout::Inline);
    json.key("offset").number(e.offset);
    json.key("length").number(e.length);
    json.endObject();
  }
  json.endArray();
  json.endObject();
}

void sound(JsonWriter& json, const char* name, const EadSound& s) {
  json.key(name);
  if (s.samplePointer == 0) {
    json.null();
    return;
  }
  json.beginObject(Layout::Inline);
  json.key("samplePointer").number(s.samplePointer);
  index(json, "sampleRecord", s.record);
  json.key("tuning");
  std::isfinite(s.tuning) ? json.decimal(s.tuning, kTuningPlaces) : json.null();
  json.endObject();
}

void banks(JsonWriter& json, const EadSoundData& d) {
  json.key("banks").beginArray();
  for (const EadBank& b : d.banks) {
    json.beginObject();
    json.key("index").number(b.index);
    json.key("offset").number(b.offset);
    json.key("length").number(b.length);
    json.key("instrumentCount").number(b.instrumentCount);
    json.key("drumCount").number(b.drumCount);
    json.key("shared").number(b.shared);
    json.key("date").number(b.date);
    json.key("dateText").string(formatText("%04X-%02X-%02X", b.date >> 16, (b.date >> 8) & 0xFF, b.date & 0xFF));
    index(json, "sampleBank", b.sampleBank);
    json.key("drumTablePointer").number(b.drumTablePointer);
    json.key("instruments").beginArray(Layout::Inline);
    for (const int32_t i : b.instruments) i < 0 ? json.null() : json.number(i);
    json.endArray();
    json.key("drums").beginArray(Layout::Inline);
    for (const int32_t i : b.drums) i < 0 ? json.null() : json.number(i);
    json.endArray();
    json.key("problems").number(b.problems);
    json.endObject();
  }
  json.endArray();
}

void instruments(JsonWriter& json, const EadSoundData& d) {
  json.key("instruments").beginArray();
  for (size_t k = 0; k < d.instruments.size(); ++k) {
    const EadInstrument& r = d.instruments[k];
    json.beginObject();
    json.key("index").number(static_cast<int64_t>(k));
    json.key("bank").number(r.bank);
    json.key("offset").number(r.offset);
    json.key("normalRangeLow").number(r.rangeLow);
    json.key("normalRangeHigh").number(r.rangeHigh);
    json.key("releaseRate").number(r.releaseRate);
    json.key("envelopePointer").number(r.envelopePointer);
    index(json, "envelope", r.envelope);
    sound(json, "low", r.sounds[0]);
    sound(json, "normal", r.sounds[1]);
    sound(json, "high", r.sounds[2]);
    json.endObject();
  }
  json.endArray();
  json.key("drums").beginArray();
  for (size_t k = 0; k < d.drums.size(); ++k) {
    const EadDrum& r = d.drums[k];
    json.beginObject();
    json.key("index").number(static_cast<int64_t>(k));
    json.key("bank").number(r.bank);
    json.key("offset").number(r.offset);
    json.key("releaseRate").number(r.releaseRate);
    json.key("pan").number(r.pan);
    json.key("envelopePointer").number(r.envelopePointer);
    index(json, "envelope", r.envelope);
    sound(json, "sound", r.sound);
    json.endObject();
  }
  json.endArray();
}

void samples(JsonWriter& json, const EadSoundData& d, const InstrumentSet& set) {
  json.key("sampleRecords").beginArray();
  for (size_t k = 0; k < d.records.size(); ++k) {
    const EadSampleRecord& r = d.records[k];
    json.beginObject(Layout::Inline);
    json.key("index").number(static_cast<int64_t>(k));
    json.key("bank").number(r.bank);
    json.key("offset").number(r.offset);
    json.key("sampleOffset").number(r.sampleOffset);
    json.key("size").number(r.size);
    json.key("loopPointer").number(r.loopPointer);
    index(json, "loop", r.loop);
    json.key("bookPointer").number(r.bookPointer);
    index(json, "book", r.book);
    index(json, "sample", r.sample);
    json.endObject();
  }
  json.endArray();

  // The model sample each distinct sample became, by its first record.
  std::map<int32_t, const Sample*> modelOf;
  for (const Sample& s : set.samples) modelOf.emplace(s.record, &s);
  json.key("samples").beginArray();
  for (size_t k = 0; k < d.samples.size(); ++k) {
    const EadSample& s = d.samples[k];
    json.beginObject(Layout::Inline);
    json.key("index").number(static_cast<int64_t>(k));
    json.key("sampleBank").number(s.sampleBank);
    json.key("offset").number(s.offset);
    json.key("sampleTableOffset")
        .number(int64_t{d.sampleBanks[static_cast<size_t>(s.sampleBank)].offset} + s.offset);
    json.key("size").number(s.size);
    json.key("record").number(s.record);
    const auto found = modelOf.find(s.record);
    const Sample* m = found == modelOf.end() ? nullptr : found->second;
    json.key("file");
    m ? json.string(m->fileName) : json.null();
    json.key("rate");
    m ? json.number(m->rate) : json.null();
    json.endObject();
  }
  json.endArray();
}

void books(JsonWriter& json, const EadSoundData& d) {
  json.key("books").beginArray();
  for (size_t k = 0; k < d.books.size(); ++k) {
    const EadBook& b = d.books[k];
    json.beginObject();
    json.key("index").number(static_cast<int64_t>(k));
    json.key("offset").number(b.offset);
    json.key("order").number(b.order);
    json.key("predictors").number(b.predictors);
    json.key("coefficients").beginArray(Layout::Inline);
    for (const int16_t c : b.coefficients) json.number(c);
    json.endArray();
    json.endObject();
  }
  json.endArray();
  json.key("loops").beginArray();
  for (size_t k = 0; k < d.loops.size(); ++k) {
    const EadLoop& l = d.loops[k];
    json.beginObject(Layout::Inline);
    json.key("index").number(static_cast<int64_t>(k));
    json.key("offset").number(l.offset);
    json.key("start").number(l.start);
    json.key("end").number(l.end);
    json.key("count").number(l.count);
    json.key("state");
    if (l.state) {
      json.beginArray();
      for (const int16_t v : *l.state) json.number(v);
      json.endArray();
    } else {
      json.null();
    }
    json.endObject();
  }
  json.endArray();
  json.key("envelopes").beginArray();
  for (size_t k = 0; k < d.envelopes.size(); ++k) {
    const EadEnvelope& e = d.envelopes[k];
    json.beginObject(Layout::Inline);
    json.key("index").number(static_cast<int64_t>(k));
    json.key("offset").number(e.offset);
    json.key("points").beginArray();
    for (const EadEnvelopePoint& p : e.points) {
      json.beginArray();
      json.number(p.delay).number(p.arg);
      json.endArray();
    }
    json.endArray();
    json.key("ended").boolean(e.ended);
    json.endObject();
  }
  json.endArray();
}

}  // namespace

void writeEadJsonDocument(const EadSoundData& sounds, const InstrumentSet& set,
                          const JsonRunInfo& info, JsonWriter& json) {
  json.beginObject();
  json.key("format").string("zaft-ead");
  json.key("formatVersion").number(kFormatVersion);
  json.key("rom").beginObject();
  json.key("file").string(info.romFile);
  json.key("size").number(info.romSize);
  json.key("byteOrder").string(jsonByteOrder(info.byteOrder));
  json.endObject();
  fileTable(json, "soundData", sounds.soundData);
  fileTable(json, "sampleTable", sounds.sampleTable);
  json.key("sampleBanks").beginArray();
  for (const EadSampleBank& s : sounds.sampleBanks) {
    json.beginObject(Layout::Inline);
    json.key("offset").number(s.offset);
    json.key("length").number(s.length);
    json.key("banks").beginArray();
    for (const int32_t b : s.banks) json.number(b);
    json.endArray();
    json.endObject();
  }
  json.endArray();
  banks(json, sounds);
  instruments(json, sounds);
  samples(json, sounds, set);
  books(json, sounds);
  json.key("plausible").boolean(sounds.plausible());
  json.key("problems").beginArray();
  for (const EadProblem& p : sounds.problems) {
    json.beginObject(Layout::Inline);
    json.key("offset").number(p.offset);
    json.key("what").string(p.what);
    json.endObject();
  }
  json.endArray();
  json.key("problemsLeftOut").number(sounds.problemsLeftOut);
  json.endObject();
  json.finish();
}

}  // namespace zaft
