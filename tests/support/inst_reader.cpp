#include "support/inst_reader.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <map>

namespace zaft::test {

long long InstDecl::number(const std::string& field, long long fallback) const {
  for (const InstField& f : fields) {
    if (f.name == field) return std::strtoll(f.value.c_str(), nullptr, 0);
  }
  return fallback;
}

std::string InstDecl::text(const std::string& field) const {
  for (const InstField& f : fields) {
    if (f.name == field) return f.value;
  }
  return std::string();
}

const InstDecl* InstSource::find(const std::string& kind, const std::string& name) const {
  for (const InstDecl& d : decls) {
    if (d.kind == kind && d.name == name) return &d;
  }
  return nullptr;
}

namespace {

struct Tokens {
  std::vector<std::string> list;
  size_t at = 0;
  bool more() const { return at < list.size(); }
  const std::string& peek() const {
    static const std::string none;
    return more() ? list[at] : none;
  }
  std::string next() { return more() ? list[at++] : std::string(); }
};

// Words, numbers, "strings" (kept with their quotes) and single marks;
// `//` and `/* */` comments dropped.
bool tokenize(const std::string& s, Tokens& t, std::string& error) {
  size_t i = 0;
  while (i < s.size()) {
    const char c = s[i];
    if (std::isspace(static_cast<unsigned char>(c)) != 0) {
      ++i;
    } else if (s.compare(i, 2, "//") == 0) {
      while (i < s.size() && s[i] != '\n') ++i;
    } else if (s.compare(i, 2, "/*") == 0) {
      const size_t end = s.find("*/", i + 2);
      if (end == std::string::npos) return error = "unterminated comment", false;
      i = end + 2;
    } else if (c == '"') {
      const size_t end = s.find('"', i + 1);
      if (end == std::string::npos) return error = "unterminated string", false;
      t.list.push_back(s.substr(i, end + 1 - i));
      i = end + 1;
    } else if (std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '-') {
      size_t j = i + 1;
      while (j < s.size() && (std::isalnum(static_cast<unsigned char>(s[j])) != 0 || s[j] == '_')) ++j;
      t.list.push_back(s.substr(i, j - i));
      i = j;
    } else if (std::string("{}[]()=;").find(c) != std::string::npos) {
      t.list.push_back(std::string(1, c));
      ++i;
    } else {
      return error = std::string("unexpected character '") + c + "'", false;
    }
  }
  return true;
}

bool expect(Tokens& t, const char* what, std::string& error) {
  if (t.next() == what) return true;
  error = std::string("expected '") + what + "' at token " + std::to_string(t.at);
  return false;
}

}  // namespace

InstSource parseInst(const std::string& text) {
  InstSource src;
  Tokens t;
  if (!tokenize(text, t, src.error)) return src;
  std::string& e = src.error;
  while (t.more()) {
    InstDecl d;
    d.kind = t.next();
    d.name = t.next();
    if (!expect(t, "{", e)) return src;
    while (t.more() && t.peek() != "}") {
      InstField f;
      f.name = t.next();
      if (f.name == "use") {
        if (!expect(t, "(", e)) return src;
        const std::string file = t.next();
        if (file.size() < 2 || file.front() != '"') return e = "use() without a file", src;
        f.value = file.substr(1, file.size() - 2);
        if (!expect(t, ")", e)) return src;
      } else {
        if (t.peek() == "[") {
          t.next();
          f.index = std::atoi(t.next().c_str());
          if (!expect(t, "]", e)) return src;
        }
        if (!expect(t, "=", e)) return src;
        f.value = t.next();
      }
      if (!expect(t, ";", e)) return src;
      d.fields.push_back(f);
    }
    if (!expect(t, "}", e)) return src;
    src.decls.push_back(d);
  }
  return src;
}

namespace {

uint32_t be32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}
uint16_t be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

double extended(const uint8_t* p) {
  const int exponent = (be16(p) & 0x7FFF) - 16383;
  const uint64_t mantissa = uint64_t{be32(p + 2)} << 32 | be32(p + 6);
  if (mantissa == 0) return 0;
  return std::ldexp(static_cast<double>(mantissa), exponent - 63);
}

// A Pascal string at p: its text and its size with the pad byte.
std::string pstring(const uint8_t* p, size_t room, size_t& size) {
  if (room == 0) return size = 0, std::string();
  const size_t n = p[0];
  size = (n + 2) & ~size_t{1};
  if (size > room) return size = 0, std::string();
  return std::string(reinterpret_cast<const char*>(p + 1), n);
}

}  // namespace

