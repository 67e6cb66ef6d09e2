// Test support: an SFZ reader of its own, knowing nothing of the writer.
// It reads headers (<control>, <global>, <master>, <group>, <region>),
// opcodes (a value runs to the next opcode, header or line end, so names
// may hold spaces) and "//" comments, and gives each region every opcode it
// inherits: the global's, then the master's, the group's and its own, a
// later level replacing an earlier one's value.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zaft::test {

struct SfzRegion {
  std::map<std::string, std::string> opcodes;  // its own and inherited

  std::string text(const std::string& name, const std::string& fallback = "") const;
  double number(const std::string& name, double fallback) const;
  // Whether a note of `key` at `velocity` plays it (key= sets both ends).
  bool plays(int key, int velocity) const;
  // The cents above the sample file's own rate at which `key` plays it:
  // (key - pitch_keycenter) * pitch_keytrack / 100 + transpose * 100 + tune.
  double centsAt(int key) const;
  // The loop as [start, end) in the file's samples, when it loops.
  std::optional<std::pair<long, long>> loop() const;
};

struct SfzFile {
  std::vector<SfzRegion> regions;
};

// Nullopt with `error` set when the text is no SFZ: an unknown header, an
// opcode before any header, text that is no opcode, an opcode without a name.
std::optional<SfzFile> readSfz(const std::string& text, std::string& error);

}  // namespace zaft::test
