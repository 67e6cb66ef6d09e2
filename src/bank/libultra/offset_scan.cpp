// The offset-guessing scan. It works straight on the in-memory image, which
// the ROM stream has already put into the console's byte order, so a .v64 or
// .n64 dump yields exactly the candidates of its .z64 form.
//
// What a bank file's start looks like (big-endian):
//   record at pos (a multiple of 16):
//     +0  revision   16 bits  0x4231 ("B1")
//     +2  bankCount  16 bits  0..3
//     +4  banks[0]   32 bits  F, the first bank's offset from pos: below
//                             65536, a multiple of 4, pos + F inside the file
//   first bank at B = pos + F:
//     +0  instCount  16 bits  0..128 (a program change reaches at most 128)
//     +2  flags, pad          not looked at
//     +4  sampleRate 32 bits  even
//     +8  percussion 32 bits  a multiple of 4 below 65536
// What the start of a sample block looks like: 16 consecutive 9-byte ADPCM
// frames whose header bytes all pass isAdpcmFrameHeader.
//
// Bytes that lie outside the file fail every test: a bank whose 12 bytes of
// fields do not all lie inside the file is no bank (so pos + F equal to the
// file size is not a candidate), and a trial position needs its 16 whole
// frames (144 bytes) inside the file. Since F is at least 4 in any candidate
// (F = 0 would make the record its own bank, with instCount 0x4231), a
// candidate's whole 16-byte record always lies inside the file.
#include "bank/libultra/offset_scan.h"

#include <cstdint>

#include "util/vadpcm_format.h"
#include "util/console_keys.h"
#include "util/endian.h"

