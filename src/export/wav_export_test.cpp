#include "export/wav_export.h"

#include <gtest/gtest.h>

#include "bank/libultra/bank_lowering.h"

#include <algorithm>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "audio/adpcm.h"
#include "bank/sample_block.h"
#include "export/output_plan.h"
#include "support/test_util.h"
#include "util/endian.h"
#include "util/fatal.h"

namespace zaft {
namespace {

// The len-0 file at 22050 Hz, byte for byte.
const std::vector<uint8_t> kEmptyWav = {
    0x52, 0x49, 0x46, 0x46, 0x32, 0x00, 0x00, 0x00, 0x57, 0x41, 0x56, 0x45, 0x66, 0x6D, 0x74,
    0x20, 0x12, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x22, 0x56, 0x00, 0x00, 0x44, 0xAC,
    0x00, 0x00, 0x02, 0x00, 0x10, 0x00, 0x00, 0x00, 0x66, 0x61, 0x63, 0x74, 0x04, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x64, 0x61, 0x74, 0x61, 0x00, 0x00, 0x00, 0x00};

// The whole file a wave should give: the 58-byte header with the rate and
// the lengths, the data, a pad byte after an odd length.
std::vector<uint8_t> wavOf(const std::vector<uint8_t>& data, uint32_t rate = 22050) {
  std::vector<uint8_t> file = kEmptyWav;
  storeLE32(&file[4], static_cast<uint32_t>(50 + data.size() + data.size() % 2));
  storeLE32(&file[24], rate);
  storeLE32(&file[28], rate * 2);
  storeLE32(&file[46], static_cast<uint32_t>(data.size() / 2));
  storeLE32(&file[54], static_cast<uint32_t>(data.size()));
  file.insert(file.end(), data.begin(), data.end());
  if (data.size() % 2 != 0) file.push_back(0);
  return file;
}

std::vector<uint8_t> wavOf(const std::vector<int16_t>& samples, uint32_t rate = 22050) {
  std::vector<uint8_t> data(samples.size() * 2);
  for (size_t i = 0; i < samples.size(); ++i) {
    storeLE16(&data[2 * i], static_cast<uint16_t>(samples[i]));
  }
  return wavOf(data, rate);
}

// Decodes frames the way the exporter should: reset, then two halves per
// frame with the header's predictor (zero coefficients when the book lacks
// it) and its scale capped at 12. A last frame cut short reads as zeros.
std::vector<int16_t> referenceDecode(std::vector<uint8_t> frames,
                                     const std::vector<int16_t>& coefficients) {
  static const int16_t zero[16] = {};
  frames.resize((frames.size() + 8) / 9 * 9, 0);
  std::vector<int16_t> samples;
  AdpcmHistory history;
  for (size_t f = 0; f < frames.size(); f += kAdpcmFrameBytes) {
    const uint8_t h = frames[f];
    const size_t p = h & 0x0F;
    const uint8_t scale = static_cast<uint8_t>(std::min(h >> 4, 12));
    const int16_t* c = 16 * (p + 1) <= coefficients.size() ? &coefficients[16 * p] : zero;
    int16_t out[16];
    decodeAdpcmHalfFrame(history, &frames[f + 1], c, scale, out);
    decodeAdpcmHalfFrame(history, &frames[f + 5], c, scale, out + 8);
    samples.insert(samples.end(), out, out + 16);
  }
  return samples;
}

// Coefficients that differ per predictor and per position, so a wrong pick
// shows in the samples.
std::vector<int16_t> distinctBook(int predictors) {
  std::vector<int16_t> c;
  for (int p = 0; p < predictors; ++p) {
    for (int i = 0; i < 16; ++i) {
      c.push_back(static_cast<int16_t>((i < 8 ? -900 : 1900) + 37 * p - 11 * i));
    }
  }
  return c;
}

std::vector<uint8_t> pseudoRandom(size_t n, uint32_t seed) {
  std::vector<uint8_t> bytes(n);
  for (uint8_t& b : bytes) {
    seed = seed * 1103515245u + 12345u;
    b = static_cast<uint8_t>(seed >> 16);
  }
  return bytes;
}

ALWaveTable adpcm(int32_t base, int32_t len, int32_t book, int32_t loop = 0) {
  return {base, len, kWaveTypeAdpcm, 0, {{loop, book}}};
}

ALWaveTable raw(int32_t base, int32_t len, uint8_t type = kWaveTypeRaw, int32_t loop = 0) {
  return {base, len, type, 0, {{loop, 0}}};
}

// The names the output plan gives a bank file's waves in the folder "out".
std::vector<PlannedFile> wavNames(const InstrumentSet& set) {
  return OutputPlan(FileIdentity{})
      .planBankFile("out", set, false, true, {{"header file", "CONTROL.H", false}})
      .waves;
}

// A bank file put together by hand; exportWaves writes its waves into the
// folder "out" of a MemoryTarget under the names the output plan gives.
class WavExportTest : public ::testing::Test {
 protected:
  int32_t add(StructKind kind, RecordData data) {
    StructEntry& entry = bank.table.append(0x1000u + 0x100u * bank.table.size());
    entry.kind = kind;
    entry.data = std::move(data);
    bank.counters.structCount = bank.table.size();
    return bank.table.size() - 1;
  }
  int32_t book(std::vector<int16_t> coefficients, int32_t npredictors = -1) {
    ALADPCMBook b;
    b.order = 2;
    b.npredictors = npredictors >= 0 ? npredictors : static_cast<int32_t>(coefficients.size() / 16);
    b.predictors = std::move(coefficients);
    return add(StructKind::AdpcmBook, b);
  }
  // A wave reached by bank 0, instrument 0 and the next sound number, unless
  // given another place.
  void wave(const ALWaveTable& w, int32_t rate = 22050, WalkIndices at = {-1, -1, -1}) {
    if (at.bank < 0) at = {0, 0, static_cast<int16_t>(bank.waves.size())};
    bank.waves.push_back({add(StructKind::WaveTable, w), at, rate, 0, 0});
  }

