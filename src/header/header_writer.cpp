#include "header/header_writer.h"


#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/wav_writer.h"
#include "driver/options.h"
#include "driver/run_context.h"
#include "rom/rom_stream.h"

namespace zaft {

namespace {

constexpr const char* kDefaultHeaderName = "CONTROL.H";
constexpr int kItemsPerLine = 8;  // names or coefficients per list line
// Columns a field may ask for through /f, either way. A few thousand
// columns is already far wider than any editor shows; beyond that a width
// would only fill the disk with blanks (and INT_MIN has no magnitude at all).
constexpr int32_t kMaxFieldWidth = 1024;
// The header can reach a few MiB; write it in large blocks.
constexpr size_t kHeaderBufferSize = 64 * 1024;

// Writes one entry's structure. Every number goes through an int so that
// unsigned bytes print 0..255 and the signed fields keep their sign.
class StructPrinter {
 public:
  StructPrinter(const StructTable& table, FILE* file, int width)
      : table_(table), file_(file), width_(width) {}

  void write(const StructEntry& entry) {
    switch (entry.kind) {
      case StructKind::BankFile: return bankFile(entry);
      case StructKind::Bank: return bank(entry);
      case StructKind::Instrument: return instrument(entry);
      case StructKind::Sound: return sound(entry);
      case StructKind::WaveTable: return waveTable(entry);
      case StructKind::KeyMap: return keyMap(entry);
      case StructKind::Envelope: return envelope(entry);
      case StructKind::RawLoop: return loop(entry, "ALRawLoop", entry.getIf<ALRawLoop>());
      case StructKind::AdpcmLoop: return loop(entry, "ALADPCMloop", entry.getIf<ALADPCMloop>());
      case StructKind::AdpcmBook: return book(entry);
    }
    // Any other kind number has no structure to write.
  }

 private:
  // The name a reference prints as. Indices come from the table itself, so
  // they are in range; one that is not prints as the null pointer rather
  // than reading outside the table.
  const char* nameOf(int32_t index) const {
    if (index <= 0 || index >= table_.size()) return "NULL";
    return table_[index].name;
  }

  void opening(const char* type, const StructEntry& entry) {
    std::fprintf(file_, "%s %s = { // Offset: 0x%06X\n", type, entry.name, entry.fileOffset);
  }
  void value(int v, const char* label) {
    std::fprintf(file_, "  %*d, // %s\n", width_, v, label);
  }
  void reference(int32_t index, const char* label) {
    std::fprintf(file_, "  %*s, // %s\n", width_, nameOf(index), label);
  }

  // `opening` ("  { // banks") has no line end; each line of the list
  // starts with "\n  " and holds up to eight names. A list with no element
  // still ends its opening line, so that the "//" comment does not swallow
  // the closing brace. Only the elements the record holds are listed: a
  // count that claims more pointers than the ROM file holds lists those
  // that lie inside it.
  void referenceList(const char* opening, int32_t count, const std::vector<int32_t>& refs) {
    std::fputs(opening, file_);
    const int32_t listed =
        static_cast<int32_t>(std::min<int64_t>(std::max<int32_t>(count, 0), static_cast<int64_t>(refs.size())));
    if (listed < 1) std::fputs("\n  ", file_);
    for (int32_t k = 0; k < listed; ++k) {
      if (k % kItemsPerLine == 0) std::fputs("\n  ", file_);
      const int32_t index = refs[static_cast<size_t>(k)];
      std::fprintf(file_, "%*s, ", width_, nameOf(index));
    }
    closeList();
  }

  void closeList() { std::fputs("},\n};\n\n", file_); }
  void close() { std::fputs("};\n\n", file_); }

  void bankFile(const StructEntry& entry) {
    const ALBankFile* r = entry.getIf<ALBankFile>();
    if (r == nullptr) return;
    opening("ALBankFile", entry);
    std::fprintf(file_, "  '%c%c', // revision\n", (r->revision >> 8) & 0xFF, r->revision & 0xFF);
    value(r->bankCount, "bankCount");
    referenceList("  { // banks", r->bankCount, r->banks);
  }

