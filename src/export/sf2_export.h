// The soundfont exporter: a bank file's instrument model as a SoundFont 2
// (RIFF "sfbk") that plays each note as the console would.
//
//   - Presets: instrument i of bank b is preset bank b, program i (what a
//     program change selects); a bank's percussion instrument is preset
//     bank 128, program b. Names are the header's, made unique in the file.
//     An instrument the console plays no note of (no sounds, or none with
//     samples) is an instrument without zones: its preset plays nothing,
//     as on the console, rather than a player's stand-in.
//   - Zones: the model's, which hold exactly the (key, velocity) pairs the
//     console picks each sample for, so no other zone sounds and the pairs
//     the console leaves silent stay silent.
//   - Pitch: root key, coarse and fine tune from the sample's pitch
//     (audio/pitch.h), so key k plays the sample at the console's ratio.
//   - Samples: each wave's PCM once, as the WAV files hold it, with one
//     sample header per output rate it is played at; looped continuously
//     over [start, end) when its loop's count is not 0 and start < end.
//     Samples and loops keep the format's rules (48 points at the least, 8
//     before a loop and after it, 32 in it): a loop without that room is
//     moved onto later repetitions of itself, which sound the same.
//   - Envelope, attenuation (sampleVolume and the attack level), pan
//     (samplePan), velocity as linear amplitude, and a pitch wheel of the
//     instrument's bendRange. The instrument's own volume and pan are
//     channel settings on the console: they are in the file's comment, not
//     in the zones.
//
// The file's own layout is export/sf2_file.h's.
#pragma once

#include <cstdint>
#include <string>

#include "bank/instrument_set.h"
#include "export/byte_sink.h"
#include "rom/rom_image.h"
#include "util/reporter.h"

namespace zaft {

struct SoundFontOptions {
  std::string title;  // the INAM text
};

// Writes the soundfont of the instrument model `set`, whose samples lie in
// the sample block at `tblOffset`. Gives back why nothing was written when
// the format cannot hold it (past 4 GiB, or more records of a kind than its
// 16-bit indices reach); empty when it was written.
std::string writeSoundFont(const RomImage& rom, const InstrumentSet& set, int64_t tblOffset,
                           const SoundFontOptions& options, ByteSink& sink, Reporter& report);

}  // namespace zaft