namespace zaft {

namespace {

constexpr int64_t kRecordStep = 16;       // only 16-byte boundaries are examined
constexpr int64_t kProgressStep = 4096;   // progress line and key test (256 records)
constexpr uint16_t kRevisionB1 = 0x4231;  // "B1"
constexpr uint16_t kMaxBankCount = 3;
constexpr uint32_t kMaxBankOffset = 0xFFFF;
constexpr uint32_t kMaxInstruments = 128;  // programs 0..127: a full General MIDI bank
constexpr int64_t kBankFieldBytes = 12;   // instCount 2 + flags/pad 2 + sampleRate 4 + percussion 4
constexpr int kTrialPositions = 16;       // trial positions start, start + 16, ... start + 240
constexpr int kTrialFrames = 16;
constexpr int64_t kTrialBytes = kTrialFrames * static_cast<int64_t>(kAdpcmFrameBytes);  // 144

struct Image {
  const uint8_t* bytes;
  int64_t size;
};

// The first stage: the record at pos as a bank file's start. Yields the
// first bank's position B.
bool looksLikeBankFile(const Image& rom, int64_t pos, int64_t& bankAt) {
  if (pos + 8 > rom.size) return false;
  const uint8_t* r = rom.bytes + pos;
  if (loadBE16(r) != kRevisionB1 || loadBE16(r + 2) > kMaxBankCount) return false;
  const uint32_t firstBank = loadBE32(r + 4);
  if (firstBank > kMaxBankOffset || firstBank % 4 != 0) return false;
  bankAt = pos + firstBank;
  return bankAt <= rom.size;
}

// The second stage: the fields at B as a plausible bank. Yields instCount
// and percussion, which place the sample-block search.
bool looksLikeBank(const Image& rom, int64_t bankAt, uint32_t& instCount, uint32_t& percussion) {
  if (bankAt + kBankFieldBytes > rom.size) return false;
  const uint8_t* b = rom.bytes + bankAt;
  instCount = loadBE16(b);
  const uint32_t sampleRate = loadBE32(b + 4);
  percussion = loadBE32(b + 8);
  return instCount <= kMaxInstruments && sampleRate % 2 == 0 && (percussion & 0xFFFF0003u) == 0;
}

bool looksLikeSampleBlock(const Image& rom, int64_t at) {
  if (at + kTrialBytes > rom.size) return false;
  const uint8_t* frame = rom.bytes + at;
  for (int i = 0; i < kTrialFrames; ++i, frame += kAdpcmFrameBytes) {
    if (!isAdpcmFrameHeader(*frame)) return false;
  }
  return true;
}

// The sample-block search after a control-block candidate: from just past
// the bank's instrument pointers and its percussion offset, rounded down to
// 16 bytes. Returns the first trial position that passes, or -1.
int64_t findSampleBlock(const Image& rom, int64_t bankAt, uint32_t instCount, uint32_t percussion) {
  const int64_t start = (bankAt + 4 + 4 * static_cast<int64_t>(instCount) + percussion) &
                        ~static_cast<int64_t>(15);
  for (int k = 0; k < kTrialPositions; ++k) {
    const int64_t at = start + 16 * k;
    if (at >= rom.size) break;
    if (looksLikeSampleBlock(rom, at)) return at;
  }
  return -1;
}

void reportCandidate(ScanResult& result, Reporter& report, const Image& rom, int64_t pos,
                     int64_t bankAt, uint32_t instCount, uint32_t percussion) {
  report.errf("Found possible .ctl offset: 0x%06X\n", static_cast<unsigned>(pos));
  ScanCandidate candidate;
  candidate.ctlOffset = static_cast<int32_t>(pos);
  const int64_t tbl = findSampleBlock(rom, bankAt, instCount, percussion);
  if (tbl >= 0) {
    report.errf("Found possible .tbl offset: 0x%06X\n", static_cast<unsigned>(tbl));
    candidate.tblOffset = static_cast<int32_t>(tbl);
  }
  result.candidates.push_back(candidate);
}

// Walks the image until its end or a key press.
void scanImage(ScanResult& result, Reporter& report, const Image& rom, bool keys = true) {
  int shown = -1;
  for (int64_t block = 0; block < rom.size; block += kProgressStep) {
    if (report.verbose()) {
      // 64-bit: 100 * pos leaves the 32-bit range from 21.5 MB on.
      const int percent = static_cast<int>(100 * block / rom.size);
      report.progressf("Done %3d%%\r", percent);
      // A console line-buffers the progress lines, which end in "\r" alone:
      // pushed out when the figure changes, at most 100 times a scan.
      if (percent != shown) {
        report.flush();
        shown = percent;
      }
    }
    if (keys && consoleKeyWaiting()) {
      result.stoppedByKey = true;
      break;
    }

    const int64_t blockEnd = block + kProgressStep < rom.size ? block + kProgressStep : rom.size;
    for (int64_t pos = block; pos < blockEnd; pos += kRecordStep) {
      // Nearly every record fails on its first byte.
      if (rom.bytes[pos] != 0x42) continue;
      int64_t bankAt;
      uint32_t instCount, percussion;
      if (looksLikeBankFile(rom, pos, bankAt) && looksLikeBank(rom, bankAt, instCount, percussion)) {
        reportCandidate(result, report, rom, pos, bankAt, instCount, percussion);
      }
    }
  }
}

}  // namespace

ScanResult scanForBankFiles(const RomImage& image, Reporter& report) {
  ScanResult result;
  {
    // The console is in key mode from before the invitation to press a key
    // until the key that stopped the scan has been taken, so no key press
    // is echoed or left as input.
    ConsoleKeyMode keyMode;
    report.err(".ctl offset not specified...Guessing possible values for the .ctl file.\n");
    report.err("Press any key to abort.\n");
    const Image rom = {image.data(), image.size()};
    scanImage(result, report, rom);
    if (consoleKeyWaiting()) consoleReadKey();
  }
  report.err("                 ");
  return result;
}

ScanResult findBankFiles(const RomImage& image) {
  ScanResult result;
  NullReporter quiet;
  scanImage(result, quiet, Image{image.data(), image.size()}, false);
  return result;
}

}  // namespace zaft
