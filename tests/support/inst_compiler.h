// Test support: a small instrument compiler, written from the documented
// rules, that builds a bank file again from an .inst source and its AIFC
// files. Only the order of the `bank` declarations decides the layout; a
// record is written when first reached, after everything it points to (a
// bank's percussion instrument, then its instruments by number, then their
// sounds in order; per sound its envelope, key map and wave table; an ADPCM
// wave's loop and book before the wave table itself). Declarations of one
// name are one record; a wave table is known by the file its use() names.
// Every control-block record starts 8-aligned and is zero-padded to 8; in
// the sample block each wave starts 8-aligned, zero-padded, with `len` its
// SSND data's size. Flags are written 0; instCount is the highest
// instrument number plus one.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "support/inst_reader.h"

namespace zaft::test {

struct CompiledBank {
  std::vector<uint8_t> ctl;
  std::vector<uint8_t> tbl;
  std::string error;  // empty when the source compiled
};

CompiledBank compileInst(const InstSource& source, const std::map<std::string, AifcFile>& files);

}  // namespace zaft::test
