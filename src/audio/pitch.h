// The pitch of a sample: the MIDI cents (note number x 100) at which it
// sounds when played at its own rate. A bank reader works it out by its
// driver's rules; from it follow the WAV files' smpl chunk, the soundfont's
// root key and tunings, the JSON document's figure, and the rate at which a
// key plays the sample.
#pragma once

#include <cstdint>

namespace zaft {

struct SamplePitch {
  // The sample's own pitch in MIDI cents; 6000 is middle C.
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

// The ratio of the playback rate to the sample's rate when key `key` plays
// a sample of this pitch: 2^((key * 100 - cents) / 1200).
double playbackRatio(const SamplePitch& pitch, int key);

}  // namespace zaft
