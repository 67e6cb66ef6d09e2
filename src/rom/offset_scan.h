// The offset-guessing scan: walks the whole ROM in 16-byte steps for places
// that look like a bank file (with a plausible first bank), and after each
// for a run of 16 plausible ADPCM frames a little further on.
#pragma once

namespace zaft {

struct RunContext;

// Reports every candidate on the error stream, keeps the first control-block
// candidate (non-zero) as ctlOffset and, unless /t was given, the first
// sample-block candidate as tblOffset; records all of them in
// ctx.scanCandidates. Ends the run when no control block was kept.
void guessOffsets(RunContext& ctx);

}  // namespace zaft
