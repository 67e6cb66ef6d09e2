// The pitch of a sample as the console plays it through a key map. Key k
// plays the sample at 2^(((k - keyBase) * 100 + detune) / 1200) times its
// rate, so the sample sounds at its own pitch for k = keyBase - detune / 100:
// its pitch is keyBase * 100 - detune in MIDI cents (note number x 100).
// keyBase 60 with detune +30 is 5970: MIDI note 59 and 0.70 of a semitone.
// One function for every output that names the pitch: the WAV files' smpl
// chunk, the soundfont, the JSON document.
#pragma once

#include <cstdint>

#include "bank/records.h"

namespace zaft {

struct SamplePitch {
  // keyBase * 100 - detune: the sample's own pitch in MIDI cents. Without a
  // key map, 6000 (middle C).
  int32_t cents = 6000;

  // As a MIDI unity note and the fraction of a semitone above it (0 to 99
  // cents), the pitch held to notes 0 to 127.
  int32_t unityNote() const;
  int32_t fractionCents() const;

  // As a soundfont plays it: root key, coarse tune (semitones) and fine tune
  // (cents) such that key k sounds (k - root + coarse) * 100 + fine cents
  // above the sample's rate: exactly the console's pitch. Each stays within
  // the format's range: the root key within 0 to 127, coarse tune -120 to
  // 120 carrying the rest, fine tune -49 to 50 (up to -99 to 99 when coarse
  // tune is at its limit). Only a pitch beyond all three, a keyBase above
  // 247 (more than ten octaves below the sample's rate even at key 127),
  // sounds as near as they reach.
  int32_t rootKey() const;
  int32_t coarseTune() const;
  int32_t fineTune() const;
};

SamplePitch samplePitch(const ALKeyMap* keyMap);

// The console's ratio of the playback rate to the sample's rate for `key`.
double consolePlaybackRatio(const ALKeyMap& keyMap, int key);

}  // namespace zaft
