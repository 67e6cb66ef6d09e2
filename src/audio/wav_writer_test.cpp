#include "audio/wav_writer.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "audio/adpcm.h"
#include "driver/fatal.h"
#include "driver/run_context.h"
#include "rom/endian.h"
#include "rom/rom_stream.h"
#include "support/rom_builder.h"
#include "support/test_util.h"

namespace zaft {
namespace {

// The len-0 file at 22050 Hz, byte for byte.
const std::vector<uint8_t> kEmptyWav = {
    0x52, 0x49, 0x46, 0x46, 0x32, 0x00, 0x00, 0x00, 0x57, 0x41, 0x56, 0x45, 0x66, 0x6D, 0x74,
    0x20, 0x12, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x22, 0x56, 0x00, 0x00, 0x44, 0xAC,
    0x00, 0x00, 0x02, 0x00, 0x10, 0x00, 0x00, 0x00, 0x66, 0x61, 0x63, 0x74, 0x04, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x64, 0x61, 0x74, 0x61, 0x00, 0x00, 0x00, 0x00};

struct WavFields {
  uint32_t riffSize, sampleRate, byteRate, sampleCount, dataSize;
};

WavFields fieldsOf(const std::vector<uint8_t>& file) {
  EXPECT_GE(file.size(), kWavHeaderSize);
  if (file.size() < kWavHeaderSize) return {};
  return {loadLE32(&file[4]), loadLE32(&file[24]), loadLE32(&file[28]), loadLE32(&file[46]),
          loadLE32(&file[54])};
}

std::vector<int16_t> samplesOf(const std::vector<uint8_t>& file) {
  std::vector<int16_t> samples;
  const uint32_t dataSize = fieldsOf(file).dataSize;
  for (size_t i = 0; i + 1 < dataSize && kWavHeaderSize + i + 1 < file.size(); i += 2) {
    samples.push_back(static_cast<int16_t>(loadLE16(&file[kWavHeaderSize + i])));
  }
  return samples;
}

// Decodes frames the way the writer should: reset, then two halves per frame
// with the header's predictor (zero coefficients when the book lacks it) and
// its scale capped at 12.
std::vector<int16_t> referenceDecode(const std::vector<uint8_t>& frames,
                                     const std::vector<int16_t>& coefficients) {
  static const int16_t zero[16] = {};
  std::vector<int16_t> samples;
  AdpcmHistory history;
  for (size_t f = 0; f + kAdpcmFrameBytes <= frames.size(); f += kAdpcmFrameBytes) {
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
    for (int i = 0; i < 16; ++i) c.push_back(static_cast<int16_t>((i < 8 ? -900 : 1900) + 37 * p - 11 * i));
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

class WavWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ctx.err = err.file();
    ctx.out = out.file();
    ctx.settings.tblGiven = 1;
    ctx.settings.outputDir = dir.path();
    ctx.walk.outputRate = 22050;
    useRom({});
  }

  void useRom(std::vector<uint8_t> bytes, const std::string& path = std::string()) {
    rom = std::make_unique<RomStream>(std::move(bytes), path);
    ctx.rom = rom.get();
    if (ctx.table.size() == 0) enterNullStruct(ctx);
  }

  int32_t addBook(std::vector<int16_t> coefficients, int32_t npredictors = -1) {
    StructEntry& entry = ctx.table.append(0x1000u + 0x100u * static_cast<uint32_t>(ctx.table.size()));
    entry.kind = StructKind::AdpcmBook;
    ALADPCMBook book;
    book.order = 2;
    book.npredictors =
        npredictors >= 0 ? npredictors : static_cast<int32_t>(coefficients.size() / 16);
    book.predictors = std::move(coefficients);
    entry.data = book;
    ctx.counters.structCount = ctx.table.size();
    return ctx.table.size() - 1;
  }

  static ALWaveTable adpcm(int32_t base, int32_t len, int32_t book) {
    ALWaveTable wave;
    wave.base = base;
    wave.len = len;
    wave.type = 0;
    wave.waveInfo.adpcmWave.book = book;
    return wave;
  }
  static ALWaveTable raw(int32_t base, int32_t len, uint8_t type = 1) {
    ALWaveTable wave;
    wave.base = base;
    wave.len = len;
    wave.type = type;
    return wave;
  }

  std::vector<uint8_t> file(const std::string& name) { return test::readFileBytes(dir.file(name)); }

  test::TempDir dir;
  test::MemoryStream err;
  test::MemoryStream out;
  std::unique_ptr<RomStream> rom;
  RunContext ctx;
};

TEST_F(WavWriterTest, TemplateHoldsThePlaceholders) {
  std::vector<uint8_t> expected = kEmptyWav;
  storeLE32(&expected[4], 13830);
  storeLE32(&expected[46], 6890);
  storeLE32(&expected[54], 13780);
  EXPECT_EQ(std::vector<uint8_t>(WavHeaderTemplate, WavHeaderTemplate + kWavHeaderSize), expected);
}

TEST_F(WavWriterTest, EmptyWaveIsTheFiftyEightByteFile) {
  writeWaveFile(ctx, adpcm(0, 0, 0));
  EXPECT_EQ(file("A000000.WAV"), kEmptyWav);
  writeWaveFile(ctx, raw(0, 0));
  EXPECT_EQ(file("@000000.WAV"), kEmptyWav);
  EXPECT_EQ(ctx.counters.wavFiles, 2);
  EXPECT_EQ(ctx.wavNames, (std::vector<std::string>{"A000000.WAV", "@000000.WAV"}));
  EXPECT_EQ(err.text(), "");
}

TEST_F(WavWriterTest, NothingWithoutASampleTable) {
  ctx.settings.tblGiven = 0;
  useRom(std::vector<uint8_t>(64, 0x11));
  writeWaveFile(ctx, raw(0, 8));
  EXPECT_TRUE(dir.list().empty());
  EXPECT_EQ(ctx.counters.wavFiles, 0);
}

TEST_F(WavWriterTest, NamesFromTheWalk) {
  ctx.walk = {0, 5, 1, 22050, 0};
  writeWaveFile(ctx, adpcm(0, 0, 0));
  ctx.walk = {2, 12, 3, 22050, 0};
  writeWaveFile(ctx, raw(0, 0));
  ctx.walk = {9, 123, 45, 22050, 0};
  writeWaveFile(ctx, raw(0, 0));
  EXPECT_EQ(dir.list(), (std::vector<std::string>{"@201203.WAV", "@912345.WAV", "A000501.WAV"}));
}

TEST_F(WavWriterTest, OneFrameAndTheRate) {
  const std::vector<uint8_t> frame = {0x32, 0x12, 0x34, 0xF0, 0x0F, 0x77, 0x88, 0x01, 0xEF};
  test::RomBuilder b(32, 0xAA);
  b.put(16, frame);
  useRom(b.bytes());
  const std::vector<int16_t> book = distinctBook(4);
  ctx.settings.tblOffset = 10;
  ctx.walk.outputRate = 44100;
  writeWaveFile(ctx, adpcm(6, 9, addBook(book)));

  const std::vector<uint8_t> wav = file("A000000.WAV");
  ASSERT_EQ(wav.size(), 90u);
  const WavFields f = fieldsOf(wav);
  EXPECT_EQ(f.riffSize, 82u);
  EXPECT_EQ(f.dataSize, 32u);
  EXPECT_EQ(f.sampleCount, 16u);
  EXPECT_EQ(f.sampleRate, 44100u);
  EXPECT_EQ(f.byteRate, 88200u);
  // Everything but the rates and the lengths is the template.
  for (size_t i = 0; i < kWavHeaderSize; ++i) {
    if ((i >= 4 && i < 8) || (i >= 24 && i < 32) || (i >= 46 && i < 50) || i >= 54) continue;
    EXPECT_EQ(wav[i], WavHeaderTemplate[i]) << "offset " << i;
  }
  EXPECT_EQ(samplesOf(wav), referenceDecode(frame, book));
  EXPECT_EQ(err.text(), "");
  const WaveOutcome& outcome = ctx.waveOutcomes[0];
  EXPECT_EQ(outcome.file, "A000000.WAV");
  EXPECT_EQ(outcome.samples, 16);
  EXPECT_EQ(outcome.rate, 44100);
  EXPECT_EQ(outcome.skipped, "");
}

TEST_F(WavWriterTest, FrameHeaderPicksPredictorAndCappedScale) {
  // 0xD5: scale 12, predictor 5; 0xF3: 12 and 3; 0xC7: 12 and 7; 0x21: 2 and 1.
  std::vector<uint8_t> frames = pseudoRandom(4 * 9, 7);
  frames[0] = 0xD5;
  frames[9] = 0xF3;
  frames[18] = 0xC7;
  frames[27] = 0x21;
  useRom(frames);
  const std::vector<int16_t> book = distinctBook(8);
  writeWaveFile(ctx, adpcm(0, 36, addBook(book)));
  const std::vector<int16_t> got = samplesOf(file("A000000.WAV"));
  ASSERT_EQ(got, referenceDecode(frames, book));

  // The same frames decoded by hand with the expected pairs.
  AdpcmHistory history;
  const std::pair<int, uint8_t> expected[4] = {{5, 12}, {3, 12}, {7, 12}, {1, 2}};
  for (int f = 0; f < 4; ++f) {
    int16_t samples[16];
    const int16_t* c = &book[16 * static_cast<size_t>(expected[f].first)];
    decodeAdpcmHalfFrame(history, &frames[9 * f + 1], c, expected[f].second, samples);
    decodeAdpcmHalfFrame(history, &frames[9 * f + 5], c, expected[f].second, samples + 8);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(got[16 * f + i], samples[i]) << "frame " << f;
  }

  // The history starts from zero for every wave.
  ctx.walk.curSound = 1;
  writeWaveFile(ctx, adpcm(0, 36, ctx.table.size() - 1));
  EXPECT_EQ(samplesOf(file("A000001.WAV")), got);
}

TEST_F(WavWriterTest, LastFrameCutByTheLength) {
  // len % 9 == 1: the second frame is its header byte alone; the bytes after
  // the wave (0xFF here) do not enter it.
  std::vector<uint8_t> bytes(40, 0xFF);
  const std::vector<uint8_t> frame = {0x12, 0x13, 0x57, 0x9B, 0xDF, 0x02, 0x46, 0x8A, 0xCE};
  std::copy(frame.begin(), frame.end(), bytes.begin());
  bytes[9] = 0x30;
  useRom(bytes);
  const std::vector<int16_t> book = distinctBook(4);
  writeWaveFile(ctx, adpcm(0, 10, addBook(book)));
  std::vector<uint8_t> padded = frame;
  padded.resize(18, 0);
  padded[9] = 0x30;
  const std::vector<uint8_t> wav = file("A000000.WAV");
  EXPECT_EQ(fieldsOf(wav).dataSize, 64u);
  EXPECT_EQ(samplesOf(wav), referenceDecode(padded, book));
}

TEST_F(WavWriterTest, RawSamplesBecomeLittleEndian) {
  useRom({0x00, 0x12, 0x34, 0x80, 0x00, 0x7F, 0xFF, 0xFF, 0xFF, 0x55});
  ctx.settings.tblOffset = 1;
  writeWaveFile(ctx, raw(0, 8));
  const std::vector<uint8_t> wav = file("@000000.WAV");
  ASSERT_EQ(wav.size(), 66u);
  // Two's complement stays as it is: 0x8000 is -32768, not 0.
  EXPECT_EQ(std::vector<uint8_t>(wav.begin() + 58, wav.end()),
            (std::vector<uint8_t>{0x34, 0x12, 0x00, 0x80, 0xFF, 0x7F, 0xFF, 0xFF}));
  EXPECT_EQ(samplesOf(wav), (std::vector<int16_t>{0x1234, -32768, 32767, -1}));
  EXPECT_EQ(fieldsOf(wav).sampleCount, 4u);
}

TEST_F(WavWriterTest, RawOddLengthKeepsTheLastByteAndPads) {
  useRom({0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC});
  writeWaveFile(ctx, raw(0, 5));
  const std::vector<uint8_t> wav = file("@000000.WAV");
  ASSERT_EQ(wav.size(), 64u);
  const WavFields f = fieldsOf(wav);
  EXPECT_EQ(f.dataSize, 5u);
  EXPECT_EQ(f.sampleCount, 2u);
  EXPECT_EQ(f.riffSize, 56u);
  EXPECT_EQ(std::vector<uint8_t>(wav.begin() + 58, wav.end()),
            (std::vector<uint8_t>{0x34, 0x12, 0x78, 0x56, 0x9A, 0x00}));
}

TEST_F(WavWriterTest, NegativeLengthGivesAnEmptyDataChunk) {
  useRom(std::vector<uint8_t>(64, 0x11));
  writeWaveFile(ctx, adpcm(0, -9, addBook(distinctBook(1))));
  writeWaveFile(ctx, raw(0, INT32_MIN));
  EXPECT_EQ(file("A000000.WAV"), kEmptyWav);
  EXPECT_EQ(file("@000000.WAV"), kEmptyWav);
  EXPECT_EQ(err.text(),
            "Warning: " + dir.file("A000000.WAV") +
                " has a negative length (-9); its data chunk is empty\n"
                "Warning: " + dir.file("@000000.WAV") +
                " has a negative length (-2147483648); its data chunk is empty\n");
}

TEST_F(WavWriterTest, RawWaveOutsideTheRomKeepsWhatExists) {
  std::vector<uint8_t> bytes(100);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i);
  useRom(bytes);
  ctx.settings.tblOffset = 90;
  writeWaveFile(ctx, raw(6, 1000000));  // 96..99 exist
  ctx.walk.curSound = 1;
  ctx.settings.tblOffset = 2000000000;
  writeWaveFile(ctx, raw(2000000000, 2000000000));  // nothing exists; the sum needs 64 bits
  ctx.settings.tblOffset = 90;
  ctx.walk.curSound = 2;
  writeWaveFile(ctx, raw(-93, 6));  // -3..2: bytes 0..2 exist, byte 0 ends a cut sample
  const std::vector<uint8_t> tail = file("@000000.WAV");
  EXPECT_EQ(std::vector<uint8_t>(tail.begin() + 58, tail.end()),
            (std::vector<uint8_t>{97, 96, 99, 98}));
  EXPECT_EQ(file("@000001.WAV"), kEmptyWav);
  const std::vector<uint8_t> before = file("@000002.WAV");
  EXPECT_EQ(fieldsOf(before).dataSize, 2u);
  EXPECT_EQ(std::vector<uint8_t>(before.begin() + 58, before.end()),
            (std::vector<uint8_t>{2, 1}));
  EXPECT_EQ(err.text(),
            "Warning: " + dir.file("@000000.WAV") +
                ": wave data at 0x000060 (1000000 bytes) lies outside the ROM; 4 of its bytes "
                "exist\n"
                "Warning: " + dir.file("@000001.WAV") +
                ": wave data at 0xEE6B2800 (2000000000 bytes) lies outside the ROM; 0 of its "
                "bytes exist\n"
                "Warning: " + dir.file("@000002.WAV") +
                ": wave data at -0x000003 (6 bytes) lies outside the ROM; 2 of its bytes exist\n");
}

TEST_F(WavWriterTest, AdpcmWaveOutsideTheRomDecodesFramesThatStartInside) {
  const std::vector<uint8_t> bytes = pseudoRandom(100, 3);
  useRom(bytes);
  const std::vector<int16_t> book = distinctBook(16);
  const int32_t bookIndex = addBook(book);
  // Frames at 81, 90 and 99 start inside; the one at 99 has one byte.
  writeWaveFile(ctx, adpcm(81, 36, bookIndex));
  std::vector<uint8_t> frames(bytes.begin() + 81, bytes.end());
  frames.resize(27, 0);
  const std::vector<uint8_t> wav = file("A000000.WAV");
  EXPECT_EQ(fieldsOf(wav).dataSize, 96u);
  EXPECT_EQ(samplesOf(wav), referenceDecode(frames, book));

  // Starting before the file: the frames from offset 0 on (-18 + 18).
  ctx.walk.curSound = 1;
  writeWaveFile(ctx, adpcm(-18, 36, bookIndex));
  std::vector<uint8_t> head(bytes.begin(), bytes.begin() + 18);
  EXPECT_EQ(samplesOf(file("A000001.WAV")), referenceDecode(head, book));

  ctx.walk.curSound = 2;
  writeWaveFile(ctx, adpcm(100, 9, bookIndex));
  EXPECT_EQ(file("A000002.WAV"), kEmptyWav);
  EXPECT_EQ(err.text(),
            "Warning: " + dir.file("A000000.WAV") +
                ": wave data at 0x000051 (36 bytes) lies outside the ROM; 19 of its bytes exist\n"
                "Warning: " + dir.file("A000001.WAV") +
                ": wave data at -0x000012 (36 bytes) lies outside the ROM; 18 of its bytes exist\n"
                "Warning: " + dir.file("A000002.WAV") +
                ": wave data at 0x000064 (9 bytes) lies outside the ROM; 0 of its bytes exist\n");
}

TEST_F(WavWriterTest, MissingCoefficientsDecodeAsZeroWithOneWarning) {
  std::vector<uint8_t> frames = pseudoRandom(27, 11);
  frames[0] = 0x41;   // predictor 1: in the book
  frames[9] = 0x52;   // predictor 2: not in a book of 2
  frames[18] = 0x6F;  // predictor 15: not either
  useRom(frames);
  const std::vector<int16_t> book = distinctBook(2);
  writeWaveFile(ctx, adpcm(0, 27, addBook(book, 4)));
  EXPECT_EQ(samplesOf(file("A000000.WAV")), referenceDecode(frames, book));

  // No book at all: index 0, an entry of another kind, an index past the table.
  StructEntry& sound = ctx.table.append(0x9000);
  sound.kind = StructKind::Sound;
  sound.data = ALSound{};
  ctx.counters.structCount = ctx.table.size();
  const int32_t notABook = ctx.table.size() - 1;
  int16_t s = 1;
  for (int32_t index : {0, notABook, 4096, -1}) {
    ctx.walk.curSound = s++;
    writeWaveFile(ctx, adpcm(0, 27, index));
  }
  const std::vector<int16_t> zeroBook = referenceDecode(frames, {});
  for (const char* name : {"A000001.WAV", "A000002.WAV", "A000003.WAV", "A000004.WAV"}) {
    EXPECT_EQ(samplesOf(file(name)), zeroBook) << name;
  }
  EXPECT_EQ(err.text(),
            "Warning: " + dir.file("A000000.WAV") +
                " uses predictor 2 but its book holds 2; decoded with zero coefficients\n"
                "Warning: " + dir.file("A000001.WAV") +
                " has no codebook (book index 0); decoded with zero coefficients\n"
                "Warning: " + dir.file("A000002.WAV") +
                " has no codebook (book index 2); decoded with zero coefficients\n"
                "Warning: " + dir.file("A000003.WAV") +
                " has no codebook (book index 4096); decoded with zero coefficients\n"
                "Warning: " + dir.file("A000004.WAV") +
                " has no codebook (book index -1); decoded with zero coefficients\n");
}

TEST_F(WavWriterTest, CoincidingNamesKeepEveryWave) {
  useRom({0x00, 0x01, 0x00, 0x02, 0x00, 0x03});
  ctx.walk = {1, 0, 123, 22050, 0};
  writeWaveFile(ctx, raw(0, 2));
  ctx.walk = {10, 1, 23, 22050, 0};
  ctx.walk.waveEntry = 7;
  writeWaveFile(ctx, raw(2, 2));
  EXPECT_EQ(ctx.waveOutcomes[7].file, "@1000123_1.WAV");
  writeWaveFile(ctx, raw(4, 2));
  EXPECT_EQ(dir.list(),
            (std::vector<std::string>{"@1000123.WAV", "@1000123_1.WAV", "@1000123_2.WAV"}));
  EXPECT_EQ(samplesOf(file("@1000123.WAV")), std::vector<int16_t>{1});
  EXPECT_EQ(samplesOf(file("@1000123_1.WAV")), std::vector<int16_t>{2});
  EXPECT_EQ(samplesOf(file("@1000123_2.WAV")), std::vector<int16_t>{3});
  EXPECT_EQ(ctx.counters.wavFiles, 3);
  EXPECT_EQ(err.text(), "Warning: @1000123.WAV was already written in this run; this wave is "
                        "written as @1000123_1.WAV\n"
                        "Warning: @1000123.WAV was already written in this run; this wave is "
                        "written as @1000123_2.WAV\n");
}

TEST_F(WavWriterTest, NeverWritesOverTheRom) {
  const std::vector<uint8_t> image = {0x12, 0x34, 0x56, 0x78};
  test::writeFile(dir.file("A000000.WAV"), image);
  useRom(image, dir.file("A000000.WAV"));
  writeWaveFile(ctx, adpcm(0, 0, 0));
  // The ROM is untouched and the wave is written beside it, not lost.
  EXPECT_EQ(file("A000000.WAV"), image);
  EXPECT_EQ(ctx.counters.wavFiles, 1);
  EXPECT_EQ(err.text(), "Warning: A000000.WAV is the ROM file itself; this wave is written as "
                        "A000000_1.WAV\n");
  EXPECT_EQ(ctx.waveOutcomes[0].file, "A000000_1.WAV");
  EXPECT_EQ(file("A000000_1.WAV").size(), 58u);
  // The run goes on.
  ctx.walk.curSound = 1;
  writeWaveFile(ctx, raw(0, 4));
  EXPECT_EQ(samplesOf(file("@000001.WAV")), (std::vector<int16_t>{0x1234, 0x5678}));
  EXPECT_EQ(ctx.counters.wavFiles, 2);
}

TEST_F(WavWriterTest, UnopenableFileIsSkippedAndNotCounted) {
  ctx.settings.outputDir = dir.file("missing");
  writeWaveFile(ctx, raw(0, 0));
  EXPECT_EQ(ctx.counters.wavFiles, 0);
  EXPECT_TRUE(ctx.wavNames.empty());
  EXPECT_EQ(ctx.waveOutcomes[0].skipped, "the output file could not be opened");
  EXPECT_EQ(err.text(), "Unable to open .wav output file " + dir.file("missing") + "/@000000.WAV\n");
}

TEST_F(WavWriterTest, FailedWriteIsReported) {
  test::RunResult link = test::runShell("ln -s /dev/full " + dir.file("@000000.WAV"));
  ASSERT_EQ(link.status, 0);
  useRom(std::vector<uint8_t>(64, 0x11));
  writeWaveFile(ctx, raw(0, 64));
  EXPECT_EQ(err.text(), "Unable to write .wav output file " + dir.file("@000000.WAV") + "\n");
  EXPECT_EQ(ctx.waveOutcomes[0].skipped, "the output file could not be written completely");
}

TEST_F(WavWriterTest, UnknownTypeLeavesAValidEmptyFileThenAborts) {
  useRom(std::vector<uint8_t>(64, 0x11));
  ctx.walk.outputRate = 22050;
  try {
    writeWaveFile(ctx, raw(0, 16, 2));
    FAIL() << "no FatalError";
  } catch (const FatalError& e) {
    EXPECT_STREQ(e.what(), "Unknown wavetable type... Aborting...\n");
  }
  EXPECT_EQ(file("@000000.WAV"), kEmptyWav);
  EXPECT_EQ(ctx.counters.wavFiles, 1);
}

TEST_F(WavWriterTest, LargeWaveIsWrittenWhole) {
  // More than one write's worth of samples: the lengths are put in after
  // the data has left.
  const size_t frameCount = 40000;  // 1.28 MB of samples
  std::vector<uint8_t> frames = pseudoRandom(frameCount * 9, 5);
  for (size_t f = 0; f < frames.size(); f += 9) frames[f] &= 0x73;  // quiet scales, predictors 0..3
  useRom(frames);
  const std::vector<int16_t> book = distinctBook(4);
  writeWaveFile(ctx, adpcm(0, static_cast<int32_t>(frames.size()), addBook(book)));
  const std::vector<uint8_t> wav = file("A000000.WAV");
  ASSERT_EQ(wav.size(), 58 + frameCount * 32);
  const WavFields f = fieldsOf(wav);
  EXPECT_EQ(f.riffSize, wav.size() - 8);
  EXPECT_EQ(f.dataSize, frameCount * 32);
  EXPECT_EQ(f.sampleCount, frameCount * 16);
  EXPECT_EQ(f.sampleRate, 22050u);
  EXPECT_TRUE(samplesOf(wav) == referenceDecode(frames, book));
}

TEST_F(WavWriterTest, IndependentReaderAgrees) {
  std::vector<uint8_t> frames = pseudoRandom(5 * 9, 9);
  for (size_t f = 0; f < frames.size(); f += 9) frames[f] &= 0x93;
  std::vector<uint8_t> bytes = frames;
  bytes.insert(bytes.end(), {0x80, 0x00, 0x12, 0x34, 0x7F, 0xFF, 0xAB});
  useRom(bytes);
  const std::vector<int16_t> book = distinctBook(4);
  ctx.walk.outputRate = 32000;
  writeWaveFile(ctx, adpcm(0, 45, addBook(book)));
  writeWaveFile(ctx, raw(45, 7));

  const std::string script =
      "import sys, wave, struct\n"
      "for path in sys.argv[1:]:\n"
      "    w = wave.open(path, 'rb')\n"
      "    n = w.getnframes()\n"
      "    data = w.readframes(n)\n"
      "    print(w.getnchannels(), w.getsampwidth(), w.getframerate(), n,\n"
      "          *struct.unpack('<%dh' % n, data[:2 * n]))\n";
  test::writeFile(dir.file("check.py"), std::vector<uint8_t>(script.begin(), script.end()));
  test::RunResult result = test::runShell("python3 " + dir.file("check.py") + " " +
                                          dir.file("A000000.WAV") + " " + dir.file("@000000.WAV"));
  ASSERT_EQ(result.status, 0);
  std::ostringstream expected;
  expected << "1 2 32000 80";
  for (int16_t s : referenceDecode(frames, book)) expected << ' ' << s;
  expected << "\n1 2 32000 3 -32768 4660 32767\n";
  EXPECT_EQ(result.out, expected.str());
}

}  // namespace
}  // namespace zaft
