// The JSON writer: the walked bank file as one machine-readable document
// (the same facts as the C header, for tools that should not parse C), and
// the index of the documents of an /x run. docs/json.md is the schema.
//
// JsonWriter is a small streaming writer of our own. It takes care of commas,
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
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "rom/rom_stream.h"

namespace zaft {

struct RunContext;

class JsonWriter {
 public:
  // Block puts each member on a line of its own, indented by two blanks per
  // level; Inline keeps the whole container on one line ("[1, 2, 3]").
  // Everything inside an Inline container is Inline too.
  enum class Layout { Block, Inline };

  // Writes to a stdio stream (through a 64 KiB buffer of its own; the rest
  // goes out at finish() or when the writer is destroyed). Write errors are
  // left on the stream for the caller to test with ferror.
  explicit JsonWriter(FILE* file);
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

  FILE* file_ = nullptr;
  std::string* text_ = nullptr;
  std::string buffer_;  // file mode only
  std::vector<Frame> frames_;
  bool afterKey_ = false;
};

// Appends `text` as a JSON string, quotes included (see the table above).
void appendJsonString(std::string& out, std::string_view text);

// What a document says about the ROM. The offsets used and how they were
// obtained come from the RunContext (settings.ctlOffset, settings.tblOffset,
// settings.tblGiven, ctlSource, tblSource).
struct JsonRunInfo {
  std::string romFile;  // the ROM's name as the user gave it
  int64_t romSize = 0;
  ByteOrder byteOrder = ByteOrder::AsStored;
};

// The ROM's path, size and detected byte order.
JsonRunInfo jsonRunInfo(const RomStream& rom);

// The token a document writes for a byte order: "asStored", "swapped16" or
// "reversed32".
const char* jsonByteOrder(ByteOrder order);

// The whole document for one walked bank file: `ctx` after the walk (and
// after the WAV files, whose outcomes it reads from ctx.waveOutcomes).
void writeJsonDocument(const RunContext& ctx, const JsonRunInfo& info, JsonWriter& json);
void writeJsonDocument(const RunContext& ctx, const JsonRunInfo& info, FILE* file);

// One bank file of an /x run.
struct JsonIndexEntry {
  int32_t ctlOffset = 0;
  int32_t tblOffset = -1;  // -1: no sample block, no WAV files
  std::string folder;      // the bank file's folder, as named in the output folder
  std::string document;    // its document, relative to the index; empty when none was written
  std::string status;      // "ok", or what went wrong
  int32_t records = 0;     // structures, as the header's Struct Count
  int32_t wavFiles = 0;
};

// The index of an /x run: the ROM and one element per bank file, in the
// order given.
void writeJsonIndex(const JsonRunInfo& info, const std::vector<JsonIndexEntry>& banks,
                    JsonWriter& json);
void writeJsonIndex(const JsonRunInfo& info, const std::vector<JsonIndexEntry>& banks,
                    FILE* file);

}  // namespace zaft
