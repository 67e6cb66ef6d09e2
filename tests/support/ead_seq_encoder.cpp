#include "support/ead_seq_encoder.h"

#include <map>
#include <sstream>
#include <stdexcept>

namespace zaft::test {

namespace {

// Operand kinds: b a number added to the opcode's low bits, u an unsigned
// byte, s a signed byte, w a 16-bit word, a a 16-bit address, v a length.
struct Command {
  uint8_t op;
  const char* operands;
};

const std::map<std::string, Command>& commands() {
  static const std::map<std::string, Command> table = {
      // the sequence script
      {"seq_end", {0xFF, ""}}, {"seq_delay1", {0xFE, ""}}, {"seq_delay", {0xFD, "v"}},
      {"seq_call", {0xFC, "a"}}, {"seq_jump", {0xFB, "a"}}, {"seq_beqz", {0xFA, "a"}},
      {"seq_bltz", {0xF9, "a"}}, {"seq_loop", {0xF8, "u"}}, {"seq_loopend", {0xF7, ""}},
      {"seq_bgez", {0xF5, "a"}}, {"seq_transpose", {0xDF, "s"}}, {"seq_transposerel", {0xDE, "s"}},
      {"seq_settempo", {0xDD, "u"}}, {"seq_addtempo", {0xDC, "s"}}, {"seq_setvol", {0xDB, "u"}},
      {"seq_changevol", {0xDA, "s"}}, {"seq_initchannels", {0xD7, "w"}}, {"seq_disablechannels", {0xD6, "w"}},
      {"seq_setshortnotevelocitytable", {0xD2, "a"}}, {"seq_setshortnotedurationtable", {0xD1, "a"}},
      {"seq_setval", {0xCC, "u"}}, {"seq_bitand", {0xC9, "u"}}, {"seq_subtract", {0xC8, "u"}},
      {"seq_testchdisabled", {0x00, "b"}}, {"seq_getvariation", {0x80, "b"}},
      {"seq_startchannel", {0x90, "ba"}},
      // channel scripts
      {"chan_end", {0xFF, ""}}, {"chan_delay1", {0xFE, ""}}, {"chan_delay", {0xFD, "v"}},
      {"chan_call", {0xFC, "a"}}, {"chan_jump", {0xFB, "a"}}, {"chan_beqz", {0xFA, "a"}},
      {"chan_bltz", {0xF9, "a"}}, {"chan_loop", {0xF8, "u"}}, {"chan_loopend", {0xF7, ""}},
      {"chan_break", {0xF6, ""}}, {"chan_bgez", {0xF5, "a"}}, {"chan_hang", {0xF3, ""}},
      {"chan_setvolscale", {0xE0, "u"}}, {"chan_setvol", {0xDF, "u"}}, {"chan_freqscale", {0xDE, "w"}},
      {"chan_setpan", {0xDD, "u"}}, {"chan_setpanmix", {0xDC, "u"}}, {"chan_transpose", {0xDB, "s"}},
      {"chan_setreverb", {0xD4, "u"}}, {"chan_pitchbend", {0xD3, "s"}}, {"chan_setval", {0xCC, "u"}},
      {"chan_bitand", {0xC9, "u"}}, {"chan_subtract", {0xC8, "u"}}, {"chan_setbank", {0xC6, "u"}},
      {"chan_largenoteson", {0xC4, ""}}, {"chan_largenotesoff", {0xC3, ""}}, {"chan_setinstr", {0xC1, "u"}},
      {"chan_testlayerfinished", {0x00, "b"}}, {"chan_startchannel", {0x10, "ba"}},
      {"chan_disablechannel", {0x20, "b"}}, {"chan_ioreadval", {0x80, "b"}}, {"chan_iowriteval", {0x70, "b"}},
      {"chan_setlayer", {0x90, "ba"}}, {"chan_freelayer", {0xA0, "b"}},
      // layer scripts
      {"layer_end", {0xFF, ""}}, {"layer_call", {0xFC, "a"}}, {"layer_jump", {0xFB, "a"}},
      {"layer_loop", {0xF8, "u"}}, {"layer_loopend", {0xF7, ""}}, {"layer_delay", {0xC0, "v"}},
      {"layer_setshortnotevelocity", {0xC1, "u"}}, {"layer_transpose", {0xC2, "s"}},
      {"layer_setshortnotedefaultplaypercentage", {0xC3, "v"}}, {"layer_setinstr", {0xC6, "u"}},
      {"layer_portamento", {0xC7, "uuv"}}, {"layer_setshortnoteduration", {0xC9, "u"}},
      {"layer_setpan", {0xCA, "u"}}, {"layer_setshortnotevelocityfromtable", {0xD0, "b"}},
      {"layer_setshortnotedurationfromtable", {0xE0, "b"}},
      // large notes (semitone in the low 6 bits): length, velocity, gate
      {"layer_note0", {0x00, "bvuu"}}, {"layer_note1", {0x40, "bvu"}}, {"layer_note2", {0x80, "buu"}},
      // short notes
      {"layer_smallnote0", {0x00, "bv"}}, {"layer_smallnote1", {0x40, "b"}}, {"layer_smallnote2", {0x80, "b"}},
  };
  return table;
}

std::string trim(const std::string& s) {
  const size_t a = s.find_first_not_of(" \t\r");
  if (a == std::string::npos) return "";
  return s.substr(a, s.find_last_not_of(" \t\r") - a + 1);
}

bool isNumber(const std::string& s) { return !s.empty() && (std::isdigit(static_cast<unsigned char>(s[0])) || s[0] == '-'); }

}  // namespace

std::vector<uint8_t> eadSequence(const std::string& script) {
  std::vector<uint8_t> out;
  std::map<std::string, uint16_t> labels;
  std::vector<std::pair<size_t, std::string>> fixups;
  std::string text = script;
  for (char& c : text) {
    if (c == ';') c = '\n';
  }
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    line = trim(line);
    for (size_t colon; (colon = line.find(':')) != std::string::npos;) {
      labels[trim(line.substr(0, colon))] = static_cast<uint16_t>(out.size());
      line = trim(line.substr(colon + 1));
    }
    if (line.empty()) continue;
    const size_t space = line.find_first_of(" \t");
    const std::string name = line.substr(0, space);
    std::vector<std::string> args;
    if (space != std::string::npos) {
      std::istringstream rest(line.substr(space + 1));
      for (std::string a; std::getline(rest, a, ',');) args.push_back(trim(a));
    }
    const auto number = [&](const std::string& a) { return std::stol(a, nullptr, 0); };
    if (name == ".byte") {
      for (const std::string& a : args) out.push_back(static_cast<uint8_t>(number(a)));
      continue;
    }
    const auto it = commands().find(name);
    if (it == commands().end()) throw std::invalid_argument("unknown command " + name);
    const std::string kinds = it->second.operands;
    if (args.size() != kinds.size()) throw std::invalid_argument("operands of " + line);
    const size_t opAt = out.size();
    out.push_back(it->second.op);
    for (size_t k = 0; k < kinds.size(); ++k) {
      const std::string& a = args[k];
      switch (kinds[k]) {
        case 'b': out[opAt] = static_cast<uint8_t>(out[opAt] + number(a)); break;
        case 'u': case 's': out.push_back(static_cast<uint8_t>(number(a))); break;
        case 'w': out.insert(out.end(), {static_cast<uint8_t>(number(a) >> 8), static_cast<uint8_t>(number(a))}); break;
        case 'v': {
          const long v = number(a);
          if (v < 0x80) {
            out.push_back(static_cast<uint8_t>(v));
          } else {
            out.insert(out.end(), {static_cast<uint8_t>(0x80 | v >> 8), static_cast<uint8_t>(v)});
          }
          break;
        }
        case 'a':
          if (isNumber(a)) {
            out.insert(out.end(), {static_cast<uint8_t>(number(a) >> 8), static_cast<uint8_t>(number(a))});
          } else {
            fixups.emplace_back(out.size(), a);
            out.insert(out.end(), {0, 0});
          }
          break;
      }
    }
  }
  for (const auto& [at, label] : fixups) {
    const auto it = labels.find(label);
    if (it == labels.end()) throw std::invalid_argument("unknown label " + label);
    out[at] = static_cast<uint8_t>(it->second >> 8);
    out[at + 1] = static_cast<uint8_t>(it->second);
  }
  return out;
}

}  // namespace zaft::test