  // Every export runs on one thread and again with helpers: the files, the
  // messages and the outcomes must be the same. The frames decoding judged
  // must give the sample-block check's verdict.
  void run(std::vector<uint8_t> romBytes, int64_t tblOffset = 0, bool samplerChunk = false) {
    const RomImage rom(std::move(romBytes));
    const InstrumentSet set = instrumentSetOf(bank, 1.0);
    const std::vector<PlannedFile> names = wavNames(set);
    WavOptions options;
    options.samplerChunk = samplerChunk;
    const std::string before = report.errText();
    MemoryTarget sequential;
    result = exportWaves(rom, set, tblOffset, names, options, sequential, report);
    for (const auto& [path, bytes] : sequential.files) target.files[path] = bytes;

    options.threads = 3;
    MemoryTarget threadedTarget;
    CollectingReporter threadedReport;
    const WavResult threaded =
        exportWaves(rom, set, tblOffset, names, options, threadedTarget, threadedReport);
    EXPECT_EQ(threadedTarget.files, sequential.files);
    EXPECT_EQ(report.errText(), before + threadedReport.errText());
    EXPECT_EQ(threaded.files, result.files);
    EXPECT_EQ(threaded.frames.size(), result.frames.size());
    for (size_t k = 0; k < bank.waves.size(); ++k) {
      const int32_t entry = bank.waves[k].entry;
      EXPECT_EQ(threaded.outcomes.at(entry).samples, result.outcomes.at(entry).samples);
      EXPECT_EQ(threaded.outcomes.at(entry).file, result.outcomes.at(entry).file);
    }

    const SampleBlockCheck read = validateSampleBlock(rom, probesOf(bank), tblOffset);
    const SampleBlockCheck folded =
        validateSampleBlock(rom, probesOf(bank), tblOffset, result.frames);
    EXPECT_EQ(std::tie(folded.frames, folded.plausibleFrames, folded.blankFrames, folded.allInside),
              std::tie(read.frames, read.plausibleFrames, read.blankFrames, read.allInside));
  }

