#include "audio/samples.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <vector>

namespace zaft {
namespace {

using Bytes = std::vector<uint8_t>;
using Pcm = std::vector<int16_t>;

// A book as a bank holds it: its stored predictors' coefficients.
struct Book {
  std::vector<int16_t> predictors;
  int32_t stored() const { return static_cast<int32_t>(predictors.size() / 16); }
  const int16_t* predictor(int32_t p) const {
    return p < stored() ? predictors.data() + 16 * static_cast<size_t>(p) : nullptr;
  }
};

struct Wave {
  SampleCodec codec;
  int32_t base;
  int32_t len;
};
Wave wave(SampleCodec codec, int32_t base, int32_t len) { return {codec, base, len}; }

SampleLayout layoutAt(const RomImage& rom, int64_t tbl, const Wave& w, const Book* book) {
  SampleSource source;
  source.codec = w.codec;
  source.start = tbl + w.base;
  source.len = w.len;
  source.hasBook = book != nullptr;
  if (book != nullptr && book->stored() > 0) source.book = {book->predictors.data(), book->stored()};
  return layoutSamples(rom, source);
}

// Coefficients that differ per predictor and per position, so a wrong pick
// shows in the samples.
Book distinctBook(int stored) {
  Book book;
  for (int p = 0; p < stored; ++p) {
    for (int i = 0; i < 16; ++i) {
      book.predictors.push_back(static_cast<int16_t>((i < 8 ? -900 : 1900) + 37 * p - 11 * i));
    }
  }
  return book;
}

Bytes pseudoRandom(size_t n, uint32_t seed) {
  Bytes bytes(n);
  for (uint8_t& b : bytes) {
    seed = seed * 1103515245u + 12345u;
    b = static_cast<uint8_t>(seed >> 16);
  }
  return bytes;
}

// Whole frames decoded from a fresh history, two halves each, with the
// predictor and scale given per frame (zero coefficients for a null one).
Pcm decodeFrames(const Bytes& frames, const std::vector<const int16_t*>& predictors,
                 const std::vector<uint8_t>& scales) {
  static const int16_t zero[16] = {};
  Pcm samples;
  AdpcmHistory history;
  for (size_t f = 0; 9 * f + 9 <= frames.size(); ++f) {
    const int16_t* c = predictors[f] != nullptr ? predictors[f] : zero;
    int16_t out[16];
    decodeAdpcmHalfFrame(history, &frames[9 * f + 1], c, scales[f], out);
    decodeAdpcmHalfFrame(history, &frames[9 * f + 5], c, scales[f], out + 8);
    samples.insert(samples.end(), out, out + 16);
  }
  return samples;
}

// The same, taking predictor and scale from each frame's header.
Pcm referenceDecode(const Bytes& frames, const Book* book) {
  std::vector<const int16_t*> predictors;
  std::vector<uint8_t> scales;
  for (size_t f = 0; f < frames.size(); f += 9) {
    predictors.push_back(book != nullptr ? book->predictor(frames[f] & 0x0F) : nullptr);
    scales.push_back(static_cast<uint8_t>(std::min(frames[f] >> 4, 12)));
  }
  return decodeFrames(frames, predictors, scales);
}

// Every PCM byte, read in pieces of at most `room` bytes.
Bytes readAll(SampleDecoder& decoder, size_t room) {
  Bytes all;
  Bytes piece(room);
  while (size_t n = decoder.read(piece.data(), room)) {
    EXPECT_LE(n, room);
    all.insert(all.end(), piece.begin(), piece.begin() + static_cast<ptrdiff_t>(n));
  }
  return all;
}

TEST(Samples, FrameHeaderPicksPredictorAndCappedScale) {
  // 0xD5: scale 12, predictor 5; 0xF3: 12 and 3; 0xC7: 12 and 7; 0x21: 2 and 1.
  Bytes frames = pseudoRandom(36, 7);
  frames[0] = 0xD5;
  frames[9] = 0xF3;
  frames[18] = 0xC7;
  frames[27] = 0x21;
  Bytes bytes(10, 0xAA);  // the wave starts at tblOffset 4 + base 6
  bytes.insert(bytes.end(), frames.begin(), frames.end());
  const RomImage rom(bytes);
  const Book book = distinctBook(8);
  const SampleLayout layout = layoutAt(rom, 4, wave(SampleCodec::Vadpcm, 6, 36), &book);
  const Pcm expected = decodeFrames(
      frames, {book.predictor(5), book.predictor(3), book.predictor(7), book.predictor(1)},
      {12, 12, 12, 2});
  EXPECT_EQ(decodeSamples(rom, layout), expected);
}

TEST(Samples, AdpcmFramesThatBeginInsideTheRomAndWithinLen) {
  const Bytes bytes = pseudoRandom(100, 3);
  const RomImage rom(bytes);
  const Book book = distinctBook(16);
  struct Case {
    int64_t tbl; int32_t base, len;
    int64_t present, firstFrame, frames;
    Bytes decoded;  // the frames' bytes as the decoder must see them
  };
  Bytes tail(27, 0);  // frames at 81, 90 and 99; the one at 99 has one byte
  std::copy(bytes.begin() + 81, bytes.end(), tail.begin());
  // len % 9 == 1: the second frame is its header byte alone; the bytes after
  // the wave do not enter it.
  Bytes cut(18, 0);
  std::copy(bytes.begin(), bytes.begin() + 10, cut.begin());
  const Case cases[] = {
      {0, 81, 36, 19, 0, 3, tail},
      {0, 0, 10, 10, 0, 2, cut},
      {0, -18, 36, 18, 2, 2, Bytes(bytes.begin(), bytes.begin() + 18)},
      {0, -5, 9, 4, 1, 0, {}},    // its only frame begins before the file
      {0, 100, 9, 0, 0, 0, {}},
      {2000000000, 2000000000, 2000000000, 0, 0, 0, {}},  // the sum needs 64 bits
      {0, 0, 0, 0, 0, 0, {}},
      {0, 0, -9, 0, 0, 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "base " << c.base << " len " << c.len);
    const SampleLayout s = layoutAt(rom, c.tbl, wave(SampleCodec::Vadpcm, c.base, c.len), &book);
    EXPECT_EQ(s.start, c.tbl + c.base);
    EXPECT_EQ(s.present, c.present);
    EXPECT_EQ(s.missingBytes(), c.present < c.len);
    EXPECT_EQ(s.firstFrame, c.firstFrame);
    EXPECT_EQ(s.frames, c.frames);
    EXPECT_EQ(s.pcmBytes(), 32 * c.frames);
    EXPECT_EQ(decodeSamples(rom, s), referenceDecode(c.decoded, &book));
  }
}

TEST(Samples, RawBytesBecomeLittleEndianAlignedToTheWavesStart) {
  const Bytes signs = {0x00, 0x12, 0x34, 0x80, 0x00, 0x7F, 0xFF, 0xFF, 0xFF, 0x55};
  Bytes counted(100);
  std::iota(counted.begin(), counted.end(), 0);
  struct Case { const Bytes* rom; int64_t tbl; int32_t base, len; int64_t rawFirst; Bytes pcm; };
  const Case cases[] = {
      // Two's complement stays as it is: 0x8000 is -32768, not 0.
      {&signs, 1, 0, 8, 1, {0x34, 0x12, 0x00, 0x80, 0xFF, 0x7F, 0xFF, 0xFF}},
      // An odd length keeps its last byte as it stands.
      {&signs, 0, 0, 5, 0, {0x12, 0x00, 0x80, 0x34, 0x00}},
      {&counted, 90, 6, 1000000, 96, {97, 96, 99, 98}},
      {&counted, 2000000000, 2000000000, 2000000000, 4000000000, {}},
      // -3..2: byte 0 ends a sample whose first half is missing.
      {&counted, 90, -93, 6, 1, {2, 1}},
      {&counted, 0, -4, 6, 0, {1, 0}},
      {&counted, 0, 0, -2, 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "base " << c.base << " len " << c.len);
    const RomImage rom(*c.rom);
    const SampleLayout s = layoutAt(rom, c.tbl, wave(SampleCodec::Raw16, c.base, c.len), nullptr);
    EXPECT_EQ(s.rawFirst, c.rawFirst);
    EXPECT_EQ(s.present, static_cast<int64_t>(c.pcm.size()));
    EXPECT_EQ(s.pcmBytes(), static_cast<int64_t>(c.pcm.size()));
    SampleDecoder decoder(rom, s);
    EXPECT_EQ(decoder.totalBytes(), static_cast<int64_t>(c.pcm.size()));
    EXPECT_EQ(readAll(decoder, 64), c.pcm);
  }
  // Whole samples only: the odd byte is left out.
  const RomImage rom(signs);
  EXPECT_EQ(decodeSamples(rom, layoutAt(rom, 1, wave(SampleCodec::Raw16, 0, 7), nullptr)),
            (Pcm{0x1234, -32768, 32767}));
}

TEST(Samples, UnknownTypeGivesNoPcm) {
  const RomImage rom(Bytes(64, 0x11));
  const SampleLayout s = layoutAt(rom, 0, wave(SampleCodec::None, 0, 16), nullptr);
  EXPECT_EQ(s.pcmBytes(), 0);
  SampleDecoder decoder(rom, s);
  EXPECT_EQ(decoder.totalBytes(), 0);
  EXPECT_EQ(readAll(decoder, 64), Bytes{});
}

TEST(Samples, PiecesOfAnySizeGiveTheSameBytes) {
  Bytes bytes = pseudoRandom(9 * 5000 + 1001, 5);
  for (size_t f = 0; f < 9 * 5000; f += 9) bytes[f] &= 0x73;  // quiet scales, predictors 0..3
  const RomImage rom(bytes);
  const Book book = distinctBook(4);
  const SampleLayout adpcm = layoutAt(rom, 0, wave(SampleCodec::Vadpcm, 0, 9 * 5000), &book);
  // An odd length: the last piece holds the odd byte.
  const SampleLayout raw = layoutAt(rom, 0, wave(SampleCodec::Raw16, 9 * 5000, 1001), nullptr);
  for (const SampleLayout* s : {&adpcm, &raw}) {
    SampleDecoder whole(rom, *s);
    const Bytes expected = readAll(whole, static_cast<size_t>(s->pcmBytes()) + 64);
    ASSERT_EQ(static_cast<int64_t>(expected.size()), s->pcmBytes());
    for (size_t room : {32, 33, 100, 4096, 65535}) {
      SampleDecoder pieces(rom, *s);
      EXPECT_EQ(readAll(pieces, room), expected) << int(s->codec) << " in pieces of " << room;
    }
    // A cap on the frames ends an ADPCM wave's PCM early.
    SampleDecoder capped(rom, *s, 3);
    const Bytes head = readAll(capped, 4096);
    EXPECT_EQ(head, s == &adpcm ? Bytes(expected.begin(), expected.begin() + 96) : expected);
  }
  EXPECT_EQ(decodeSamples(rom, adpcm),
            referenceDecode(Bytes(bytes.begin(), bytes.begin() + 9 * 5000), &book));
}

TEST(Samples, MissingPredictorDecodesWithZeroCoefficients) {
  Bytes frames = pseudoRandom(27, 11);
  frames[0] = 0x41;   // predictor 1: in the book
  frames[9] = 0x52;   // predictor 2: not in a book that holds 2 (of 4 claimed)
  frames[18] = 0x6F;  // predictor 15: not either
  const RomImage rom(frames);
  const Book partial = distinctBook(2);
  const Book full = distinctBook(16);
  struct Case { const Book* book; int32_t missing; };
  // Without a book every frame is decoded with zero coefficients, and that
  // is no missing predictor (the exporter says there is no book).
  for (const Case& c : {Case{&partial, 2}, Case{&full, -1}, Case{nullptr, -1}}) {
    const SampleLayout s = layoutAt(rom, 0, wave(SampleCodec::Vadpcm, 0, 27), c.book);
    SampleDecoder decoder(rom, s);
    EXPECT_EQ(decoder.missingPredictor(), -1) << "before any frame";
    readAll(decoder, 4096);
    EXPECT_EQ(decoder.missingPredictor(), c.missing);
    EXPECT_EQ(decodeSamples(rom, s), referenceDecode(frames, c.book));
  }
}

}  // namespace
}  // namespace zaft