  void bank(const StructEntry& entry) {
    const ALBank* r = entry.getIf<ALBank>();
    if (r == nullptr) return;
    opening("ALBank", entry);
    value(r->instCount, "instCount");
    value(r->flags, "flags");
    value(r->pad, "pad");
    value(r->sampleRate, "sampleRate");
    reference(r->percussion, "percussion");
    referenceList("  { // insts", r->instCount, r->insts);
  }

  void instrument(const StructEntry& entry) {
    const ALInstrument* r = entry.getIf<ALInstrument>();
    if (r == nullptr) return;
    opening("ALInstrument", entry);
    value(r->volume, "volume");
    value(r->pan, "pan");
    value(r->priority, "priority");
    value(r->flags, "flags");
    value(r->tremType, "tremType");
    value(r->tremRate, "tremRate");
    value(r->tremDepth, "tremDepth");
    value(r->tremDelay, "tremDelay");
    value(r->vibType, "vibType");
    value(r->vibRate, "vibRate");
    value(r->vibDepth, "vibDepth");
    value(r->vibDelay, "vibDelay");
    value(r->bendRange, "bendRange");
    value(r->soundCount, "soundCount");
    referenceList("  { // sounds", r->soundCount, r->sounds);
  }

  void sound(const StructEntry& entry) {
    const ALSound* r = entry.getIf<ALSound>();
    if (r == nullptr) return;
    opening("ALSound", entry);
    reference(r->envelope, "envelope");
    reference(r->keyMap, "keyMap");
    reference(r->wavetable, "wavetable");
    value(r->samplePan, "samplePan");
    value(r->sampleVolume, "sampleVolume");
    value(r->flags, "flags");
    close();
  }

  // The union section stands on lines of its own: an ADPCM wave (type 0)
  // names its loop and book, any other type only its raw loop.
  void waveTable(const StructEntry& entry) {
    const ALWaveTable* r = entry.getIf<ALWaveTable>();
    if (r == nullptr) return;
    opening("ALWaveTable", entry);
    value(r->base, "base");
    value(r->len, "len");
    value(r->type, "type");
    value(r->flags, "flags");
    std::fputs("  { // union\n", file_);
    if (r->type == 0) {
      reference(r->waveInfo.adpcmWave.loop, "waveInfo.adpcmWave.loop");
      reference(r->waveInfo.adpcmWave.book, "waveInfo.adpcmWave.book");
    } else {
      reference(r->waveInfo.rawWave.loop, "waveInfo.rawWave.loop");
    }
    closeList();
  }

  void keyMap(const StructEntry& entry) {
    const ALKeyMap* r = entry.getIf<ALKeyMap>();
    if (r == nullptr) return;
    opening("ALKeyMap", entry);
    value(r->velocityMin, "velocityMin");
    value(r->velocityMax, "velocityMax");
    value(r->keyMin, "keyMin");
    value(r->keyMax, "keyMax");
    value(r->keyBase, "keyBase");
    value(r->detune, "detune");
    close();
  }

  // secondTime is kept in memory but is no part of the header.
  void envelope(const StructEntry& entry) {
    const ALEnvelope* r = entry.getIf<ALEnvelope>();
    if (r == nullptr) return;
    opening("ALEnvelope", entry);
    value(r->attackTime, "attackTime");
    value(r->releaseTime, "releaseTime");
    value(r->attackVolume, "attackVolume");
    value(r->decayVolume, "decayVolume");
    close();
  }

  template <typename Loop>
  void loop(const StructEntry& entry, const char* type, const Loop* r) {
    if (r == nullptr) return;
    opening(type, entry);
    value(r->start, "start");
    value(r->end, "end");
    value(r->count, "count");
    close();
  }

  // Sixteen coefficients per predictor whatever `order` says. The list is
  // the coefficients the book holds, never more than npredictors x 16: the
  // reader stores only what the ROM can supply, so a bogus npredictors
  // (up to 2^31 - 1) cannot make the header run to gigabytes. For every
  // book the ROM really holds, the two counts agree.
  void book(const StructEntry& entry) {
    const ALADPCMBook* r = entry.getIf<ALADPCMBook>();
    if (r == nullptr) return;
    opening("ALADPCMBook", entry);
    value(r->order, "order");
    value(r->npredictors, "npredictors");
    const int64_t claimed =
        static_cast<int64_t>(std::max<int32_t>(r->npredictors, 0)) * kCoefficientsPerPredictor;
    const size_t count = static_cast<size_t>(
        std::min<int64_t>(claimed, static_cast<int64_t>(r->predictors.size())));
    std::fputs("  { // Predictors", file_);
    if (count == 0) std::fputs("\n  ", file_);
    for (size_t k = 0; k < count; ++k) {
      if (k % kItemsPerLine == 0) std::fputs("\n  ", file_);
      std::fprintf(file_, "%+5d, ", static_cast<int>(r->predictors[k]));
    }
    closeList();
  }

