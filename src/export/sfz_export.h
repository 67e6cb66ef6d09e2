// The SFZ exporter: a bank file's instrument model as an SFZ text over the
// WAV files the run wrote, for samplers that read SFZ rather than
// soundfonts.
//
//   - One <master> per bank of the bank file (master_label "Bank b"), and
//     under it one <group> per instrument the bank's programs select, then
//     the bank's percussion instrument; group_label "bbb:ppp name" gives
//     the soundfont's preset bank and program (128:b for bank b's
//     percussion), a comment line the same and the instrument's channel
//     settings. SFZ has no program changes: a player loads every group at
//     once, and a user keeps the groups of the instrument they want.
//   - One <region> per zone of the model: the (key, velocity) rectangles the
//     console picks each sample for, so each group plays exactly the
//     console's sound per note and nothing where the console is silent.
//   - Pitch: pitch_keycenter, transpose (only when the root key cannot carry
//     it) and tune, from the zone's pitch and the ratio of the bank's rate
//     to the rate the WAV file holds, so key k plays the console's pitch.
//   - Loops: loop_continuous over the WAV file's [start, end) (loop_end
//     being the last point played) when the loop's count is not 0, as the
//     soundfont does; otherwise no_loop, the sample ending with the note.
//   - Envelope as the soundfont maps it (attack to the first point, decay to
//     the last, its level held, release), pan (-100 to 100) and volume in dB
//     from the zone's volume and the envelope's peak; velocity as linear
//     amplitude.
//   - A zone whose sample has no WAV file with points (none written, or an
//     empty one) has no region: its notes are silent, and a comment says so.
#pragma once

#include <string>

#include "bank/instrument_set.h"
#include "export/byte_sink.h"
#include "export/wav_export.h"
#include "util/reporter.h"

namespace zaft {

struct SfzOptions {
  std::string title;  // the first comment line
  // What goes before a WAV file's name to reach it from the SFZ file's
  // folder: empty when they share it, else ending in '/'.
  std::string wavPrefix;
};

// Writes the SFZ text of `set`, whose WAV files `wavs` tells.
void writeSfz(const InstrumentSet& set, const WavResult& wavs, const SfzOptions& options,
              ByteSink& sink);

// The prefix that reaches files of `wavFolder` from the folder of the SFZ
// file `sfzName` (a name inside `wavFolder`): "" when they share it, "../"
// for a name one folder down; the absolute folder for an absolute name.
std::string wavPrefixFor(const std::string& wavFolder, const std::string& sfzName);

}  // namespace zaft
