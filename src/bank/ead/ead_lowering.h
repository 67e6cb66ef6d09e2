// EAD banks lowered into the instrument model: the EAD player's rules
// applied once, beside the reader that knows them.
//   - Keys: an EAD note's semitone n is MIDI key n + 21, so semitone 39,
//     which plays a sample at its tuning, is key 60 (middle C). Drum n sits
//     on key n + 21; a drum whose key would pass 127 is left out and
//     counted in `leftOut`.
//   - Samples: one per distinct sample (its sample bank and offset), in the
//     order the banks first reach them (bank by bank, instrument slots in
//     order with their low, normal and high sounds, then the drums). `base`
//     counts from the START OF THE SAMPLE-TABLE FILE, so the sample block
//     to decode from is that file. A sample plays at unison (key 60) at
//     tuning x 32000 Hz, the tuning of the sound that first reached it:
//     that is its rate, and its pitch is 6000 cents. Its WAV file is named
//     after that first sound: "B%02dI%03d%c.WAV" (bank, instrument slot, L,
//     N or H for the low, normal or high sound) or "B%02dD%03d.WAV" (bank,
//     drum); the name without ".WAV" is its display name.
//   - Instruments: one per instrument record, with up to three zones by
//     key: below the normal range the low sound, in it the normal sound,
//     above it the high sound (keys 0 to 20 count as below). Every zone
//     plays its sample at the instrument's `rate` (its normal sound's
//     sample rate, else its first sound's); its pitchCents make the key
//     play tuning x 32000 x 2^((key - 60) / 12) Hz, as the console does,
//     whatever rate its sample's WAV file has.
//   - Drums: one instrument per bank, one zone per drum on its key, played
//     at its tuning alone (tuning x 32000 Hz on that key), its pan the
//     drum's.
//   - Presets: bank b, program i is instrument slot i of bank b; bank 128,
//     program b bank b's drums. Banks past 127 and slots past 127 are left
//     out and counted.
//   - Envelopes: each ramp {delay, arg} is a point; a stop ends the note
//     (a last point at level 0); hang, goto and restart hold the level
//     reached. Times and levels as the player's updates give them (below).
// The model's books point into `sounds`: the set is valid while it is.
#pragma once

#include <cstdint>

#include "bank/ead/ead_bank.h"
#include "bank/instrument_set.h"

namespace zaft {

// The synthesizer's output rate: a tuning is a fraction of it.
constexpr int32_t kEadOutputRate = 32000;
// MIDI key of EAD semitone 0.
constexpr int kEadKeyOffset = 21;
// The player updates its envelopes four times per 60 Hz video frame (its
// 32000 Hz output in frames of 544 samples: 544 / 160 + 1 = 4 updates), so
// one envelope delay unit is 1/240 s.
constexpr int32_t kEadUpdatesPerSecond = 240;
// On a note's end the level (0..32767) falls by release rate x 24 per
// update to silence; a release rate of 0 takes the channel's, 0x20 unless
// the sequence sets another.
constexpr int32_t kEadReleaseStep = 24;
constexpr uint8_t kEadDefaultReleaseRate = 0x20;

InstrumentSet instrumentSetOf(const EadSoundData& sounds);

// An envelope delay in microseconds.
int32_t eadDelayMicros(uint16_t delay);
// An envelope level (arg, a signed 16-bit level of which 32767 is full) as
// a model level 0..127. The player scales a voice's amplitude by the
// square of the level, so the model's linear level is 127 x (arg/32767)^2.
int32_t eadEnvelopeLevel(uint16_t arg);
// The time from full level to silence at a release rate, in microseconds.
int32_t eadReleaseMicros(uint8_t releaseRate);

}  // namespace zaft
