#include "export/midi_file.h"

#include <algorithm>

namespace zaft {

namespace {

// Tempo changes the duration in seconds is worked out from; later ones
// are left out of it.
constexpr size_t kMaxTempoChanges = size_t{1} << 18;

}  // namespace

void appendVarLen(std::vector<uint8_t>& out, uint64_t value) {
  value = std::min(value, kMaxDelta);
  for (int shift = 21; shift > 0; shift -= 7) {
    if ((value >> shift) != 0) out.push_back(static_cast<uint8_t>(0x80 | (value >> shift)));
  }
  out.push_back(static_cast<uint8_t>(value & 0x7F));
}

std::string loopEndMarker(int count) {
  return count == 255 || count < 0 ? std::string("loop end, for ever") : "loop end x " + std::to_string(count);
}

void Tempi::add(uint64_t tick, uint32_t tempo) {
  if (changes_.size() < kMaxTempoChanges) changes_.emplace_back(tick, tempo);
}

double Tempi::secondsAt(uint64_t ticks, uint32_t division) {
  if (division == 0) return 0;
  std::stable_sort(changes_.begin(), changes_.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  double seconds = 0;
  uint64_t at = 0;
  uint32_t tempo = kDefaultTempo;
  for (const auto& [tick, t] : changes_) {
    if (tick >= ticks) break;
    seconds += static_cast<double>(tick - at) * tempo / division / 1e6;
    at = tick;
    tempo = t;
  }
  return seconds + static_cast<double>(ticks - at) * tempo / division / 1e6;
}

}  // namespace zaft
