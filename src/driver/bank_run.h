// One bank file ripped whole (the walk, its WAV files, header, JSON
// document and soundfont), and /x and /m: every bank file and sequence bank
// of the ROM, each into a folder of its own, with the summary.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "audio/render/sequence_player.h"
#include "bank/ead/ead_files.h"
#include "bank/libultra/offset_scan.h"
#include "bank/sample_block.h"
#include "bank/libultra/sequence_bank.h"
#include "bank/libultra/walk.h"
#include "driver/options.h"
#include "export/byte_sink.h"
#include "export/exporter.h"
#include "export/libultra/json_export.h"
#include "export/output_plan.h"
#include "export/wav_export.h"
#include "rom/rom_image.h"
#include "rom/compressed_block.h"
#include "util/reporter.h"

namespace zaft {

// Where a find lies: in the ROM itself (no block), or at an offset inside
// the bytes a compressed block of the ROM gives.
using Place = std::optional<FoundBlock>;

// A find's folder: its kind and offset ("CTL_0E4A70"), inside a block the
// block's offset and the offset in it ("CTL_1A0000+000040").
std::string folderOf(const char* kind, const Place& place, int64_t offset);
// " in the MIO0 block at 0x1A0000", or nothing for the ROM itself.
std::string placeText(const Place& place);

struct BankFileResult;

// One bank file to rip: where it is, which sample block it uses, where its
// files go.
struct BankJob {
  int32_t ctlOffset = 0;
  OffsetSource ctlSource = OffsetSource::None;
  std::optional<SampleBlock> tbl;  // none: no WAV files, no soundfont
  // Offsets the search found equally good for the sample block, when more
  // than one: the nearest to the control block was taken, a guess.
  int64_t tblGuessedAmong = 0;
  bool tblGuessCounted = true;  // false: tblGuessedAmong or more
  std::string folder;
  Place place;  // the offsets count from the block's start when in one
};

// An EAD set to rip (its sound-data file and sample-table file), and where
// it lies.
struct EadSetJob {
  EadSetFind find;
  Place place;
};

// What became of an EAD set.
struct EadSetResult {
  EadSetJob job;
  std::string folder;
  std::string status;  // "ok", or what went wrong
  int banks = 0;
  int wavFiles = 0;
  std::vector<const Exporter*> written;
};

// An EAD sequence file to rip, and where it lies.
struct EadSequenceJob {
  EadSequenceFileFind find;
  Place place;
};

// A sequence bank to rip, and where it lies.
struct SequenceJob {
  SequenceBank bank;
  Place place;
};

// What became of a bank file.
struct BankOutcome {
  bool recognized = false;
  int32_t records = 0;
  int32_t wavFiles = 0;
  std::vector<const Exporter*> written;  // the one-file outputs written
  std::string failure;  // the first output that was not written, and why
};
// A message on one line: line ends inside become "; ", blanks and line ends
// at either end go.
std::string oneLine(std::string text);
// Creates the output folder `path` (and its parents) when missing; fatal
// when it cannot be made.
void makeFolder(const std::string& path, OutputBudget& budget);


class Run {
 public:
  Run(const Settings& settings, const RomImage& rom, Reporter& report, OutputBudget& budget)
      : s_(settings), romFile_(rom), rom_(&rom), report_(report), budget_(budget),
        plan_(rom.identity()), files_(budget) {}

  int single(const BankJob& job);
  // /x and /m: every bank file of `jobs` and every sequence bank, each into
  // a folder of its own, and the summary.
  int extractAll(const std::vector<BankJob>& jobs, const std::vector<SequenceJob>& sequences,
                 const std::vector<EadSetJob>& eadSets,
                 const std::vector<EadSequenceJob>& eadSequences, bool withBankFiles);

 private:
  WalkLimits limits(bool samples) const {
    WalkLimits l;
    l.nameTemplate = s_.nameTemplate;
    l.rateRatio = s_.rateRatio;
    l.samplesWritten = samples;
    return l;
  }
  void searchWhenGuessFails(BankJob& job);
  void reportGuess(BankJob& job, const SampleBlockCheck& found);
  void reportSettings(const BankJob& job);
  void rip(const BankJob& job, BankOutcome& outcome);
  void validateAfterWalk(const BankJob& job, const BankFile& bank, const WavResult& wavs);
  // A one-file output the settings ask for, and the name they give it.
  struct Requested {
    const Exporter* exporter;
    std::string name;
  };
  std::vector<Requested> requested() const;
  void writeWaveSources(const BankJob& job, const BankFile& bank,
                        const std::vector<PlannedFile>& wavNames,
                        std::map<int32_t, std::string>& waveFiles, BankOutcome& outcome);
  void writeOutputs(const BankData& data, const std::vector<Requested>& rows,
                    const BankOutputs& outputs, BankOutcome& outcome);
  void ripSequenceBank(const SequenceBank& bank, JsonSequenceBank& done, int& files);
  // /r: the bank the renders play (the one /r names, else the first bank
  // file of the run in the ROM itself); said and left unset when there is
  // none that plays.
  void prepareRender(const std::vector<BankFileResult>& banks);
  // /r: sequence `index` of a sequence bank rendered into `folder` as
  // "NNN.wav" (and its stems); counted in `files`.
  // `measured` is the sequence's whole render, measured (measureRender);
  // a render is written only once its length is known.
  void renderSequence(const std::string& folder, size_t index, const uint8_t* bytes, int64_t len,
                      bool standard, const RenderResult& measured, int& files);
  // The render of a sequence (or of one channel of it) run through without
  // writing, for its length and what stopped it. Safe on any thread.
  RenderResult measureRender(const uint8_t* bytes, int64_t len, bool standard,
                             std::optional<int> channel) const;
  struct RenderBank;
  std::shared_ptr<const RenderBank> render_;
  int rendered_ = 0;
  void ripEadSet(EadSetResult& done);
  void ripEadSequences(const EadSequenceJob& job, JsonSequenceBank& done, int& files);
  // One converted sequence of a sequence bank or file: its problems said,
  // its MIDI file written (a file that cannot be written ends the bank),
  // counted in `files` and, when a Standard MIDI File does not read,
  // `damaged`.
  void writeSequence(const MidiSequence& midi, const PlannedFile& name, JsonSequenceBank& done,
                     int& files, int& damaged);
  // Makes the image the place gives the one the next steps read: the ROM,
  // or the bytes of a compressed block (decompressed again when it changes).
  void enter(const Place& place);

  const Settings& s_;
  const RomImage& romFile_;
  const RomImage* rom_;  // the ROM, or the block entered
  std::unique_ptr<RomImage> block_;
  int64_t blockAt_ = -1;
  Reporter& report_;
  OutputBudget& budget_;
  OutputPlan plan_;
  FileTarget files_;
};

}  // namespace zaft
