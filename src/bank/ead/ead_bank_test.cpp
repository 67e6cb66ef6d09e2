#include "bank/ead/ead_bank.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "support/ead_builder.h"
#include "support/test_util.h"
#include "util/endian.h"

namespace zaft {
namespace {

using test::BuiltEadSet;

const test::EadSetDesign& design() {
  static const test::EadSetDesign d = test::defaultEadSet();
  return d;
}
const BuiltEadSet& built() {
  static const BuiltEadSet b = test::buildEadSet(design());
  return b;
}

EadSoundData readAll(const std::vector<uint8_t>& bytes) {
  return readEadSoundData(bytes.data(), static_cast<int64_t>(bytes.size()), built().soundData,
                          built().sampleTable);
}

// Every record of the default set as the builder wrote it.
TEST(EadBankTest, ReadsWhatTheBuilderWrote) {
  const EadSoundData d = readAll(built().bytes);
  ASSERT_TRUE(d.plausible()) << d.problemCount() << " problems";
  ASSERT_EQ(d.banks.size(), 3u);
  EXPECT_EQ(d.sampleBanks.size(), 2u);
  EXPECT_EQ(d.sampleBanks[0].banks, (std::vector<int32_t>{0, 1}));
  const std::vector<std::vector<int32_t>> slots = {{0, -1, 1, 0}, {2}, {3}};
  const std::vector<uint32_t> shared = {1, 1, 0};
  for (size_t b = 0; b < 3; ++b) {
    SCOPED_TRACE(b);
    EXPECT_EQ(d.banks[b].offset, built().bankAt[b]);
    EXPECT_EQ(d.banks[b].instruments, slots[b]);
    EXPECT_EQ(d.banks[b].shared, shared[b]);
    EXPECT_EQ(d.banks[b].date, 0x19960319u);
    EXPECT_EQ(d.banks[b].sampleBank, b == 2 ? 1 : 0);
  }
  EXPECT_EQ(d.banks[0].drums, (std::vector<int32_t>{0, 1, 2}));
  EXPECT_EQ(d.drums[1].pan, 20);

  const test::EadInstrumentDesign& three = design().banks[0].instruments[0];
  const EadInstrument& i0 = d.instruments[0];
  EXPECT_EQ(i0.rangeLow, three.rangeLow);
  EXPECT_EQ(i0.rangeHigh, three.rangeHigh);
  EXPECT_EQ(i0.releaseRate, three.releaseRate);
  EXPECT_EQ(i0.sounds[0].tuning, 0.6f);
  // The low and normal sounds name one wave: one record.
  EXPECT_EQ(i0.sounds[0].record, i0.sounds[1].record);

  // Seven waves, eight records (bank 1 writes its own record of a wave
  // bank 0 uses too), one sample per wave.
  EXPECT_EQ(d.records.size(), 8u);
  ASSERT_EQ(d.samples.size(), 7u);
  std::set<std::pair<int32_t, uint32_t>> where;
  for (const EadSample& s : d.samples) {
    const size_t bank = static_cast<size_t>(s.sampleBank);
    const auto& waveAt = built().waveAt[bank];
    const auto w = std::find(waveAt.begin(), waveAt.end(), s.offset);
    ASSERT_NE(w, waveAt.end());
    const test::EadWaveDesign& wave = design().sampleBanks[bank].waves[static_cast<size_t>(w - waveAt.begin())];
    EXPECT_EQ(s.size, (wave.frames.size() + 1) / 2 * 2);
    const EadBook& book = d.books[static_cast<size_t>(s.book)];
    EXPECT_EQ(book.coefficients, wave.book.predictors);
    const EadLoop& loop = d.loops[static_cast<size_t>(s.loop)];
    EXPECT_EQ(loop.count, wave.loop ? -1 : 0);
    EXPECT_EQ(loop.state.has_value(), wave.loop.has_value());
    if (wave.loop) {
      EXPECT_EQ(*loop.state, wave.loop->state);
    }
    where.emplace(s.sampleBank, s.offset);
  }
  EXPECT_EQ(where.size(), 7u);
  // The odd wave's record: 909 bytes of frames, size 910.
  EXPECT_EQ(d.samples.back().size, 910u);

  const auto& env = design().banks[1].envelopes[0];
  const EadEnvelope& goesTo = d.envelopes[static_cast<size_t>(d.instruments[2].envelope)];
  ASSERT_EQ(goesTo.points.size(), env.size());
  EXPECT_TRUE(goesTo.ended);
  for (size_t k = 0; k < env.size(); ++k) {
    EXPECT_EQ(goesTo.points[k].delay, env[k].first);
    EXPECT_EQ(goesTo.points[k].arg, env[k].second);
  }
}

// Each cut of the image: no crash, and a problem for every cut that takes
// bytes the files need.
TEST(EadBankTest, EveryTruncationReadsWithoutCrashing) {
  const BuiltEadSet& b = built();
  int64_t needed = 0;  // the end of the last sample bank
  const EadSoundData full = readAll(b.bytes);
  for (const EadSampleBank& s : full.sampleBanks) {
    needed = std::max<int64_t>(needed, b.sampleTable + s.offset + s.length);
  }
  for (int64_t len = 0; len <= static_cast<int64_t>(b.bytes.size()); ++len) {
    const std::vector<uint8_t> cut(b.bytes.begin(), b.bytes.begin() + len);
    const EadSoundData d = readAll(cut);
    ASSERT_EQ(d.plausible(), len >= needed) << "cut at " << len;
  }
}

// Where the reader found each non-null pointer and count of the image.
std::vector<int64_t> structuralFields(const EadSoundData& d) {
  std::vector<int64_t> at;
  for (const EadBank& b : d.banks) {
    at.push_back(b.offset);      // instrument count
    at.push_back(b.offset + 4);  // drum count
    if (b.drumTablePointer != 0) at.push_back(b.bodyOffset());
    for (size_t i = 0; i < b.instrumentPointers.size(); ++i) {
      if (b.instrumentPointers[i] != 0) at.push_back(b.bodyOffset() + 4 + 4 * static_cast<int64_t>(i));
    }
    for (size_t n = 0; n < b.drumPointers.size(); ++n) {
      at.push_back(b.bodyOffset() + b.drumTablePointer + 4 * static_cast<int64_t>(n));
    }
  }
  for (const EadInstrument& i : d.instruments) {
    at.push_back(i.offset + 4);
    for (int s = 0; s < 3; ++s) {
      if (i.sounds[s].samplePointer != 0) at.push_back(i.offset + 8 + 8 * s);
    }
  }
  for (const EadDrum& r : d.drums) {
    at.push_back(r.offset + 4);
    at.push_back(r.offset + 12);
  }
  for (const EadSampleRecord& r : d.records) {
    at.push_back(r.offset + 8);
    at.push_back(r.offset + 12);
  }
  return at;
}

// Every byte of the sound-data file and the sample-table header inverted in
// turn: no crash, and a problem whenever the byte was part of a pointer or
// a count.
TEST(EadBankTest, EveryInvertedByteReadsWithoutCrashing) {
  const BuiltEadSet& b = built();
  const EadSoundData full = readAll(b.bytes);
  std::set<int64_t> structural;
  for (const int64_t field : structuralFields(full)) {
    for (int64_t k = 0; k < 4; ++k) structural.insert(field + k);
  }
  const int64_t tblHeader = 4 + 8 * static_cast<int64_t>(full.banks.size());
  std::vector<int64_t> positions;
  for (int64_t at = b.soundData; at < b.soundData + b.soundDataLength; ++at) positions.push_back(at);
  for (int64_t at = b.sampleTable; at < b.sampleTable + tblHeader; ++at) positions.push_back(at);
  std::vector<uint8_t> bytes = b.bytes;
  for (const int64_t at : positions) {
    bytes[static_cast<size_t>(at)] ^= 0xFF;
    const EadSoundData d = readAll(bytes);
    if (structural.count(at) != 0) {
      EXPECT_FALSE(d.problems.empty()) << "inverted byte at " << at;
    }
    bytes[static_cast<size_t>(at)] ^= 0xFF;
  }
}

// The file header and bank-sets readers take nothing outside the image.
TEST(EadBankTest, FileTablesAreBoundedByTheImage) {
  const BuiltEadSet& b = built();
  const uint8_t* data = b.bytes.data();
  const int64_t size = static_cast<int64_t>(b.bytes.size());
  const auto table = [&](int64_t at, int type, int64_t within) {
    return readEadFileTable(data, within, at, type).has_value();
  };
  EXPECT_TRUE(table(b.soundData, 1, size));
  EXPECT_TRUE(table(b.sampleTable, 2, size));
  EXPECT_TRUE(table(b.sequences, 3, size));
  EXPECT_FALSE(table(b.soundData, 2, size));       // another type
  EXPECT_FALSE(table(-4, 1, size));
  EXPECT_FALSE(table(b.soundData, 1, b.soundData + 4 + 8 * 3 - 1));  // the table cut
  EXPECT_FALSE(table(b.soundData, 1, b.soundData + b.soundDataLength - 80));  // the last bank cut
  const auto seq = readEadFileTable(data, size, b.sequences, 3);
  ASSERT_TRUE(seq);
  ASSERT_EQ(seq->entries.size(), 2u);
  EXPECT_EQ(seq->entries[0].length, 16u);  // 6 bytes padded to 16
  EXPECT_EQ(seq->entries[1].length, 0u);

  const auto sets = readEadBankSets(data, size, b.bankSets, 2);
  ASSERT_TRUE(sets);
  EXPECT_EQ(*sets, (std::vector<std::vector<uint8_t>>{{1, 0}, {2}}));
  EXPECT_FALSE(readEadBankSets(data, b.bankSets + 6, b.bankSets, 2));  // the second set cut
  EXPECT_FALSE(readEadBankSets(data, size, size - 1, 1));
}

// A file table whose 65535 entries all name one (odd) bank's bytes: the
// work stops at the image's worth of pointers, and the problems kept stop
// at their limit.
TEST(EadBankTest, RepeatedBanksCannotMultiplyTheWork) {
  const BuiltEadSet& b = built();
  const EadSoundData full = readAll(b.bytes);
  const EadBank& first = full.banks[0];
  std::vector<uint8_t> image(4 + 8 * 65535);
  storeBE16(image.data(), 1);
  storeBE16(image.data() + 2, 65535);
  const uint32_t offset = static_cast<uint32_t>(image.size());
  for (size_t i = 0; i < 65535; ++i) {
    storeBE32(image.data() + 4 + 8 * i, offset);
    storeBE32(image.data() + 8 + 8 * i, static_cast<uint32_t>(first.length));
  }
  image.insert(image.end(), b.bytes.begin() + first.offset,
               b.bytes.begin() + first.offset + first.length);
  image[offset + 11] = 2;  // a shared flag of 2: one problem per bank
  const EadSoundData d = readEadSoundData(image.data(), static_cast<int64_t>(image.size()), 0, 0);
  int64_t pointers = 0;
  for (const EadBank& bank : d.banks) {
    pointers += static_cast<int64_t>(bank.instrumentPointers.size() + bank.drumPointers.size());
  }
  EXPECT_LE(pointers, static_cast<int64_t>(image.size()) / 4 + 4096);
  EXPECT_EQ(d.instruments.size(), 2u);  // read once
  EXPECT_EQ(d.problems.size(), static_cast<size_t>(kEadMaxProblems));
  EXPECT_GT(d.problemsLeftOut, 0);
}

// The per-bank check a scan makes: each real bank passes; noise, zeros and
// a bank whose samples run past a too-short sample bank do not.
TEST(EadBankTest, PlausibleBankRejectsWhatNoToolWrites) {
  const BuiltEadSet& b = built();
  const EadSoundData d = readAll(b.bytes);
  const uint8_t* data = b.bytes.data();
  const int64_t size = static_cast<int64_t>(b.bytes.size());
  for (const EadBank& bank : d.banks) {
    const EadSampleBank& s = d.sampleBanks[static_cast<size_t>(bank.sampleBank)];
    EXPECT_TRUE(plausibleEadBank(data, size, bank.offset, bank.length, s.length));
    EXPECT_TRUE(plausibleEadBank(data, size, bank.offset, bank.length));
    EXPECT_FALSE(plausibleEadBank(data, size, bank.offset, bank.length, 64));
  }
  const std::vector<uint8_t> zeros(4096, 0);
  EXPECT_FALSE(plausibleEadBank(zeros.data(), 4096, 0, 4096));
  int accepted = 0;
  for (uint32_t seed = 1; seed <= 200; ++seed) {
    const std::vector<uint8_t> noise = test::randomBytes(2048, seed);
    accepted += plausibleEadBank(noise.data(), 2048, 0, 2048) ? 1 : 0;
  }
  EXPECT_EQ(accepted, 0);
}

}  // namespace
}  // namespace zaft
