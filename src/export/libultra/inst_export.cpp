#include "export/libultra/inst_export.h"

#include <cctype>
#include <set>
#include <vector>

#include "util/fatal.h"

namespace zaft {

namespace {

class InstWriter {
 public:
  InstWriter(const BankFile& bank, const std::map<int32_t, std::string>& waveFiles,
             const std::string& name, ByteSink& sink, Reporter& report)
      : bank_(bank), files_(waveFiles), name_(name), sink_(sink), report_(report) {}

  void run() {
    sink_.write(formatText(
        "// The bank file at 0x%06X as the instrument compiler's source. Each sound's wave\n"
        "// (with its loop and book) is the file its use() names, beside this one.\n"
        "// Numbers are the bytes the records hold; flags, which the compiler sets, are\n"
        "// given in comments.\n",
        static_cast<unsigned>(bank_.ctlOffset)));
    const ALBankFile* file = nullptr;
    for (int32_t k = 1; k < bank_.table.size() && file == nullptr; ++k) {
      file = bank_.table.recordAt<ALBankFile>(k);
    }
    if (file == nullptr) return;
    for (size_t k = 0; k < file->banks.size(); ++k) {
      if (bank_.table.recordAt<ALBank>(file->banks[k]) != nullptr) {
        declareBank(file->banks[k]);
      } else {
        report_.errf("Warning: %s: the bank file names no bank at %zu of its %zu; it is left out\n",
                     name_.c_str(), k, file->banks.size());
      }
    }
  }

 private:
  // A name the compiler reads as one symbol, unique in the file.
  const std::string& nameOf(int32_t index) {
    auto [it, isNew] = names_.try_emplace(index);
    if (!isNew) return it->second;
    std::string n;
    for (const char ch : bank_.table[index].name) {
      n += std::isalnum(static_cast<unsigned char>(ch)) != 0 ? ch : '_';
    }
    if (n.empty() || std::isdigit(static_cast<unsigned char>(n[0])) != 0) n = "r" + n;
    if (!used_.insert(n).second) {
      n += formatText("_%d", index);
      used_.insert(n);
    }
    it->second = n;
    return it->second;
  }

  bool firstVisit(int32_t index) { return declared_.insert(index).second; }

  void line(const char* field, long long value, const std::string& note = std::string()) {
    sink_.write(formatText("    %s = %lld;%s\n", field, value, note.c_str()));
  }

  void open(const char* kind, int32_t index) {
    sink_.write(formatText("\n%s %s\n{\n", kind, nameOf(index).c_str()));
  }
  void close() { sink_.write("}\n"); }

  void declareEnvelope(int32_t index) {
    if (!firstVisit(index)) return;
    const ALEnvelope& e = bank_.table[index].as<ALEnvelope>();
    open("envelope", index);
    line("attackTime", e.attackTime);
    line("attackVolume", e.attackVolume);
    line("decayTime", e.secondTime);
    line("decayVolume", e.decayVolume);
    line("releaseTime", e.releaseTime);
    close();
  }

  void declareKeyMap(int32_t index) {
    if (!firstVisit(index)) return;
    const ALKeyMap& k = bank_.table[index].as<ALKeyMap>();
    open("keymap", index);
    line("velocityMin", k.velocityMin);
    line("velocityMax", k.velocityMax);
    line("keyMin", k.keyMin);
    line("keyMax", k.keyMax);
    line("keyBase", k.keyBase);
    line("detune", static_cast<uint8_t>(k.detune),
         k.detune < 0 ? formatText("  // %d", k.detune) : std::string());
    close();
  }

