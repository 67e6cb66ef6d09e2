// PLACEHOLDER until the decoder lands.
#include "audio/adpcm.h"

namespace zaft {

void decodeAdpcmHalfFrame(AdpcmHistory& history, const uint8_t*, const int16_t*, uint8_t,
                          int16_t out[8]) {
  for (int i = 0; i < 8; ++i) out[i] = history.h[i] = 0;
}

}  // namespace zaft
