// JsonWriter: a small streaming JSON writer of our own. It takes care of commas,
// indentation and string escaping; the caller only opens and closes
// containers and names keys. Every string is written so that the output is
// always valid JSON in valid UTF-8 whatever bytes it was given:
//   quote and backslash     \" and \\ respectively
//   \b \f \n \r \t          their short escapes
//   other bytes 00..1F, 7F  \u00XX
//   valid UTF-8 sequences   copied as they are (U+2028 and U+2029, which
//                           JavaScript source cannot hold raw, as \u2028 and
//                           \u2029)
//   any other byte >= 80    \u00XX: a byte that is no part of a valid UTF-8
//                           sequence reads back as the Latin-1 character of
//                           the same value
// Valid UTF-8 is what Unicode allows: no overlong forms, no surrogates
// (ED A0..BF), nothing above U+10FFFF.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "export/byte_sink.h"

namespace zaft {

class JsonWriter {
 public:
  // Block puts each member on a line of its own, indented by two blanks per
  // level; Inline keeps the whole container on one line ("[1, 2, 3]").
  // Everything inside an Inline container is Inline too.
  enum class Layout { Block, Inline };

  // Writes to a sink through a 64 KiB buffer of its own; the rest goes out
  // at finish() or when the writer is destroyed.
  explicit JsonWriter(ByteSink& sink);
  // Appends to `text`.
  explicit JsonWriter(std::string& text);
  ~JsonWriter();
  JsonWriter(const JsonWriter&) = delete;
  JsonWriter& operator=(const JsonWriter&) = delete;

  // Inside an object every value, container or not, is preceded by key().
  JsonWriter& beginObject(Layout layout = Layout::Block);
  JsonWriter& endObject();
  JsonWriter& beginArray(Layout layout = Layout::Block);
  JsonWriter& endArray();
  JsonWriter& key(std::string_view name);

  JsonWriter& number(int64_t value);
  // A number with `places` digits after the point ("12.345").
  JsonWriter& decimal(double value, int places);
  JsonWriter& string(std::string_view text);
  JsonWriter& boolean(bool value);
  JsonWriter& null();

  // Ends the document with a line end and hands every byte on.
  void finish();

 private:
  struct Frame {
    bool object;
    Layout layout;
    int64_t members;
  };
  void beforeValue();
  void open(bool object, Layout layout);
  void close(char bracket);
  void newline(size_t depth);
  std::string& sink();
  void put(std::string_view bytes);
  void putString(std::string_view text);
  void flush();

  ByteSink* sink_ = nullptr;
  std::string* text_ = nullptr;
  std::string buffer_;  // sink mode only
  std::vector<Frame> frames_;
  bool afterKey_ = false;
};

// Appends `text` as a JSON string, quotes included (see the table above).
void appendJsonString(std::string& out, std::string_view text);

}  // namespace zaft
