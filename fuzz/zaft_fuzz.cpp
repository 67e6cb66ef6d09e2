// libFuzzer target: arbitrary bytes as a ROM through a whole run (scan or
// given offsets, walk, WAV writer, header writer) into a scratch folder.
// The first byte picks the command line (offsets, /q, /l, /j, /g, /x, /s, /r); the
// rest is the ROM. Every other run decodes on helper threads (/p 3). The
// same bytes also go through the ADPCM decoder's two paths: a book from the
// first 256 bytes (16 predictors of any coefficients), frames from the
// rest; every vectorised path must give what the exact scalar one does.
// The input is also read as an EAD sound-data and sample-table pair (their
// offsets in bytes 1-2 and 3-4), lowered into the instrument model and
// described as JSON; every sample the model places must lie in the input.
// The input past its mode byte is also read as an EAD sequence into MIDI.
//
// The process stays in the folder it was started from, so that crash inputs
// land there (or where -artifact_prefix says) and a relative corpus path
// works; every output goes into the scratch folder through /d, and the
// scratch folder is removed when the fuzzer exits.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "audio/adpcm.h"
#include "bank/ead/ead_bank.h"
#include "bank/ead/ead_lowering.h"
#include "driver/run.h"
#include "export/ead/ead_json.h"
#include "export/ead/ead_midi.h"
#include "rom/compressed_block.h"
#include "util/endian.h"

namespace {

// Kept in static storage of its own: the exit handler runs after the
// function-local string below may already be destroyed.
char removeAtExit[4096];

std::string scratchDir() {
  static std::string dir = [] {
    const char* base = std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp";
    std::string pattern = std::string(base) + "/zaft-fuzz-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (::mkdtemp(name.data()) == nullptr) std::abort();
    std::string made = name.data();
    std::snprintf(removeAtExit, sizeof removeAtExit, "%s", made.c_str());
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(removeAtExit, ignored);
    });
    return made;
  }();
  return dir;
}

// Aborts when the two decoder paths disagree on these bytes.
void compareDecoders(const uint8_t* data, size_t size) {
  constexpr size_t kBookBytes = 16 * 16 * 2;
  if (size < kBookBytes + zaft::kAdpcmFrameBytes) return;
  int16_t coefficients[16 * 16];
  for (size_t i = 0; i < 16 * 16; ++i) {
    coefficients[i] = static_cast<int16_t>(zaft::loadBE16(data + 2 * i));
  }
  const int32_t predictors = 1 + (data[0] & 15);
  const zaft::AdpcmKernel kernel(coefficients, predictors);
  const size_t frames = (size - kBookBytes) / zaft::kAdpcmFrameBytes;
  zaft::AdpcmHistory start;
  start.h[6] = static_cast<int16_t>(zaft::loadBE16(data + 2));
  start.h[7] = static_cast<int16_t>(zaft::loadBE16(data + 4));
  std::vector<uint8_t> exact(frames * 32), fast(frames * 32);
  zaft::AdpcmHistory b = start;
  int32_t missingB = -1;
  kernel.decode(zaft::AdpcmPath::Scalar, b, data + kBookBytes, frames, exact.data(), missingB);
  for (zaft::AdpcmPath path : {zaft::AdpcmPath::Sse2, zaft::AdpcmPath::Avx2}) {
    if (!zaft::AdpcmKernel::runs(path)) continue;
    zaft::AdpcmHistory a = start;
    int32_t missingA = -1;
    kernel.decode(path, a, data + kBookBytes, frames, fast.data(), missingA);
    if (fast != exact || missingA != missingB || a.h[6] != b.h[6] || a.h[7] != b.h[7]) std::abort();
  }
}

