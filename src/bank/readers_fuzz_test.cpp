// Robustness of the bank walk: thousands of damaged and random control
// blocks, built from valid ones by flipping bytes, planting wild pointers
// and cutting the file short. Every walk must end, either normally or with
// one of the walk's fatal messages, and leave a table whose every pointer
// field names an entry that exists.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bank/readers.h"
#include "bank/records.h"
#include "bank/struct_table.h"
#include "driver/fatal.h"
#include "driver/run_context.h"
#include "rom/rom_stream.h"
#include "support/bank_builder.h"
#include "support/rom_builder.h"
#include "support/test_util.h"

namespace zaft {
namespace {

struct Seed {
  std::vector<uint8_t> rom;
  int32_t ctlOffset;
};

Seed richBank() {
  test::BankFileSpec layout;
  layout.envelopes = {{10, 20, 30, 127, 90}, {0, 0, 0, 100, 0}};
  layout.keyMaps = {{0, 127, 0, 60, 48, -3}, {0, 127, 61, 127, 72, 5}};
  layout.loops = {{0, 64, -1, true}, {16, 32, 2, false}};
  layout.books = {test::simpleBook(2), test::simpleBook(1)};
  layout.waves = {{0, 0, std::vector<uint8_t>(90, 0x11), 0, 0},
                {1, 0, std::vector<uint8_t>(64, 0x22), 1, -1},
                {0, 0, std::vector<uint8_t>(45, 0x33), -1, 1},
                {2, 0, std::vector<uint8_t>(8, 0x44), -1, -1}};
  layout.sounds = {{0, 0, 0}, {1, 1, 1}, {0, 1, 2}, {-1, -1, 3}, {1, 0, 0}};
  test::InstrumentSpec a, b, c, d;
  a.sounds = {0, 1};
  b.sounds = {2, -1, 3};
  c.sounds = {4};
  d.sounds = {};
  layout.instruments = {a, b, c, d};
  test::BankSpec first, second;
  first.sampleRate = 22050;
  first.percussion = 2;
  first.insts = {0, 1, -1};
  second.sampleRate = 11025;
  second.insts = {3, 0};
  layout.banks = {first, second};
  layout.bankList = {0, 1, 0};
  test::BuiltBank built = test::buildBank(layout);
  test::RomBuilder rom(0x40, 0xEE);
  test::placeBank(rom, built, 0x40, 0x40 + built.ctl.size());
  return {rom.bytes(), 0x40};
}

Seed workedExample() {
  test::RomBuilder b;
  b.ctlBase = 0x1000;
  b.be16(0x1000, kBankFileRevision).be16(0x1002, 1).ptr(0x1004, 0x1008);
  b.be16(0x1008, 1).be32(0x100C, 22050).ptr(0x1014, 0x1018);
  b.be16(0x1024, 2).be16(0x1026, 2).ptr(0x1028, 0x1030).ptr(0x102C, 0x1030);
  b.ptr(0x1030, 0x1040).ptr(0x1034, 0x1050).ptr(0x1038, 0x1058);
  b.ptr(0x1064, 0x1070).ptr(0x1068, 0x10A0);
  b.be32(0x10A0, 2).be32(0x10A4, 1).resize(0x10C8);
  return {b.bytes(), 0x1000};
}

size_t slots(int32_t count) { return count > 0 ? static_cast<size_t>(count) : 0; }

// Every pointer field names an existing entry, every array matches its
// count, every book stays within what the file can hold.
void checkTable(const RunContext& ctx, int64_t romSize) {
  const int32_t n = ctx.counters.structCount;
  ASSERT_EQ(n, ctx.table.size());
  ASSERT_LE(n, StructTable::kCapacity);
  auto valid = [n](int32_t index) { return index >= 0 && index < n; };
  for (int32_t i = 1; i < n; ++i) {
    const StructEntry& e = ctx.table[i];
    ASSERT_LE(std::strlen(e.name), 31u);
    switch (e.kind) {
      case StructKind::BankFile: {
        const ALBankFile& r = e.as<ALBankFile>();
        ASSERT_LE(r.banks.size(), slots(r.bankCount));  // pointers past the end of the file are not stored
        for (int32_t v : r.banks) ASSERT_TRUE(valid(v));
        break;
      }
      case StructKind::Bank: {
        const ALBank& r = e.as<ALBank>();
        ASSERT_LE(r.insts.size(), slots(r.instCount));  // pointers past the end of the file are not stored
        ASSERT_TRUE(valid(r.percussion));
        for (int32_t v : r.insts) ASSERT_TRUE(valid(v));
        break;
      }
      case StructKind::Instrument: {
        const ALInstrument& r = e.as<ALInstrument>();
        ASSERT_LE(r.sounds.size(), slots(r.soundCount));  // pointers past the end of the file are not stored
        for (int32_t v : r.sounds) ASSERT_TRUE(valid(v));
        break;
      }
      case StructKind::Sound: {
        const ALSound& r = e.as<ALSound>();
        ASSERT_TRUE(valid(r.envelope) && valid(r.keyMap) && valid(r.wavetable));
        break;
      }
      case StructKind::WaveTable: {
        const ALWaveTable& r = e.as<ALWaveTable>();
        ASSERT_TRUE(valid(r.waveInfo.adpcmWave.loop));
        if (r.type == 0) {
          ASSERT_TRUE(valid(r.waveInfo.adpcmWave.book));
        }
        break;
      }
      case StructKind::AdpcmBook: {
        const ALADPCMBook& r = e.as<ALADPCMBook>();
        ASSERT_EQ(r.predictors.size() % kCoefficientsPerPredictor, 0u);
        ASSERT_LE(static_cast<int64_t>(r.storedPredictors()),
                  std::max<int64_t>(0, r.npredictors));
        // Whole predictors beginning inside the file, no more.
        const int64_t coefficientsAt = static_cast<int64_t>(e.fileOffset) + 8;
        const int64_t room = std::max<int64_t>(0, romSize - coefficientsAt);
        ASSERT_LE(static_cast<int64_t>(r.predictors.size()) * 2, room + 31);
        break;
      }
      case StructKind::KeyMap: ASSERT_NE(e.getIf<ALKeyMap>(), nullptr); break;
      case StructKind::Envelope: ASSERT_NE(e.getIf<ALEnvelope>(), nullptr); break;
      case StructKind::RawLoop: ASSERT_NE(e.getIf<ALRawLoop>(), nullptr); break;
      case StructKind::AdpcmLoop: ASSERT_NE(e.getIf<ALADPCMloop>(), nullptr); break;
    }
  }
}

bool isWalkFatal(const std::string& message) {
  return message == "Ran out of struct space (max 4096)\n" ||
         message.rfind("\nAbnormal termination. Bogus pointer found: Offset ", 0) == 0;
}

class Mutator {
 public:
  explicit Mutator(uint32_t seed) : rng_(seed) {}

