#include "audio/pitch.h"

#include <algorithm>
#include <cmath>

namespace zaft {

namespace {

constexpr int32_t kCentsPerNote = 100;
constexpr int32_t kHighestNote = 127;
constexpr int32_t kMaxCoarseTune = 120;  // semitones, a soundfont's limit
constexpr int32_t kMaxFineTune = 99;     // cents, likewise

// Floor division: the note a pitch lies in, negative pitches included.
int32_t floorDiv(int32_t n, int32_t d) { return n / d - (n % d != 0 && (n < 0) != (d < 0)); }

// The key nearest the pitch (half way up rounds up), so that the fine tune
// stays within -49 to 50 cents.
int32_t nearestKey(int32_t cents) { return floorDiv(cents + kCentsPerNote / 2, kCentsPerNote); }

}  // namespace

int32_t SamplePitch::unityNote() const {
  return std::clamp(floorDiv(cents, kCentsPerNote), 0, kHighestNote);
}

int32_t SamplePitch::fractionCents() const {
  const int32_t held = std::clamp(cents, 0, kHighestNote * kCentsPerNote + kCentsPerNote - 1);
  return held - unityNote() * kCentsPerNote;
}

int32_t SamplePitch::rootKey() const { return std::clamp(nearestKey(cents), 0, kHighestNote); }

int32_t SamplePitch::coarseTune() const {
  return std::clamp(rootKey() - nearestKey(cents), -kMaxCoarseTune, kMaxCoarseTune);
}

int32_t SamplePitch::fineTune() const {
  const int32_t rest = (rootKey() - coarseTune()) * kCentsPerNote - cents;
  return std::clamp(rest, -kMaxFineTune, kMaxFineTune);
}

double playbackRatio(const SamplePitch& pitch, int key) {
  return std::exp2((key * 100.0 - pitch.cents) / 1200.0);
}

}  // namespace zaft