// Aborts when a sample of the lowered set lies outside the input.
void readEad(const uint8_t* data, size_t size) {
  if (size < 5) return;
  const auto n = static_cast<int64_t>(size);
  const int64_t soundData = zaft::loadBE16(data + 1);
  const int64_t sampleTable = zaft::loadBE16(data + 3);
  const zaft::EadSoundData sounds = zaft::readEadSoundData(data, n, soundData, sampleTable);
  const zaft::InstrumentSet set = zaft::instrumentSetOf(sounds);
  for (const zaft::Sample& s : set.samples) {
    if (s.base < 0 || s.len < 0 || sampleTable + s.base + s.len > n) std::abort();
  }
  std::string text;
  {
    zaft::JsonWriter json(text);
    zaft::writeEadJsonDocument(sounds, set, {"fuzz", n, zaft::ByteOrder::AsStored}, json);
  }
  if (const auto sequences = zaft::readEadFileTable(data, n, soundData, zaft::kEadSequenceType)) {
    zaft::readEadBankSets(data, n, sampleTable, static_cast<int>(sequences->entries.size()));
  }
  zaft::plausibleEadBank(data, n, soundData, n - soundData, data[0]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static FILE* sink = std::fopen("/dev/null", "w");
  static unsigned runs = 0;
  const std::string dir = scratchDir();
  if (++runs % 256 == 0) {
    // Keep the scratch folder small: WAV names vary with the walk.
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ignored)) {
      std::filesystem::remove_all(entry.path(), ignored);
    }
  }
  if (size == 0) return 0;
  compareDecoders(data, size);
  readEad(data, size);
  // The input past its mode byte as each compressed block format.
  if (size >= 1 + zaft::kBlockHeaderBytes) {
    for (const char* magic : {"MIO0", "Yay0", "Yaz0"}) {
      std::vector<uint8_t> block(data + 1, data + size);
      std::copy_n(magic, 4, block.begin());
      const std::optional<zaft::Decompressed> d =
          zaft::decompressBlock(block.data(), static_cast<int64_t>(block.size()));
      if (!d || static_cast<int64_t>(d->bytes.size()) > d->declaredSize) std::abort();
    }
  }
  // The input past its mode byte as an EAD sequence: its file must hold
  // exactly the bytes it says.
  {
    const zaft::MidiSequence midi = zaft::eadSequenceToMidi(data + 1, static_cast<int64_t>(size - 1), "banks");
    if (!midi.overLimit && static_cast<int64_t>(midi.built.size()) != midi.fileBytes) std::abort();
  }
  const uint8_t mode = data[0];
  const std::string rom = dir + "/rom.bin";
  FILE* file = std::fopen(rom.c_str(), "wb");
  if (file == nullptr) return 0;
  std::fwrite(data + 1, 1, size - 1, file);
  std::fclose(file);

  std::vector<std::string> args{"zaft", "/p", runs % 2 == 0 ? "3" : "1"};
  switch (mode & 3) {
    case 0: break;  // the scan finds the offsets
    case 1: args.insert(args.end(), {"/c", "0", "/t", "0"}); break;
    case 2: args.insert(args.end(), {"/c", "0x10", "/t", "0x40", "/n", "%b%i%s%c%t%q"}); break;
    case 3: args.insert(args.end(), {"/t", "0", "/f", "-3", "/a", "1.5"}); break;
  }
  if (mode & 4) args.push_back("/q");
  if (mode & 8) args.push_back("/l");
  if (mode & 16) args.insert(args.end(), {"/j", "bank.json"});
  if (mode & 32) args.push_back("/g");
  if (mode & 64) args.push_back("/x");
  if ((mode & 64) == 0 && (mode & 3) == 3) args.push_back("/m");  // the music alone
  if (mode & 128) args.insert(args.end(), {"/s", "bank.sf2"});
  // The music rendered too, one second of each, with its stems and an echo.
  const bool music = (mode & 64) != 0 || (mode & 3) == 3;
  if (music && (mode & 8)) args.insert(args.end(), {"/r", "seconds=1,stems=1,fx=echo"});
  if ((mode & 16) != 0 && runs % 2 == 1) args.insert(args.end(), {"/i", "bank.inst"});
  args.insert(args.end(), {"/d", (mode & 64) != 0 ? dir + "/all" : dir});
  args.push_back(rom);
  zaft::runZaft(args, sink, sink);
  return 0;
}