AifcFile readAifc(const std::vector<uint8_t>& b) {
  AifcFile f;
  if (b.size() < 12 || std::string(b.begin(), b.begin() + 4) != "FORM") {
    f.error = "not a FORM file";
    return f;
  }
  if (be32(&b[4]) + 8 != b.size()) {
    f.error = "FORM size " + std::to_string(be32(&b[4])) + " for a file of " + std::to_string(b.size());
    return f;
  }
  f.form = std::string(b.begin() + 8, b.begin() + 12);
  std::map<int, uint32_t> markers;
  int sustainStart = -1, sustainEnd = -1;
  size_t at = 12;
  while (at + 8 <= b.size()) {
    const std::string id(b.begin() + at, b.begin() + at + 4);
    const size_t size = be32(&b[at + 4]);
    const uint8_t* p = &b[at + 8];
    if (at + 8 + size > b.size()) {
      f.error = id + " chunk runs past the end";
      return f;
    }
    if (id == "COMM" && size >= 18) {
      f.channels = be16(p);
      f.frames = be32(p + 2);
      f.sampleSize = be16(p + 6);
      f.rate = extended(p + 8);
      if (f.form == "AIFC" && size >= 22) f.compression = std::string(p + 18, p + 22);
    } else if (id == "APPL" && size >= 4 && std::string(p, p + 4) == "stoc") {
      size_t n = 0;
      const std::string what = pstring(p + 4, size - 4, n);
      const uint8_t* q = p + 4 + n;
      const size_t room = size - 4 - n;
      if (what == "VADPCMCODES" && room >= 6) {
        AifcFile::Book book;
        book.order = be16(q + 2);
        book.predictors = be16(q + 4);
        const size_t count = static_cast<size_t>(book.order) * 8 * book.predictors;
        if (6 + 2 * count > room) return f.error = "book runs past its chunk", f;
        for (size_t k = 0; k < count; ++k) book.coefficients.push_back(static_cast<int16_t>(be16(q + 6 + 2 * k)));
        f.book = book;
      } else if (what == "VADPCMLOOPS" && room >= 4 + 44) {
        AifcFile::Loop loop;
        loop.start = static_cast<int32_t>(be32(q + 4));
        loop.end = static_cast<int32_t>(be32(q + 8));
        loop.count = static_cast<int32_t>(be32(q + 12));
        for (int k = 0; k < 16; ++k) loop.state[k] = static_cast<int16_t>(be16(q + 16 + 2 * k));
        f.loop = loop;
      }
    } else if (id == "MARK" && size >= 2) {
      size_t m = 2;
      for (int k = 0; k < be16(p) && m + 6 < size; ++k) {
        size_t n = 0;
        pstring(p + m + 6, size - m - 6, n);
        markers[be16(p + m)] = be32(p + m + 2);
        m += 6 + n;
      }
    } else if (id == "INST" && size >= 20) {
      if (be16(p + 8) != 0) {
        sustainStart = be16(p + 10);
        sustainEnd = be16(p + 12);
      }
    } else if (id == "SSND" && size >= 8) {
      f.sound.assign(p + 8, p + size);
    }
    at += 8 + size + (size % 2);
  }
  if (sustainStart >= 0 && markers.count(sustainStart) != 0 && markers.count(sustainEnd) != 0) {
    AifcFile::Loop loop;
    loop.start = static_cast<int32_t>(markers[sustainStart]);
    loop.end = static_cast<int32_t>(markers[sustainEnd]);
    loop.count = -1;
    f.markerLoop = loop;
  }
  return f;
}

}  // namespace zaft::test
