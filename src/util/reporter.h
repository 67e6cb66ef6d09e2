// Every message of a run goes through a Reporter: progress lines and counts
// to standard output, settings, findings, warnings and fatal messages to
// standard error. The console one writes to two stdio streams, the null one
// discards (probes), the collecting one keeps the lines in order (tests, and
// work whose messages are printed later in a fixed order).
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "util/fatal.h"

namespace zaft {

class Reporter {
 public:
  explicit Reporter(bool verbose = true) : verbose_(verbose) {}
  virtual ~Reporter() = default;
  Reporter(const Reporter&) = delete;
  Reporter& operator=(const Reporter&) = delete;

  // /q clears it: progress lines and counts are dropped.
  bool verbose() const { return verbose_; }
  void setVerbose(bool verbose) { verbose_ = verbose; }

  // Standard output whatever /q says (the bank-file revision complaint).
  virtual void out(std::string_view text) = 0;
  // Standard error.
  virtual void err(std::string_view text) = 0;
  // Pushes a progress line that ends in "\r" alone out to the console now.
  virtual void flush() {}

  // Standard output while verbose.
  void progress(std::string_view text) {
    if (verbose_) out(text);
  }

  void outf(const char* format, ...) ZAFT_PRINTF(2, 3);
  void errf(const char* format, ...) ZAFT_PRINTF(2, 3);
  void progressf(const char* format, ...) ZAFT_PRINTF(2, 3);

 private:
  bool verbose_;
};

// Writes to two stdio streams. Standard output is pushed out before anything
// goes to standard error, so on a console each message appears after the
// progress line it interrupts.
class ConsoleReporter : public Reporter {
 public:
  ConsoleReporter(FILE* out, FILE* err, bool verbose = true)
      : Reporter(verbose), out_(out), err_(err) {}
  void out(std::string_view text) override;
  void err(std::string_view text) override;
  void flush() override;

 private:
  FILE* out_;
  FILE* err_;
  bool outPending_ = false;
};

class NullReporter : public Reporter {
 public:
  explicit NullReporter(bool verbose = false) : Reporter(verbose) {}
  void out(std::string_view) override {}
  void err(std::string_view) override {}
};

// Keeps every message, in order, with the stream it was meant for.
class CollectingReporter : public Reporter {
 public:
  struct Line {
    bool toErr;
    std::string text;
  };
  explicit CollectingReporter(bool verbose = true) : Reporter(verbose) {}
  void out(std::string_view text) override { lines_.push_back({false, std::string(text)}); }
  void err(std::string_view text) override { lines_.push_back({true, std::string(text)}); }

  const std::vector<Line>& lines() const { return lines_; }
  std::string outText() const;
  std::string errText() const;
  // Hands every message on, in order; flushes are not kept.
  void replay(Reporter& to) const;
  void clear() { lines_.clear(); }

 private:
  std::vector<Line> lines_;
};

}  // namespace zaft
