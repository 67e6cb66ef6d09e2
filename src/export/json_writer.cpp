#include "export/json_writer.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace zaft {

namespace {

// Written to the file in blocks of about this size: a document for a full
// struct table is a few MiB at most.
constexpr size_t kFileBufferSize = 64 * 1024;
constexpr int kIndentPerLevel = 2;

const char kHexDigits[] = "0123456789abcdef";

void appendEscapedByte(std::string& out, uint8_t byte) {
  out += "\\u00";
  out += kHexDigits[byte >> 4];
  out += kHexDigits[byte & 0x0F];
}

// Length of the valid UTF-8 sequence that starts at text[i], or 0 when the
// byte there starts none (a continuation byte, an overlong form, a surrogate,
// a code point above U+10FFFF, or a sequence cut short).
size_t utf8SequenceLength(std::string_view text, size_t i) {
  const auto at = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
  const uint8_t lead = at(i);
  size_t length = 0;
  uint8_t secondLow = 0x80, secondHigh = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) secondLow = 0xA0;   // below: overlong
    if (lead == 0xED) secondHigh = 0x9F;  // above: surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) secondLow = 0x90;   // below: overlong
    if (lead == 0xF4) secondHigh = 0x8F;  // above: past U+10FFFF
  } else {
    return 0;
  }
  if (text.size() - i < length) return 0;
  if (at(i + 1) < secondLow || at(i + 1) > secondHigh) return 0;
  for (size_t k = 2; k < length; ++k) {
    if (at(i + k) < 0x80 || at(i + k) > 0xBF) return 0;
  }
  return length;
}

}  // namespace

JsonWriter::JsonWriter(ByteSink& sink) : sink_(&sink) { buffer_.reserve(kFileBufferSize); }

JsonWriter::JsonWriter(std::string& text) : text_(&text) {}

JsonWriter::~JsonWriter() { flush(); }

std::string& JsonWriter::sink() { return text_ != nullptr ? *text_ : buffer_; }

void JsonWriter::put(std::string_view bytes) {
  sink().append(bytes);
  if (text_ == nullptr && buffer_.size() >= kFileBufferSize) flush();
}

void JsonWriter::putString(std::string_view text) {
  appendJsonString(sink(), text);
  if (text_ == nullptr && buffer_.size() >= kFileBufferSize) flush();
}

void JsonWriter::flush() {
  if (sink_ != nullptr && !buffer_.empty()) {
    sink_->write(buffer_);
    buffer_.clear();
  }
}

void JsonWriter::newline(size_t depth) {
  put("\n");
  static const std::string blanks(64, ' ');
  size_t columns = depth * kIndentPerLevel;
  while (columns > 0) {
    const size_t n = std::min(columns, blanks.size());
    put(std::string_view(blanks.data(), n));
    columns -= n;
  }
}

// The separator in front of a member: a comma after an earlier member, then a
// new line in a Block container or a blank in an Inline one. A value that
// follows its key needs none.
void JsonWriter::beforeValue() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (frames_.empty()) return;
  Frame& frame = frames_.back();
  if (frame.members > 0) put(",");
  if (frame.layout == Layout::Block) {
    newline(frames_.size());
  } else if (frame.members > 0) {
    put(" ");
  }
  ++frame.members;
}

JsonWriter& JsonWriter::key(std::string_view name) {
  afterKey_ = false;
  beforeValue();
  putString(name);
  put(": ");
  afterKey_ = true;
  return *this;
}

void JsonWriter::open(bool object, Layout layout) {
  beforeValue();
  if (!frames_.empty() && frames_.back().layout == Layout::Inline) layout = Layout::Inline;
  frames_.push_back({object, layout, 0});
  put(object ? "{" : "[");
}

void JsonWriter::close(char bracket) {
  if (frames_.empty()) return;
  const Frame frame = frames_.back();
  frames_.pop_back();
  if (frame.layout == Layout::Block && frame.members > 0) newline(frames_.size());
  put(std::string_view(&bracket, 1));
}

JsonWriter& JsonWriter::beginObject(Layout layout) {
  open(true, layout);
  return *this;
}

JsonWriter& JsonWriter::endObject() {
  close('}');
  return *this;
}

JsonWriter& JsonWriter::beginArray(Layout layout) {
  open(false, layout);
  return *this;
}

JsonWriter& JsonWriter::endArray() {
  close(']');
  return *this;
}

JsonWriter& JsonWriter::number(int64_t value) {
  beforeValue();
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  put(std::string_view(digits, static_cast<size_t>(result.ptr - digits)));
  return *this;
}

JsonWriter& JsonWriter::decimal(double value, int places) {
  beforeValue();
  char digits[64];
  const int n = std::snprintf(digits, sizeof digits, "%.*f", places, std::isfinite(value) ? value : 0.0);
  put(std::string_view(digits, static_cast<size_t>(std::clamp(n, 0, static_cast<int>(sizeof digits) - 1))));
  return *this;
}

JsonWriter& JsonWriter::string(std::string_view text) {
  beforeValue();
  putString(text);
  return *this;
}

JsonWriter& JsonWriter::boolean(bool value) {
  beforeValue();
  put(value ? "true" : "false");
  return *this;
}

JsonWriter& JsonWriter::null() {
  beforeValue();
  put("null");
  return *this;
}

void JsonWriter::finish() {
  put("\n");
  flush();
}

void appendJsonString(std::string& out, std::string_view text) {
  out += '"';
  size_t i = 0;
  while (i < text.size()) {
    const uint8_t byte = static_cast<uint8_t>(text[i]);
    if (byte >= 0x80) {
      const size_t length = utf8SequenceLength(text, i);
      if (length == 0) {
        appendEscapedByte(out, byte);
        ++i;
      } else if (length == 3 && byte == 0xE2 && static_cast<uint8_t>(text[i + 1]) == 0x80 &&
                 (static_cast<uint8_t>(text[i + 2]) & 0xFE) == 0xA8) {
        out += static_cast<uint8_t>(text[i + 2]) == 0xA8 ? "\\u2028" : "\\u2029";
        i += length;
      } else {
        out.append(text.substr(i, length));
        i += length;
      }
      continue;
    }
    switch (byte) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (byte < 0x20 || byte == 0x7F) {
          appendEscapedByte(out, byte);
        } else {
          out += static_cast<char>(byte);
        }
    }
    ++i;
  }
  out += '"';
}

}  // namespace zaft
