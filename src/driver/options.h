// The command line, read once into Settings. An option is "/" plus one
// case-sensitive letter, with its value (when it takes one) in the next
// argument; the last argument is the ROM file name and is looked at as an
// option too. Only the first occurrence of an option counts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bank/sample_block.h"
#include "util/reporter.h"

namespace zaft {

// Threads of a run: at most this many unless /p asks for more, at most
// kMaxThreads.
constexpr int32_t kDefaultThreads = 4;
constexpr int32_t kMaxThreads = 64;

// /r: how sequences are rendered as the console plays them.
struct RenderRequest {
  std::optional<int32_t> bankOffset;  // bank=OFFSET: its control block; none: the run's first
  int32_t bankIndex = 0;              // bank=OFFSET:N
  std::optional<int32_t> rate;        // rate=HZ; none: the bank's sampleRate
  std::string fx = "none";            // fx=none|smallroom|bigroom|chorus|flange|echo
  int32_t voices = 16;                // voices=N
  int32_t loops = 2;                  // loops=N
  double seconds = 600;               // seconds=S
  bool stems = false;                 // stems=1
};

// Reads /r's value ("default" or key=value pairs separated by commas); a
// key or value it does not take ends the run, naming it.
RenderRequest parseRenderSettings(const std::string& text);

struct Settings {
  std::string romPath;  // the last argument
  // /c: present with an acceptable value (a value that is no number reads
  // as 0 and still counts; "0x" alone stores nothing but counts).
  bool ctlGiven = false;
  int32_t ctlOffset = 0;
  // /t: present with an acceptable value.
  std::optional<SampleBlock> tbl;  // /t
  bool verbose = true;                     // /q clears it
  int32_t fieldWidth = 10;                 // /f
  std::string nameTemplate = "%t%2i%2s";   // /n, at most 31 characters
  double rateRatio = 1.0;                  // /a
  std::string headerName = "CONTROL.H";    // /o, at most 127 characters
  std::string outputDir;                   // /d; empty for the current folder
  bool extractAll = false;                 // /x: every bank file and every sequence bank
  bool extractSequences = false;           // /m: every sequence bank
  bool samplerChunk = false;               // /l
  std::string jsonName;                    // /j; empty for none
  std::string soundfontName;               // /s; empty for none
  std::string sfzName;                     // /z; empty for none
  std::string instName;                    // /i; empty for none
  bool searchSampleBlock = false;          // /g
  bool unlimitedOutput = false;            // /u: no limit on what the run writes
  int32_t threads = 1;                     // /p; without it one per core, at most kDefaultThreads
  std::optional<RenderRequest> render;     // /r
};

// Reads every option of `args` (entry 0 the tool's own name, at least one
// more). Values out of range, negative offsets and names too long end the
// run (FatalError); a /o value that begins with "/" is warned about.
Settings parseOptions(const std::vector<std::string>& args, Reporter& report);

// The usage text's lines for the options beyond the first seven, one
// option after another as the option table lists them.
std::string optionUsageLines();

// Every option the table takes, in its order, as the usage text shows it:
// "/" and the letter, then a blank and the value's name when it takes one
// ("/d dir", "/x").
std::vector<std::string> optionForms();

// The option lookup. findOption gives the index of the first argument that
// is "/" followed by exactly `name`, or 0. The value readers give back that
// index when the option has an acceptable value (a next argument that does
// not begin with "/"), else 0 and leave the destination untouched.
int findOption(const std::vector<std::string>& args, const char* name);
int optionText(const std::vector<std::string>& args, const char* name, std::string& dest);
// "0x" prefix: hexadecimal (optional sign); no hex digit after it stores
// nothing but still counts. Anything else: decimal up to the first
// non-digit, 0 when there is none. A number outside the signed 32-bit range
// ends the run with a message naming the option and the value.
int optionInt(const std::vector<std::string>& args, const char* name, int32_t& dest);
// A decimal real (sign, digits, fraction, exponent); 0.0 when the value does
// not begin with a number. A value too large for a double ends the run.
int optionReal(const std::vector<std::string>& args, const char* name, double& dest);

// The value parsers on their own. parseOptionInt returns false when the value
// lies outside the signed 32-bit range; `stored` tells whether dest was set.
bool parseOptionInt(const std::string& text, int32_t& dest, bool& stored);
bool parseOptionReal(const std::string& text, double& dest);

}  // namespace zaft
