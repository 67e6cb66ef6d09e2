#include "export/libultra/aifc_export.h"

#include <algorithm>
#include <cstring>

#include "util/endian.h"
#include "util/fatal.h"

namespace zaft {

std::string aifcNameFor(const std::string& wavName) {
  const size_t dot = wavName.rfind('.');
  return (dot == std::string::npos ? wavName : wavName.substr(0, dot)) + ".aifc";
}

namespace {

// Big-endian chunk building.
class Chunks {
 public:
  void tag(const char* four) { bytes_.insert(bytes_.end(), four, four + 4); }
  void u8(uint8_t v) { bytes_.push_back(v); }
  void u16(uint16_t v) {
    uint8_t b[2];
    storeBE16(b, v);
    bytes_.insert(bytes_.end(), b, b + 2);
  }
  void u32(uint32_t v) {
    uint8_t b[4];
    storeBE32(b, v);
    bytes_.insert(bytes_.end(), b, b + 4);
  }
  // A Pascal string: its length, its characters, a pad byte to an even size.
  void pstring(const char* text) {
    const size_t n = std::strlen(text);
    u8(static_cast<uint8_t>(n));
    bytes_.insert(bytes_.end(), text, text + n);
    if ((n + 1) % 2 != 0) u8(0);
  }
  // An 80-bit extended number holding a whole rate; 0 for none.
  void extended(int32_t rate) {
    uint8_t b[10] = {};
    if (rate > 0) {
      const uint32_t r = static_cast<uint32_t>(rate);
      int top = 31;
      while ((r >> top) == 0) --top;
      storeBE16(b, static_cast<uint16_t>(16383 + top));
      const uint64_t mantissa = uint64_t{r} << (63 - top);
      storeBE32(b + 2, static_cast<uint32_t>(mantissa >> 32));
      storeBE32(b + 6, static_cast<uint32_t>(mantissa));
    }
    bytes_.insert(bytes_.end(), b, b + 10);
  }
  void raw(const uint8_t* p, size_t n) { bytes_.insert(bytes_.end(), p, p + n); }
  // Opens a chunk; close() fills in its size and pads it to an even size.
  size_t open(const char* four) {
    tag(four);
    u32(0);
    return bytes_.size();
  }
  void close(size_t start) {
    storeBE32(bytes_.data() + start - 4, static_cast<uint32_t>(bytes_.size() - start));
    if ((bytes_.size() - start) % 2 != 0) u8(0);
  }
  std::vector<uint8_t>& bytes() { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

void writeBook(Chunks& c, const ALADPCMBook& book) {
  // The order is a claim too: a book the console can play has order 2; any
  // order up to 8 is kept, its coefficients taken as the ROM holds them.
  const int32_t order = std::clamp(book.order, 0, 8);
  const int32_t predictors = book.storedPredictors();
  const size_t chunk = c.open("APPL");
  c.tag("stoc");
  c.pstring("VADPCMCODES");
  c.u16(1);
  c.u16(static_cast<uint16_t>(order));
  c.u16(static_cast<uint16_t>(predictors));
  const size_t count = static_cast<size_t>(order) * 8 * static_cast<size_t>(predictors);
  for (size_t k = 0; k < count; ++k) {
    c.u16(static_cast<uint16_t>(k < book.predictors.size() ? book.predictors[k] : 0));
  }
  c.close(chunk);
}

// A loop with its 16 samples of decoder state, which follow its count in
// the ROM (none for a raw wave's loop: its state is written 0).
template <typename Loop>
void writeLoop(Chunks& c, const Loop& loop, const uint8_t* state) {
  const size_t chunk = c.open("APPL");
  c.tag("stoc");
  c.pstring("VADPCMLOOPS");
  c.u16(1);
  c.u16(1);
  c.u32(static_cast<uint32_t>(loop.start));
  c.u32(static_cast<uint32_t>(loop.end));
  c.u32(static_cast<uint32_t>(loop.count));
  for (size_t k = 0; k < 16; ++k) c.u16(state != nullptr ? loadBE16(state + 2 * k) : 0);
  c.close(chunk);
}

void writeMarkers(Chunks& c, const ALRawLoop& loop) {
  size_t chunk = c.open("MARK");
  c.u16(2);
  c.u16(1);
  c.u32(static_cast<uint32_t>(loop.start));
  c.pstring("start");
  c.u16(2);
  c.u32(static_cast<uint32_t>(loop.end));
  c.pstring("end");
  c.close(chunk);
  chunk = c.open("INST");
  // base note, detune, key and velocity range, gain
  c.u8(60);
  c.u8(0);
  c.u8(0);
  c.u8(127);
  c.u8(1);
  c.u8(127);
  c.u16(0);
  c.u16(1);  // sustain loop: forward, markers 1 and 2
  c.u16(1);
  c.u16(2);
  c.u16(0);  // release loop: none
  c.u16(0);
  c.u16(0);
  c.close(chunk);
}

}  // namespace

std::vector<uint8_t> aifcBytes(const RomImage& rom, const BankFile& bank, const WaveRef& ref,
                               int64_t tblOffset, const std::string& name, Reporter& report) {
  const ALWaveTable& wave = bank.wave(ref);
  const bool adpcm = wave.type == kWaveTypeAdpcm;
  const int64_t frameBytes = adpcm ? 9 : 2;
  // The bytes the record claims, and those of them the ROM holds.
  const int64_t claimed = std::max<int64_t>(wave.len, 0);
  const int64_t start = tblOffset + wave.base;
  const int64_t inRom =
      start < 0 || start >= static_cast<int64_t>(rom.size())
          ? 0
          : std::min<int64_t>(claimed, static_cast<int64_t>(rom.size()) - start);
  int64_t kept = inRom;
  if (inRom < claimed) {
    kept -= kept % frameBytes;
    report.errf("Warning: %s holds %lld of the %lld bytes of its wave: the rest lies past the "
                "end of the ROM\n",
                name.c_str(), static_cast<long long>(kept), static_cast<long long>(claimed));
  }
  const int64_t frames = adpcm ? kept / 9 * 16 : kept / 2;

  Chunks c;
  const size_t form = c.open("FORM");
  c.tag(adpcm ? "AIFC" : "AIFF");
  if (adpcm) {
    const size_t fver = c.open("FVER");
    c.u32(0xA2805140u);
    c.close(fver);
  }
  const size_t comm = c.open("COMM");
  c.u16(1);
  c.u32(static_cast<uint32_t>(frames));
  c.u16(16);
  c.extended(ref.outputRate);
  if (adpcm) {
    c.tag("VAPC");
    c.pstring("VADPCM ~4-1");
  }
  c.close(comm);
  if (adpcm) {
    if (const ALADPCMBook* book = bank.bookOf(wave)) writeBook(c, *book);
    const int32_t loop = wave.waveInfo.adpcmWave.loop;
    if (const ALADPCMloop* record = bank.table.recordAt<ALADPCMloop>(loop)) {
      // State past the end of the ROM is written 0.
      const size_t state = size_t{bank.table[loop].fileOffset} + 12;
      const bool inRom = state + 32 <= static_cast<size_t>(rom.size());
      writeLoop(c, *record, inRom ? rom.data() + state : nullptr);
    }
  } else if (const ALRawLoop* loop = bank.table.recordAt<ALRawLoop>(wave.waveInfo.rawWave.loop)) {
    writeMarkers(c, *loop);
    writeLoop(c, *loop, nullptr);
  }
  const size_t ssnd = c.open("SSND");
  c.u32(0);
  c.u32(0);
  if (kept > 0) c.raw(rom.data() + start, static_cast<size_t>(kept));
  c.close(ssnd);
  c.close(form);
  return std::move(c.bytes());
}

}  // namespace zaft
