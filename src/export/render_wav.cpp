#include "export/render_wav.h"

#include "util/endian.h"

namespace zaft {

void writeStereoWavHeader(ByteSink& sink, int32_t rate, int64_t frames) {
  constexpr int kChannels = 2, kBytesPerSample = 2;
  const uint32_t data = static_cast<uint32_t>(4 * frames);
  uint8_t* h = sink.extend(kStereoWavHeaderBytes);
  const auto text = [&](int at, const char* four) {
    for (int i = 0; i < 4; ++i) h[at + i] = static_cast<uint8_t>(four[i]);
  };
  text(0, "RIFF");
  storeLE32(h + 4, 36 + data);
  text(8, "WAVE");
  text(12, "fmt ");
  storeLE32(h + 16, 16);
  storeLE16(h + 20, 1);  // PCM
  storeLE16(h + 22, kChannels);
  storeLE32(h + 24, static_cast<uint32_t>(rate));
  storeLE32(h + 28, static_cast<uint32_t>(rate) * kChannels * kBytesPerSample);
  storeLE16(h + 32, kChannels * kBytesPerSample);
  storeLE16(h + 34, 16);
  text(36, "data");
  storeLE32(h + 40, data);
}

}  // namespace zaft
