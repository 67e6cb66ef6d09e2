// Test support: a tiny assembler for EAD sequences, so tests read as the
// script they play. One command a line (or separated by ';'), named as the
// driver's disassemblers name them, operands separated by commas:
//
//   seq_initchannels 0x0001
//   seq_startchannel 0, chan0
//   seq_delay 96 ; seq_end
//   chan0: chan_setinstr 3 ; chan_setlayer 0, layer0 ; chan_end
//   layer0: layer_note1 39, 48, 100 ; layer_end
//
// "name:" defines a label; an operand that is not a number is a label, for
// a 16-bit address. Numbers are decimal or 0x hex, negative for signed
// bytes. Lengths ("var") take one byte below 0x80, else two. ".byte n"
// places a raw byte. An unknown command or label throws std::invalid_argument.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zaft::test {

std::vector<uint8_t> eadSequence(const std::string& script);

}  // namespace zaft::test