  void declareSound(int32_t index) {
    if (!firstVisit(index)) return;
    const ALSound& s = bank_.table[index].as<ALSound>();
    const bool envelope = bank_.table.recordAt<ALEnvelope>(s.envelope) != nullptr;
    const bool keyMap = bank_.table.recordAt<ALKeyMap>(s.keyMap) != nullptr;
    if (envelope) declareEnvelope(s.envelope);
    if (keyMap) declareKeyMap(s.keyMap);
    const auto file = files_.find(s.wavetable);
    const std::string& name = nameOf(index);
    open("sound", index);
    if (file != files_.end()) {
      sink_.write(formatText("    use (\"%s\");\n", file->second.c_str()));
    } else {
      missing(name, "wave table");
    }
    line("pan", s.samplePan);
    line("volume", s.sampleVolume);
    if (keyMap) {
      sink_.write(formatText("    keymap = %s;\n", nameOf(s.keyMap).c_str()));
    } else {
      missing(name, "key map");
    }
    if (envelope) {
      sink_.write(formatText("    envelope = %s;\n", nameOf(s.envelope).c_str()));
    } else {
      missing(name, "envelope");
    }
    sink_.write(formatText("    // flags = %u;\n", s.flags));
    close();
  }

  void missing(const std::string& sound, const char* what) {
    report_.errf("Warning: %s: sound %s has no %s; it is written without one\n", name_.c_str(),
                 sound.c_str(), what);
  }

  void declareInstrument(int32_t index) {
    if (!firstVisit(index)) return;
    const ALInstrument& i = bank_.table[index].as<ALInstrument>();
    std::vector<int32_t> sounds;
    for (size_t k = 0; k < i.sounds.size(); ++k) {
      const int32_t s = i.sounds[k];
      if (bank_.table.recordAt<ALSound>(s) == nullptr) {
        report_.errf("Warning: %s: instrument %s names no sound at %zu of its %zu; it is left out\n",
                     name_.c_str(), nameOf(index).c_str(), k, i.sounds.size());
        continue;
      }
      declareSound(s);
      sounds.push_back(s);
    }
    open("instrument", index);
    line("volume", i.volume);
    line("pan", i.pan);
    line("priority", i.priority);
    line("tremType", i.tremType);
    line("tremRate", i.tremRate);
    line("tremDepth", i.tremDepth);
    line("tremDelay", i.tremDelay);
    line("vibType", i.vibType);
    line("vibRate", i.vibRate);
    line("vibDepth", i.vibDepth);
    line("vibDelay", i.vibDelay);
    line("bendRange", i.bendRange);
    sink_.write(formatText("    // flags = %u;\n", i.flags));
    for (const int32_t s : sounds) sink_.write(formatText("    sound = %s;\n", nameOf(s).c_str()));
    close();
  }

  void declareBank(int32_t index) {
    if (!firstVisit(index)) return;
    const ALBank& b = bank_.table[index].as<ALBank>();
    const bool percussion = bank_.table.recordAt<ALInstrument>(b.percussion) != nullptr;
    if (percussion) declareInstrument(b.percussion);
    int32_t empty = 0;
    for (const int32_t i : b.insts) {
      if (bank_.table.recordAt<ALInstrument>(i) != nullptr) {
        declareInstrument(i);
      } else {
        ++empty;
      }
    }
    const std::string& name = nameOf(index);
    if (empty != 0) {
      report_.errf(
          "Warning: %s: bank %s has %d empty instrument numbers among its %d; it is written with "
          "the numbers that exist, and compiling it needs an instrument compiler that takes "
          "gaps\n",
          name_.c_str(), name.c_str(), empty, static_cast<int>(b.insts.size()));
    }
    open("bank", index);
    line("sampleRate", b.sampleRate);
    if (percussion) sink_.write(formatText("    percussionDefault = %s;\n", nameOf(b.percussion).c_str()));
    for (size_t k = 0; k < b.insts.size(); ++k) {
      if (bank_.table.recordAt<ALInstrument>(b.insts[k]) == nullptr) continue;
      sink_.write(formatText("    instrument [%zu] = %s;\n", k, nameOf(b.insts[k]).c_str()));
    }
    sink_.write(formatText("    // flags = %u;\n", b.flags));
    close();
  }

  const BankFile& bank_;
  const std::map<int32_t, std::string>& files_;
  const std::string& name_;
  ByteSink& sink_;
  Reporter& report_;
  std::map<int32_t, std::string> names_;
  std::set<std::string> used_;
  std::set<int32_t> declared_;
};

}  // namespace

void writeInstSource(const BankFile& bank, const std::map<int32_t, std::string>& waveFiles,
                     const std::string& name, ByteSink& sink, Reporter& report) {
  InstWriter(bank, waveFiles, name, sink, report).run();
}

}  // namespace zaft