  uint32_t below(uint32_t n) { return n == 0 ? 0 : static_cast<uint32_t>(rng_() % n); }

  Seed mutate(const Seed& seed) {
    Seed out = seed;
    std::vector<uint8_t>& bytes = out.rom;
    const size_t ctl = static_cast<size_t>(seed.ctlOffset);
    const size_t block = bytes.size() - ctl;
    switch (below(5)) {
      case 0: {  // flip a few bytes of the control block
        for (uint32_t k = 1 + below(8); k > 0; --k) {
          bytes[ctl + below(static_cast<uint32_t>(block))] ^= static_cast<uint8_t>(1 + below(255));
        }
        break;
      }
      case 1:  // cut the file short, inside the control block
        bytes.resize(ctl + below(static_cast<uint32_t>(block)));
        break;
      case 2: {  // plant wild or extreme values on 4-byte fields
        static const uint32_t kWild[] = {0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0x0000FFFF,
                                         0x00007FFF, 0xFFFF8000, 0x00100000, 0xFFFFFFF0};
        for (uint32_t k = 1 + below(4); k > 0; --k) {
          const size_t at = ctl + (below(static_cast<uint32_t>(block)) & ~size_t{3});
          const uint32_t value =
              below(2) == 0 ? kWild[below(8)] : below(static_cast<uint32_t>(block + 64));
          for (int i = 0; i < 4 && at + i < bytes.size(); ++i) {
            bytes[at + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
          }
        }
        break;
      }
      case 3: {  // flip, then cut
        for (uint32_t k = 1 + below(6); k > 0; --k) {
          bytes[ctl + below(static_cast<uint32_t>(block))] ^= static_cast<uint8_t>(1 + below(255));
        }
        bytes.resize(ctl + below(static_cast<uint32_t>(block)));
        break;
      }
      default: {  // noise behind a valid revision
        bytes.assign(ctl + 4 + below(400), 0);
        for (size_t i = ctl; i < bytes.size(); ++i) {
          // Mostly small values, so counts and pointers land inside the block.
          bytes[i] = below(3) == 0 ? static_cast<uint8_t>(rng_()) : static_cast<uint8_t>(below(8) * 4);
        }
        bytes[ctl] = 0x42;
        bytes[ctl + 1] = 0x31;
        break;
      }
    }
    return out;
  }

 private:
  std::mt19937 rng_;
};

TEST(BankWalkRobustnessTest, DamagedControlBlocksNeverCrashTheWalk) {
  const Seed seeds[] = {richBank(), workedExample()};
  const char* templates[] = {"%t%2i%2s", "", "%99c%t%", "%b%i%s%c%q%%%3"};
  Mutator mutator(20261208);
  int finished = 0;
  int stopped = 0;
  for (int iteration = 0; iteration < 4000; ++iteration) {
    const Seed& seed = seeds[iteration % 2];
    Seed input = mutator.mutate(seed);
    SCOPED_TRACE(iteration);
    RomStream rom(input.rom);
    test::MemoryStream out;
    test::MemoryStream err;
    RunContext ctx;
    ctx.rom = &rom;
    ctx.out = out.file();
    ctx.err = err.file();
    ctx.settings.ctlOffset = input.ctlOffset;
    ctx.settings.tblGiven = 0;
    ctx.settings.verbose = iteration % 3 == 0 ? 1 : 0;
    ctx.settings.rateRatio = iteration % 7 == 0 ? std::nan("") : 1.0 + (iteration % 5) * 1e9;
    std::snprintf(ctx.settings.nameTemplate, sizeof ctx.settings.nameTemplate, "%s",
                  templates[iteration % 4]);
    enterNullStruct(ctx);
    seekTo(rom, input.ctlOffset);
    try {
      if (readBankFile(ctx) == 1) {
        // The stream ends after the bank file's last pointer.
        const ALBankFile& file = ctx.table[1].as<ALBankFile>();
        ASSERT_EQ(tellPos(rom), input.ctlOffset + 4 + 4 * static_cast<int64_t>(slots(file.bankCount)));
      }
      ++finished;
    } catch (const FatalError& error) {
      ASSERT_TRUE(isWalkFatal(error.what())) << error.what();
      ++stopped;
    }
    ASSERT_EQ(ctx.walk.soundEntry, 0);
    checkTable(ctx, rom.size());
    if (HasFatalFailure()) return;
  }
  // Both outcomes must actually occur, or the mutations test too little.
  EXPECT_GT(finished, 1000);
  EXPECT_GT(stopped, 10);
}

}  // namespace
}  // namespace zaft