  const StructTable& table_;
  FILE* file_;
  int width_;
};

// Closes the header file on every way out; close() reports whether every
// byte reached the file.
class HeaderFile {
 public:
  explicit HeaderFile(const std::string& path) : file_(std::fopen(path.c_str(), "w")) {
    if (file_ != nullptr) std::setvbuf(file_, nullptr, _IOFBF, kHeaderBufferSize);
  }
  ~HeaderFile() {
    if (file_ != nullptr) std::fclose(file_);
  }
  HeaderFile(const HeaderFile&) = delete;
  HeaderFile& operator=(const HeaderFile&) = delete;

  FILE* get() const { return file_; }
  bool close() {
    const bool failed = std::ferror(file_) != 0;
    const bool closeFailed = std::fclose(file_) != 0;
    file_ = nullptr;
    return !failed && !closeFailed;
  }

 private:
  FILE* file_;
};

}  // namespace

void writeHeader(RunContext& ctx) {
  std::string name = kDefaultHeaderName;
  optionText(ctx.settings, "o", name);
  const std::string path = outputPath(ctx.settings, name);

  // "/o" just before the ROM's name takes the ROM itself as the header name;
  // opening it for writing would erase the user's ROM.
  if (ctx.rom != nullptr && ctx.rom->isSameFileAs(path)) {
    std::fprintf(ctx.err, "Refusing to write header file %s: it is the ROM file\n", path.c_str());
    return;
  }
  if (wavNameTaken(ctx, name)) {
    std::fprintf(ctx.err, "Refusing to write header file %s: this run wrote a .wav file of that name\n",
                 path.c_str());
    return;
  }

  HeaderFile file(path);
  if (file.get() == nullptr) {
    std::fprintf(ctx.err, "Unable to write to header file %s\n", path.c_str());
    return;
  }
  writeHeaderText(ctx, file.get(), name.c_str());
  // A full disk would otherwise leave a cut header behind in silence.
  if (!file.close()) std::fprintf(ctx.err, "Error while writing header file %s\n", path.c_str());
}

void writeHeaderText(const RunContext& ctx, FILE* file, const char* headerName) {
  const RunCounters& counters = ctx.counters;
  const bool verbose = ctx.settings.verbose != 0;

  int32_t width = ctx.settings.fieldWidth;
  if (width > kMaxFieldWidth || width < -kMaxFieldWidth) {
    width = width > 0 ? kMaxFieldWidth : -kMaxFieldWidth;
    std::fprintf(ctx.err, "Header field width %d is out of range; using %d\n",
                 ctx.settings.fieldWidth, width);
  }

  std::fputs("/*\\\n|*|\n", file);
  std::fprintf(file, "|*| Banks               %5d\n", counters.banks);
  std::fprintf(file, "|*| Instruments         %5d\n", counters.instruments);
  std::fprintf(file, "|*| Sounds              %5d\n", counters.sounds);
  std::fprintf(file, "|*| Reused References   %5d\n", counters.reusedRefs);
  std::fprintf(file, "|*| Struct Count        %5d\n", counters.structCount - 1);
  std::fputs("\\*/\n\n", file);

  StructPrinter printer(ctx.table, file, width);
  const int32_t entries = std::min(counters.structCount, ctx.table.size());
  for (int32_t i = 1; i < counters.structCount; ++i) {
    if (verbose) {
      std::fprintf(ctx.out, "Dumping structs (%d of %d) to %s\r", i, counters.structCount - 1,
                   headerName);
    }
    if (i < entries) printer.write(ctx.table[i]);
  }
  if (verbose) std::fputs("\n", ctx.out);
}

}  // namespace zaft