  std::vector<uint8_t> file(const std::string& name) {
    const auto found = target.files.find("out/" + name);
    if (found == target.files.end()) {
      ADD_FAILURE() << "no file out/" << name;
      return {};
    }
    return found->second;
  }
  std::vector<std::string> written() const {
    std::vector<std::string> paths;
    for (const auto& [path, bytes] : target.files) paths.push_back(path);
    return paths;
  }
  const WaveOutcome& outcome(size_t wave) { return result.outcomes[bank.waves[wave].entry]; }

  BankFile bank;
  MemoryTarget target;
  CollectingReporter report;
  WavResult result;
};

// Empty waves, waves of an unknown type and waves of a negative length are
// all the 58-byte file; only a negative length is worth a warning.
TEST_F(WavExportTest, EmptyDataChunks) {
  wave(adpcm(0, 0, 0));
  wave(raw(0, 0));
  wave(raw(0, 16, 2));
  wave(adpcm(0, -9, book(distinctBook(1))));
  wave(raw(0, INT32_MIN));
  run(std::vector<uint8_t>(64, 0x11));
  for (const char* name :
       {"A000000.WAV", "@000001.WAV", "@000002.WAV", "A000003.WAV", "@000004.WAV"}) {
    EXPECT_EQ(file(name), kEmptyWav) << name;
  }
  EXPECT_EQ(result.files, 5);
  EXPECT_EQ(report.errText(),
            "Warning: out/A000003.WAV has a negative length (-9); its data chunk is empty\n"
            "Warning: out/@000004.WAV has a negative length (-2147483648); its data chunk is "
            "empty\n");
  EXPECT_EQ(report.outText(), "");
}

// The rate and twice it in the header (a negative rate, which has no
// meaning there, as 0), and the outcome of the file as written: the JSON
// document describes the file by it.
TEST_F(WavExportTest, RateAndOutcome) {
  const std::vector<uint8_t> frame = {0x32, 0x12, 0x34, 0xF0, 0x0F, 0x77, 0x88, 0x01, 0xEF};
  std::vector<uint8_t> rom(32, 0xAA);
  std::copy(frame.begin(), frame.end(), rom.begin() + 16);
  const std::vector<int16_t> coefficients = distinctBook(4);
  const int32_t b = book(coefficients);
  wave(adpcm(6, 9, b), 44100);
  wave(adpcm(6, 9, b), -5);
  run(rom, 10);
  EXPECT_EQ(file("A000000.WAV"), wavOf(referenceDecode(frame, coefficients), 44100));
  EXPECT_EQ(file("A000001.WAV"), wavOf(referenceDecode(frame, coefficients), 0));
  EXPECT_EQ(outcome(0).file, "A000000.WAV");
  EXPECT_EQ(outcome(0).samples, 16);
  EXPECT_EQ(outcome(0).rate, 44100);
  EXPECT_EQ(outcome(0).skipped, "");
  EXPECT_EQ(outcome(1).rate, 0);
  // Said once per bank: players refuse a rate of 0.
  EXPECT_EQ(report.errText(),
            "Warning: bank 0 has an output rate of -5 Hz; its .wav files get the rate 0, which "
            "players refuse (see /a)\n");
}

// The frame header picks the predictor and the scale (capped at 12); the
// history starts from zero for every wave; the bytes of a last frame cut by
// `len` read as zero, not as what follows the wave.
TEST_F(WavExportTest, AdpcmDecodesThroughTheBook) {
  std::vector<uint8_t> rom = pseudoRandom(4 * 9, 7);
  rom[0] = 0xD5;   // scale 12, predictor 5
  rom[9] = 0xF3;   // scale 15 read as 12, predictor 3
  rom[18] = 0xC7;  // 12 and 7
  rom[27] = 0x21;  // 2 and 1
  const std::vector<uint8_t> frames = rom;
  const std::vector<uint8_t> cut = {0x12, 0x13, 0x57, 0x9B, 0xDF, 0x02, 0x46, 0x8A, 0xCE, 0x30};
  rom.insert(rom.end(), cut.begin(), cut.end());
  rom.resize(rom.size() + 16, 0xFF);
  const std::vector<int16_t> coefficients = distinctBook(8);
  const int32_t b = book(coefficients);
  wave(adpcm(0, 36, b));
  wave(adpcm(0, 36, b));
  wave(adpcm(36, 10, b));
  run(rom);
  EXPECT_EQ(file("A000000.WAV"), wavOf(referenceDecode(frames, coefficients)));
  EXPECT_EQ(file("A000001.WAV"), wavOf(referenceDecode(frames, coefficients)));
  EXPECT_EQ(file("A000002.WAV"), wavOf(referenceDecode(cut, coefficients)));
  EXPECT_EQ(report.errText(), "");
}

TEST_F(WavExportTest, MissingCoefficientsDecodeAsZeroWithOneWarning) {
  // No book at all: index 0, an entry of another kind, indices past the table.
  const int32_t notABook = add(StructKind::Sound, ALSound{});
  std::vector<uint8_t> frames = pseudoRandom(27, 11);
  frames[0] = 0x41;   // predictor 1: in the book
  frames[9] = 0x52;   // predictor 2: not in a book of 2
  frames[18] = 0x6F;  // predictor 15: not either
  const std::vector<int16_t> coefficients = distinctBook(2);
  const int32_t indices[] = {0, notABook, 4096, -1};
  wave(adpcm(0, 27, book(coefficients, 4)));
  for (int32_t index : indices) wave(adpcm(0, 27, index));
  run(frames);
  EXPECT_EQ(file("A000000.WAV"), wavOf(referenceDecode(frames, coefficients)));
  std::string warnings =
      "Warning: out/A000000.WAV uses predictor 2 but its book holds 2; decoded with zero "
      "coefficients\n";
  for (int k = 1; k <= 4; ++k) {
    EXPECT_EQ(file(formatText("A%06d.WAV", k)), wavOf(referenceDecode(frames, {}))) << k;
    warnings += formatText("Warning: out/A%06d.WAV has no codebook (book index %d); decoded with "
                           "zero coefficients\n", k, indices[k - 1]);
  }
  EXPECT_EQ(notABook, 1);
  EXPECT_EQ(report.errText(), warnings);
}

// Big-endian samples become little-endian, two's complement kept (0x8000 is
// -32768, 0x7FFF 32767); an odd length keeps its last byte and pads the data
// chunk, counting whole samples only.
TEST_F(WavExportTest, RawSamples) {
  wave(raw(1, 8));
  wave(raw(1, 5));
  run({0x00, 0x12, 0x34, 0x80, 0x00, 0x7F, 0xFF, 0xFF, 0xFF, 0x55});
  EXPECT_EQ(file("@000000.WAV"), wavOf(std::vector<int16_t>{0x1234, -32768, 32767, -1}));
  const std::vector<uint8_t> odd = file("@000001.WAV");
  EXPECT_EQ(odd, wavOf(std::vector<uint8_t>{0x34, 0x12, 0x00, 0x80, 0x7F}));
  EXPECT_EQ(odd.size(), 64u);
  EXPECT_EQ(outcome(1).samples, 2);
}

// Whatever lies inside the ROM is written, with one warning naming where the
// wave lies (a minus sign before the file's start; sums past 32 bits).
TEST_F(WavExportTest, WaveDataOutsideTheRom) {
  std::vector<uint8_t> rom(100);
  for (size_t i = 0; i < rom.size(); ++i) rom[i] = static_cast<uint8_t>(i * 7);
  const std::vector<int16_t> coefficients = distinctBook(16);
  const int32_t b = book(coefficients);
  wave(raw(6, 1000000));     // 96..99 exist
  wave(raw(-93, 6));         // -3..2: bytes 0..2 exist, byte 0 ends a cut sample
  wave(adpcm(-9, 36, b));    // frames at 81, 90 and 99 start inside
  wave(adpcm(-108, 36, b));  // frames at -18 and -9 start before the file
  wave(adpcm(10, 9, b));     // at 100: nothing
  run(rom, 90);
  EXPECT_EQ(file("@000000.WAV"), wavOf(std::vector<uint8_t>{rom[97], rom[96], rom[99], rom[98]}));
  EXPECT_EQ(file("@000001.WAV"), wavOf(std::vector<uint8_t>{rom[2], rom[1]}));
  EXPECT_EQ(
      file("A000002.WAV"),
      wavOf(referenceDecode(std::vector<uint8_t>(rom.begin() + 81, rom.end()), coefficients)));
  EXPECT_EQ(
      file("A000003.WAV"),
      wavOf(referenceDecode(std::vector<uint8_t>(rom.begin(), rom.begin() + 18), coefficients)));
  EXPECT_EQ(file("A000004.WAV"), kEmptyWav);
  EXPECT_EQ(report.errText(),
            "Warning: out/@000000.WAV: wave data at 0x000060 (1000000 bytes) lies outside the "
            "ROM; 4 of its bytes exist\n"
            "Warning: out/@000001.WAV: wave data at -0x000003 (6 bytes) lies outside the ROM; 2 "
            "of its bytes exist\n"
            "Warning: out/A000002.WAV: wave data at 0x000051 (36 bytes) lies outside the ROM; 19 "
            "of its bytes exist\n"
            "Warning: out/A000003.WAV: wave data at -0x000012 (36 bytes) lies outside the ROM; "
            "18 of its bytes exist\n"
            "Warning: out/A000004.WAV: wave data at 0x000064 (9 bytes) lies outside the ROM; 0 "
            "of its bytes exist\n");

  report.clear();
  bank = BankFile{};
  wave(raw(2000000000, 2000000000));
  run(rom, 2000000000);
  EXPECT_EQ(file("@000000.WAV"), kEmptyWav);
  EXPECT_EQ(report.errText(),
            "Warning: out/@000000.WAV: wave data at 0xEE6B2800 (2000000000 bytes) lies outside "
            "the ROM; 0 of its bytes exist\n");
}

// The frame headers decoding judges count as the sample-block check's own
// reading: implausible scales and predictors, blank frames, pad bytes, cut
// frames, frames outside the ROM, waves without a book, shared waves
// (run() compares the two).
TEST_F(WavExportTest, DecodingJudgesFramesAsTheCheckDoes) {
  std::vector<uint8_t> rom = pseudoRandom(900, 3);
  std::fill(rom.begin() + 90, rom.begin() + 180, 0);  // ten blank frames
  rom[271] = 0x00;                                    // a zero pad byte at 271
  rom[280] = 0x35;                                    // a pad byte that is not
  const int32_t two = book(distinctBook(2));
  const int32_t none = book({}, 0);
  for (const ALWaveTable& w : {adpcm(0, 270, two), adpcm(90, 181, two), adpcm(90, 181, two),
                               adpcm(100, 181, two), adpcm(-40, 90, two), adpcm(850, 90, two),
                               adpcm(0, 90, none), adpcm(0, 90, 99), adpcm(5, 44, two)}) {
    wave(w);
  }
  run(rom);
  ASSERT_EQ(result.frames.size(), 9u);
  EXPECT_TRUE(result.frames[0].has_value());
  EXPECT_FALSE(result.frames[6].has_value());  // no predictors to judge by
}

// A wave whose name an earlier one took: the plan's notice comes first, the
// wave's own warnings name the file it is written as.
TEST_F(WavExportTest, CoincidingNamesKeepEveryWave) {
  wave(raw(0, 2), 22050, {1, 0, 123});
  wave(raw(0, -2), 22050, {10, 1, 23});
  wave(raw(4, 2), 22050, {1, 0, 123});
  run({0x00, 0x01, 0x00, 0x02, 0x00, 0x03});
  EXPECT_EQ(written(), (std::vector<std::string>{"out/@1000123.WAV", "out/@1000123_1.WAV",
                                                 "out/@1000123_2.WAV"}));
  EXPECT_EQ(file("@1000123.WAV"), wavOf(std::vector<int16_t>{1}));
  EXPECT_EQ(file("@1000123_2.WAV"), wavOf(std::vector<int16_t>{3}));
  EXPECT_EQ(outcome(1).file, "@1000123_1.WAV");
  EXPECT_EQ(result.files, 3);
  EXPECT_EQ(report.errText(),
            "Warning: @1000123.WAV was already written in this run; this wave is written as "
            "@1000123_1.WAV\n"
            "Warning: out/@1000123_1.WAV has a negative length (-2); its data chunk is empty\n"
            "Warning: @1000123.WAV was already written in this run; this wave is written as "
            "@1000123_2.WAV\n");
}

// A file that cannot be made or written whole ends the export: every wave
// goes to the same folder, and a full disk would fail them all. The message
// names the file and the reason; what was done stays counted.
TEST_F(WavExportTest, UnopenableAndFailingFiles) {
  struct Case {
    const char* unopenable;
    const char* failing;
    int files;
    std::string message;
  };
  const Case cases[] = {
      {"out/@000001.WAV", "", 1,
       "Unable to open .wav output file out/@000001.WAV\n  Permission denied\n"},
      {"", "out/@000001.WAV", 2,
       "Unable to write .wav output file out/@000001.WAV: Input/output error\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    MemoryTarget files;
    files.unopenable = {c.unopenable};
    files.failing = {c.failing};
    bank = BankFile{};
    for (int k = 0; k < 3; ++k) wave(raw(0, 4));
    const InstrumentSet set = instrumentSetOf(bank, 1.0);
    WavResult into;
    try {
      exportWaves(RomImage({0x12, 0x34, 0x56, 0x78}), set, 0, wavNames(set), WavOptions{}, files,
                  report, into);
      ADD_FAILURE() << "the export went on";
    } catch (const FatalError& error) {
      EXPECT_EQ(error.what(), c.message);
    }
    EXPECT_EQ(into.files, c.files);
    EXPECT_EQ(files.files.size(), 1u);  // only the first wave, whole
  }
}

// More than one piece's worth of samples: the lengths are right and every
// frame arrives in order.
TEST_F(WavExportTest, LargeWaveIsWrittenWhole) {
  const size_t frameCount = 40000;  // 1.28 MB of samples
  std::vector<uint8_t> frames = pseudoRandom(frameCount * 9, 5);
  for (size_t f = 0; f < frames.size(); f += 9) frames[f] &= 0x73;  // quiet scales, predictors 0..3
  const std::vector<int16_t> coefficients = distinctBook(4);
  wave(adpcm(0, static_cast<int32_t>(frames.size()), book(coefficients)));
  run(frames);
  EXPECT_TRUE(file("A000000.WAV") == wavOf(referenceDecode(frames, coefficients)));
}

// Python's wave module reads the files (an odd raw wave's pad byte included)
// as the samples they were meant to hold.
TEST_F(WavExportTest, IndependentReaderAgrees) {
  ZAFT_SKIP_WITHOUT_SHELL();
  std::vector<uint8_t> rom = pseudoRandom(5 * 9, 9);
  for (size_t f = 0; f < rom.size(); f += 9) rom[f] &= 0x93;
  const std::vector<uint8_t> frames = rom;
  rom.insert(rom.end(), {0x80, 0x00, 0x12, 0x34, 0x7F, 0xFF, 0xAB});
  const std::vector<int16_t> coefficients = distinctBook(4);
  wave(adpcm(0, 45, book(coefficients)), 32000);
  wave(raw(45, 7), 32000);
  run(rom);
  std::string command =
      "python3 -c 'import io, sys, wave, struct\n"
      "for h in sys.argv[1:]:\n"
      "    w = wave.open(io.BytesIO(bytes.fromhex(h)), \"rb\")\n"
      "    n = w.getnframes()\n"
      "    print(w.getnchannels(), w.getsampwidth(), w.getframerate(), n,\n"
      "          *struct.unpack(\"<%dh\" % n, w.readframes(n)[:2 * n]))'";
  for (const char* name : {"A000000.WAV", "@000001.WAV"}) {
    command += ' ';
    for (uint8_t byte : file(name)) command += formatText("%02x", byte);
  }
  const test::RunResult check = test::runShell(command + " 2>&1");
  ASSERT_EQ(check.status, 0) << check.out;
  std::ostringstream expected;
  expected << "1 2 32000 80";
  for (int16_t s : referenceDecode(frames, coefficients)) expected << ' ' << s;
  expected << "\n1 2 32000 3 -32768 4660 32767\n";
  EXPECT_EQ(check.out, expected.str());
}

// /l: the "smpl" chunk follows the data and its pad byte, counted in the
// RIFF size; its warnings come after those of the samples.
TEST_F(WavExportTest, SamplerChunkFollowsTheData) {
  const int32_t loop = add(StructKind::AdpcmLoop, ALADPCMloop{0, 100, 1});
  wave(adpcm(0, 9, book(distinctBook(1)), loop));
  wave(raw(9, 5));
  run({0x52, 1, 2, 3, 4, 5, 6, 7, 8, 0x12, 0x34, 0x56, 0x78, 0x9A}, 0, true);
  const InstrumentSet set = instrumentSetOf(bank, 1.0);
  for (const char* name : {"A000000.WAV", "@000001.WAV"}) {
    const std::vector<uint8_t> wav = file(name);
    CollectingReporter ignored;
    const Sample& sample = set.samples[name[0] == 'A' ? 0 : 1];
    std::vector<uint8_t> expected =
        wavOf(std::vector<uint8_t>(wav.begin() + 58, wav.begin() + 58 + loadLE32(&wav[54])));
    const std::vector<uint8_t> chunk = samplerChunk(sample, loadLE32(&wav[46]), "", ignored);
    expected.insert(expected.end(), chunk.begin(), chunk.end());
    storeLE32(&expected[4], static_cast<uint32_t>(expected.size() - 8));
    EXPECT_EQ(wav, expected) << name;
  }
  EXPECT_EQ(file("@000001.WAV").size(), 58u + 6u + 44u);
  EXPECT_EQ(report.errText(),
            "Warning: out/A000000.WAV uses predictor 2 but its book holds 1; decoded with zero "
            "coefficients\n"
            "Warning: out/A000000.WAV: loop 0..99 reaches past its 16 samples; clipped to "
            "0..15\n");
}

// The chunk: "smpl", its size, 0 for the manufacturer and product, the
// sample period in ns, the unity note and its fraction from the key map's
// base key and detune (60 without a key map; clamped to 0..127), 0 for the
// SMPTE fields, the loop count, 0 for the sampler data; a loop is an id and
// a type of 0, its start and end (the last sample played) clipped to the
// samples, a fraction of 0 and the play count (0 endless: any negative
// count, and 2147483647). A count of 0 or a start at or past the end is no
// loop.
TEST_F(WavExportTest, SamplerChunkFields) {
  struct Case {
    int loopKind;  // 0 none, 1 ADPCM, 2 raw
    int32_t start, end, count;
    int keyBase;  // -1: no key map
    int8_t detune;
    int32_t rate, samples;
    uint32_t note, fraction, period;
    int64_t loopStart, loopEnd;  // -1: no loop written
    uint32_t playCount;
    const char* warning;
  };
  const Case cases[] = {
      {0, 0, 0, 0, -1, 0, 16000, 100, 60, 0, 62500, -1, -1, 0, ""},
      // The sample sounds keyBase * 100 - detune cents (audio/pitch.h).
      {1, 16, 100, -1, 60, -50, 16000, 320, 60, 0x80000000u, 62500, 16, 99, 0, ""},
      {2, 8, 50, 3, 72, 30, 22050, 64, 71, 3006477107u, 45351, 8, 49, 3, ""},
      {2, 10, 1000, INT32_MAX, -1, 0, 16000, 40, 60, 0, 62500, 10, 39, 0,
       "Warning: L: loop 10..999 reaches past its 40 samples; clipped to 10..39\n"},
      {1, -5, 10, 1, -1, 0, 16000, 40, 60, 0, 62500, 0, 9, 1,
       "Warning: L: loop -5..9 reaches past its 40 samples; clipped to 0..9\n"},
      {1, 50, 60, 1, -1, 0, 16000, 40, 60, 0, 62500, -1, -1, 0,
       "Warning: L: loop 50..59 lies outside its 40 samples; no loop is written\n"},
      {1, 0, 10, 0, -1, 0, 16000, 40, 60, 0, 62500, -1, -1, 0, ""},
      {1, 20, 20, 1, -1, 0, 16000, 40, 60, 0, 62500, -1, -1, 0, ""},
      {1, 0, 10, -7, -1, 0, 16000, 40, 60, 0, 62500, 0, 9, 0, ""},
      {0, 0, 0, 0, 127, 99, 16000, 40, 126, 42949673u, 62500, -1, -1, 0, ""},
      {0, 0, 0, 0, 0, -5, 16000, 40, 0, 214748365u, 62500, -1, -1, 0, ""},
      {0, 0, 0, 0, 0, 30, 16000, 40, 0, 0, 62500, -1, -1, 0, ""},  // below note 0: held there
      {0, 0, 0, 0, -1, 0, 0, 40, 60, 0, 0, -1, -1, 0, ""},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE("case " + std::to_string(n++));
    bank = BankFile{};
    const int32_t loop =
        c.loopKind == 0   ? 0
        : c.loopKind == 1 ? add(StructKind::AdpcmLoop, ALADPCMloop{c.start, c.end, c.count})
                          : add(StructKind::RawLoop, ALRawLoop{c.start, c.end, c.count});
    const int32_t keyMap =
        c.keyBase < 0 ? 0
                      : add(StructKind::KeyMap,
                            ALKeyMap{0, 127, 0, 127, static_cast<uint8_t>(c.keyBase), c.detune});
    wave(c.loopKind == 2 ? raw(0, 0, kWaveTypeRaw, loop) : adpcm(0, 0, 0, loop), c.rate);
    bank.waves[0].keyMap = keyMap;

    const bool looped = c.loopStart >= 0;
    std::vector<uint8_t> expected(looped ? 68 : 44, 0);
    std::copy_n("smpl", 4, expected.begin());
    storeLE32(&expected[4], looped ? 60 : 36);
    storeLE32(&expected[16], c.period);
    storeLE32(&expected[20], c.note);
    storeLE32(&expected[24], c.fraction);
    storeLE32(&expected[36], looped ? 1 : 0);
    if (looped) {
      storeLE32(&expected[52], static_cast<uint32_t>(c.loopStart));
      storeLE32(&expected[56], static_cast<uint32_t>(c.loopEnd));
      storeLE32(&expected[64], c.playCount);
    }
    report.clear();
    const InstrumentSet set = instrumentSetOf(bank, 1.0);
    EXPECT_EQ(samplerChunk(set.samples[0], c.samples, "L", report), expected);
    EXPECT_EQ(report.errText(), c.warning);
  }
}

// At the 4 GiB cap the RIFF size still counts every chunk after the data:
// the most frames whose file fits, and one more that would not.
TEST(WavSizes, TheCapLeavesRoomForTheSamplerChunk) {
  for (uint64_t trailing : {uint64_t{0}, uint64_t{44}, uint64_t{kMaxSamplerChunkBytes}}) {
    const int64_t frames = maxWavFrames(trailing);
    const uint64_t data = static_cast<uint64_t>(frames) * 32;
    EXPECT_LE(wavRiffSize(data, trailing), UINT32_MAX) << trailing;
    EXPECT_GT(wavRiffSize(data + 32, trailing), UINT32_MAX) << trailing;
  }
  EXPECT_EQ(wavRiffSize(3, 68), 50u + 3 + 1 + 68);  // an odd count's pad byte
}

}  // namespace
}  // namespace zaft
