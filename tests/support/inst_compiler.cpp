#include "support/inst_compiler.h"

#include <cstdint>

namespace zaft::test {

namespace {

class Compiler {
 public:
  Compiler(const InstSource& src, const std::map<std::string, AifcFile>& files)
      : src_(src), files_(files) {}

  CompiledBank run() {
    std::vector<const InstDecl*> banks;
    for (const InstDecl& d : src_.decls) {
      if (d.kind == "bank") banks.push_back(&d);
    }
    // The bank file at the block's start; its bank pointers filled in after.
    be16(0x4231);
    be16(static_cast<uint16_t>(banks.size()));
    for (size_t k = 0; k < banks.size(); ++k) be32(0);
    pad(ctl_, 8);
    for (size_t k = 0; k < banks.size(); ++k) {
      const uint32_t at = bank(*banks[k]);
      put32(4 + 4 * k, at);
    }
    out_.ctl = ctl_;
    return out_;
  }

 private:
  static void pad(std::vector<uint8_t>& v, size_t to) {
    while (v.size() % to != 0) v.push_back(0);
  }
  void u8(long long v) { ctl_.push_back(static_cast<uint8_t>(v)); }
  void be16(long long v) {
    u8(v >> 8);
    u8(v);
  }
  void be32(long long v) {
    be16(v >> 16);
    be16(v);
  }
  void put32(size_t at, uint32_t v) {
    for (int k = 0; k < 4; ++k) ctl_[at + k] = static_cast<uint8_t>(v >> (24 - 8 * k));
  }
  uint32_t start() {
    pad(ctl_, 8);
    return static_cast<uint32_t>(ctl_.size());
  }
  const InstDecl* lookup(const char* kind, const std::string& name) {
    const InstDecl* d = src_.find(kind, name);
    if (d == nullptr && out_.error.empty()) out_.error = std::string("no ") + kind + " " + name;
    return d;
  }

  uint32_t envelope(const std::string& name) {
    if (auto it = done_.find("e:" + name); it != done_.end()) return it->second;
    const InstDecl* d = lookup("envelope", name);
    if (d == nullptr) return 0;
    const uint32_t at = start();
    be32(d->number("attackTime"));
    be32(d->number("decayTime"));
    be32(d->number("releaseTime"));
    u8(d->number("attackVolume"));
    u8(d->number("decayVolume"));
    pad(ctl_, 8);
    return done_["e:" + name] = at;
  }

  uint32_t keymap(const std::string& name) {
    if (auto it = done_.find("k:" + name); it != done_.end()) return it->second;
    const InstDecl* d = lookup("keymap", name);
    if (d == nullptr) return 0;
    const uint32_t at = start();
    for (const char* f : {"velocityMin", "velocityMax", "keyMin", "keyMax", "keyBase", "detune"}) {
      u8(d->number(f));
    }
    pad(ctl_, 8);
    return done_["k:" + name] = at;
  }

  uint32_t wave(const std::string& file) {
    if (auto it = done_.find("w:" + file); it != done_.end()) return it->second;
    const auto found = files_.find(file);
    if (found == files_.end()) {
      if (out_.error.empty()) out_.error = "no file " + file;
      return 0;
    }
    const AifcFile& f = found->second;
    const bool adpcm = f.compression == "VAPC";
    uint32_t loop = 0, book = 0;
    if (const auto& l = f.loop ? f.loop : f.markerLoop) {
      loop = start();
      be32(l->start);
      be32(l->end);
      be32(l->count);
      if (adpcm) {
        for (const int16_t s : l->state) be16(s);
      }
      pad(ctl_, 8);
    }
    if (adpcm && f.book) {
      book = start();
      be32(f.book->order);
      be32(f.book->predictors);
      for (const int16_t c : f.book->coefficients) be16(c);
      pad(ctl_, 8);
    }
    pad(tbl(), 8);
    const uint32_t base = static_cast<uint32_t>(tbl().size());
    tbl().insert(tbl().end(), f.sound.begin(), f.sound.end());
    pad(tbl(), 8);
    const uint32_t at = start();
    be32(base);
    be32(static_cast<long long>(f.sound.size()));
    u8(adpcm ? 0 : 1);
    u8(0);
    be16(0);
    be32(loop);
    if (adpcm) be32(book);
    pad(ctl_, 8);
    return done_["w:" + file] = at;
  }
  std::vector<uint8_t>& tbl() { return out_.tbl; }

  uint32_t sound(const std::string& name) {
    if (auto it = done_.find("s:" + name); it != done_.end()) return it->second;
    const InstDecl* d = lookup("sound", name);
    if (d == nullptr) return 0;
    const std::string env = d->text("envelope"), km = d->text("keymap"), use = d->text("use");
    const uint32_t e = env.empty() ? 0 : envelope(env);
    const uint32_t k = km.empty() ? 0 : keymap(km);
    const uint32_t w = use.empty() ? 0 : wave(use);
    const uint32_t at = start();
    be32(e);
    be32(k);
    be32(w);
    u8(d->number("pan", 64));
    u8(d->number("volume", 127));
    u8(0);
    pad(ctl_, 8);
    return done_["s:" + name] = at;
  }

  uint32_t instrument(const std::string& name) {
    if (auto it = done_.find("i:" + name); it != done_.end()) return it->second;
    const InstDecl* d = lookup("instrument", name);
    if (d == nullptr) return 0;
    std::vector<uint32_t> sounds;
    for (const InstField& f : d->fields) {
      if (f.name == "sound") sounds.push_back(sound(f.value));
    }
    const uint32_t at = start();
    u8(d->number("volume", 127));
    u8(d->number("pan", 64));
    u8(d->number("priority", 5));
    u8(0);
    for (const char* f : {"tremType", "tremRate", "tremDepth", "tremDelay", "vibType", "vibRate",
                          "vibDepth", "vibDelay"}) {
      u8(d->number(f));
    }
    be16(d->number("bendRange", 200));
    be16(static_cast<long long>(sounds.size()));
    for (const uint32_t s : sounds) be32(s);
    pad(ctl_, 8);
    return done_["i:" + name] = at;
  }

  uint32_t bank(const InstDecl& d) {
    const std::string perc = d.text("percussionDefault");
    const uint32_t p = perc.empty() ? 0 : instrument(perc);
    std::map<int, uint32_t> insts;
    for (const InstField& f : d.fields) {
      if (f.name == "instrument") insts[f.index] = 0;
    }
    for (auto& [index, at] : insts) {
      for (const InstField& f : d.fields) {
        if (f.name == "instrument" && f.index == index) at = instrument(f.value);
      }
    }
    const int count = insts.empty() ? 0 : insts.rbegin()->first + 1;
    const uint32_t at = start();
    be16(count);
    u8(0);
    u8(0);
    be32(d.number("sampleRate", 44100));
    be32(p);
    for (int k = 0; k < count; ++k) be32(insts.count(k) != 0 ? insts[k] : 0);
    pad(ctl_, 8);
    return at;
  }

  const InstSource& src_;
  const std::map<std::string, AifcFile>& files_;
  std::vector<uint8_t> ctl_;
  CompiledBank out_;
  std::map<std::string, uint32_t> done_;
};

}  // namespace

CompiledBank compileInst(const InstSource& source, const std::map<std::string, AifcFile>& files) {
  return Compiler(source, files).run();
}

}  // namespace zaft::test
