#include "audio/pitch.h"

#include <gtest/gtest.h>

#include <cmath>

namespace zaft {
namespace {

// The console plays key k through a key map at this ratio to the sample's
// rate, and the sample's own pitch is keyBase * 100 - detune cents.
double consoleRatio(int keyBase, int detune, int key) {
  return std::exp2(((key - keyBase) * 100.0 + detune) / 1200.0);
}

// For every detune, the three forms of the pitch (cents, the smpl chunk's
// note and fraction, the soundfont's root key and tunings) agree with the
// console: key keyBase - detune / 100 plays the sample at its own rate, and
// every key plays it at the console's ratio.
TEST(SamplePitch, MatchesTheConsoleForEveryDetune) {
  for (int keyBase : {0, 1, 60, 126, 127, 200, 247, 248, 255}) {
    for (int detune : {-128, -50, -1, 0, 1, 30, 127}) {
      SCOPED_TRACE(std::to_string(keyBase) + " " + std::to_string(detune));
      const SamplePitch p{keyBase * 100 - detune};
      EXPECT_NEAR(consoleRatio(keyBase, detune, 0) * std::exp2(p.cents / 1200.0), 1.0, 1e-12);
      if (p.cents >= 0 && p.cents < 12800) {
        EXPECT_EQ(p.unityNote() * 100 + p.fractionCents(), p.cents);
        EXPECT_GE(p.fractionCents(), 0);
        EXPECT_LT(p.fractionCents(), 100);
      }
      // Within the soundfont's ranges; exact wherever they reach (a pitch
      // up to 12099 cents below root key 127), else as near as they reach.
      EXPECT_GE(p.rootKey(), 0);
      EXPECT_LE(p.rootKey(), 127);
      EXPECT_GE(p.coarseTune(), -120);
      EXPECT_LE(p.coarseTune(), 120);
      const bool reached = p.cents <= 12700 + 12099;
      EXPECT_GE(p.fineTune(), p.coarseTune() == -120 ? -99 : -49);
      EXPECT_LE(p.fineTune(), 50);
      const double shortBy = reached ? 0 : p.cents - 12700 - 12099;
      for (int key = 0; key < 128; ++key) {
        const double cents = (key - p.rootKey() + p.coarseTune()) * 100.0 + p.fineTune() - shortBy;
        EXPECT_NEAR(std::exp2(cents / 1200.0), consoleRatio(keyBase, detune, key), 1e-9) << key;
        EXPECT_NEAR(playbackRatio(p, key), consoleRatio(keyBase, detune, key), 1e-12) << key;
      }
    }
  }
  // The worked case: keyBase 60 and detune +30 sound as note 59 and 0.70.
  EXPECT_EQ(SamplePitch{5970}.unityNote(), 59);
  EXPECT_EQ(SamplePitch{5970}.fractionCents(), 70);
}

}  // namespace
}  // namespace zaft
