// Test support: an independent reader of the instrument compiler's source
// (.inst) and of the AIFF / AIFF-C files it uses, written from the formats
// alone, so that tests can check what the exporters wrote.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zaft::test {

// `name = value;`, `name [index] = value;` or `use ("file");` (name "use").
struct InstField {
  std::string name;
  int index = -1;
  std::string value;  // a number's text, a symbol, or the file of a use()
};

struct InstDecl {
  std::string kind;  // "bank", "instrument", "sound", "keymap", "envelope"
  std::string name;
  std::vector<InstField> fields;
  // The field's number; `fallback` when it is not given.
  long long number(const std::string& field, long long fallback = 0) const;
  // The symbol or file; empty when not given.
  std::string text(const std::string& field) const;
};

struct InstSource {
  std::vector<InstDecl> decls;  // in the file's order
  std::string error;            // why the text could not be read; empty when it was
  const InstDecl* find(const std::string& kind, const std::string& name) const;
};

InstSource parseInst(const std::string& text);

struct AifcFile {
  std::string form;         // "AIFC" or "AIFF"
  std::string compression;  // "VAPC"; empty for AIFF
  int channels = 0, sampleSize = 0;
  uint32_t frames = 0;
  double rate = 0;
  struct Book {
    int order = 0, predictors = 0;
    std::vector<int16_t> coefficients;
  };
  std::optional<Book> book;
  struct Loop {
    int32_t start = 0, end = 0, count = 0;
    int16_t state[16] = {};
  };
  std::optional<Loop> loop;        // VADPCMLOOPS
  std::optional<Loop> markerLoop;  // an AIFF's sustain loop between its markers (count -1)
  std::vector<uint8_t> sound;  // the SSND data
  std::string error;           // empty when the file read whole
};

AifcFile readAifc(const std::vector<uint8_t>& bytes);

}  // namespace zaft::test
