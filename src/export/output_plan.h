// The output plan: every name a run writes, and every refusal, decided in
// one place before anything of a bank file is written.
//
// Outputs are compared by the file they resolve to: the device and inode of
// the folder they land in, plus their name in it; so "./A000100.WAV",
// "CTL_0C1E30/../CTL_0C1E30/A000100.WAV" and a folder reached through a link
// all count as one. An output never replaces another output of the same
// run: a WAV name already taken (or the ROM's own) gets the first free
// "_1", "_2", ... before ".WAV"; a header or JSON document whose name is
// taken is refused with a message naming both. The ROM is never written,
// under any spelling, and a folder standing at an output's name is left as
// it is (that output is skipped). Files left by an earlier run are replaced.
#pragma once

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "bank/instrument_set.h"
#include "util/files.h"

namespace zaft {

struct PlannedFile {
  std::string what;     // ".wav file", "header file", "JSON file": for messages
  std::string name;     // as the user sees it ("A000000_1.WAV", "CONTROL.H")
  std::string path;     // where it is written
  std::string notice;   // printed on the error stream when it is written
  std::string refusal;  // printed instead of writing it; empty when it is written
  bool refused() const { return !refusal.empty(); }
};

// A one-file output of a bank file that the run asks for.
struct OutputRequest {
  std::string what;           // "header file"
  std::string name;           // its file's name, inside the bank file's folder
  bool needsSamples = false;  // written only with the WAV files
};

// One bank file's outputs.
struct BankOutputs {
  std::vector<PlannedFile> waves;  // one per sample of the bank file, in walk order
  // One per request, in order; a name left empty is not written (the walk
  // stopped, or no WAV files for an output that needs them).
  std::vector<PlannedFile> files;
};

class OutputPlan {
 public:
  explicit OutputPlan(FileIdentity rom) : rom_(rom) {}

  // `name` inside `folder` (unchanged when there is no folder, or when
  // `name` is absolute).
  static std::string pathIn(const std::string& folder, const std::string& name);

  // The outputs of a bank file written into `folder`: WAV files (one per
  // sample of `set`, under its file name) when `withWaves`; each request
  // unless the walk stopped early (and none that needs samples without the
  // WAV files).
  BankOutputs planBankFile(const std::string& folder, const InstrumentSet& set, bool walkStopped,
                           bool withWaves, const std::vector<OutputRequest>& requests);

  // Files that go with a bank file's one-file output (the AIFC files of its
  // .inst source), one per name, in `folder`: a name already taken in this
  // run (or the ROM's) gets the first free "_1", "_2", ... before its
  // extension, with a notice, as a WAV name does.
  std::vector<PlannedFile> planCompanions(const std::string& folder,
                                          const std::vector<std::string>& names,
                                          const std::string& what);

  // A sequence bank's MIDI files in `folder`: "000.mid", "001.mid", ...
  std::vector<PlannedFile> planSequences(const std::string& folder, size_t count);

  // One more file `name` in `folder`, called `what` in messages.
  PlannedFile planFile(const std::string& folder, const std::string& name, const std::string& what);

  // The index of an /x run's documents.
  PlannedFile planIndex(const std::string& folder, const std::string& name);

  // Gives up the name of an output that was not written after all, so that
  // a later output may take it.
  void release(const PlannedFile& file);

 private:
  // Where a path lands: its folder's identity (or, for a folder that does
  // not exist, its spelling) and its last name.
  using Place = std::tuple<bool, uint64_t, uint64_t, std::string, std::string>;
  Place placeOf(const std::string& path) const;
  bool isRom(const PathStatus& status) const { return rom_.known && status.identity == rom_; }
  // Claims the output or sets its refusal; `status` is its path's.
  void claim(PlannedFile& file, const PathStatus& status);
  void claim(PlannedFile& file) { claim(file, statusOf(file.path)); }
  const PlannedFile* holder(const std::string& path) const;

  FileIdentity rom_;
  std::map<Place, PlannedFile> claims_;
  // The identities of the folders outputs went into, looked up once.
  mutable std::map<std::string, FileIdentity> folders_;
};

}  // namespace zaft
