// /r: each sequence of a sequence bank rendered as the console plays it,
// with one bank of one bank file, to a 16-bit stereo WAV file beside its
// MIDI file (and, with stems=1, one per channel that plays). A render is
// run twice: once to learn its length (so that the file's size is known
// and within the output limit before its first byte), once to write it.
#include "driver/bank_run.h"
#include "driver/summary.h"

#include "audio/render/sequence_player.h"
#include "export/render_wav.h"
#include "util/endian.h"
#include "util/fatal.h"

namespace zaft {

struct Run::RenderBank {
  BankFile file;
  int32_t ctlOffset = 0;
  int32_t index = 0;
  int64_t tblOffset = 0;
  RenderSettings settings;
};

namespace {

FxType fxOf(const std::string& name) {
  if (name == "smallroom") return FxType::SmallRoom;
  if (name == "bigroom") return FxType::BigRoom;
  if (name == "chorus") return FxType::Chorus;
  if (name == "flange") return FxType::Flange;
  if (name == "echo") return FxType::Echo;
  return FxType::None;
}

const ALBank* bankIn(const BankFile& file, int index) {
  const ALBankFile* banks =
      file.table.recordAt<ALBankFile>(file.table.find(static_cast<uint32_t>(file.ctlOffset)));
  if (banks == nullptr || index < 0 || index >= static_cast<int>(banks->banks.size())) return nullptr;
  return file.table.recordAt<ALBank>(banks->banks[static_cast<size_t>(index)]);
}

}  // namespace

void Run::prepareRender(const std::vector<BankFileResult>& banks) {
  const RenderRequest& r = *s_.render;
  enter(std::nullopt);
  BankJob job;
  bool found = false;
  for (const BankFileResult& d : banks) {
    if (d.job.place || !d.outcome.recognized) continue;
    if (r.bankOffset ? d.job.ctlOffset == *r.bankOffset : true) {
      job = d.job;
      found = true;
      break;
    }
  }
  if (!found && r.bankOffset) {
    job.ctlOffset = *r.bankOffset;
    searchWhenGuessFails(job);
    found = true;
  } else if (!found) {
    // /m alone: the ROM's first bank file, found as a single run finds it.
    for (const ScanCandidate& c : findBankFiles(romFile_).candidates) {
      job.ctlOffset = c.ctlOffset;
      if (c.tblOffset) job.tbl = SampleBlock{*c.tblOffset, OffsetSource::Scanned};
      searchWhenGuessFails(job);
      found = true;
      break;
    }
  }
  const auto none = [&](const std::string& why) {
    report_.errf("No renders: %s\n", why.c_str());
  };
  if (!found) return none("no bank file found to play the sequences with");
  if (!job.tbl) {
    return none(formatText("no sample block fits the bank file at 0x%06X",
                           static_cast<unsigned>(job.ctlOffset)));
  }
  NullReporter quiet;
  auto bank = std::make_shared<RenderBank>();
  bank->file = walkBankFile(romFile_, job.ctlOffset, limits(false), quiet);
  const ALBank* played = bankIn(bank->file, r.bankIndex);
  if (!bank->file.recognized || played == nullptr) {
    return none(formatText("the bank file at 0x%06X has no bank %d",
                           static_cast<unsigned>(job.ctlOffset), r.bankIndex));
  }
  bank->ctlOffset = job.ctlOffset;
  bank->index = r.bankIndex;
  bank->tblOffset = job.tbl->offset;
  RenderSettings& rs = bank->settings;
  rs.synth.outputRate = r.rate.value_or(played->sampleRate);
  if (rs.synth.outputRate < 1000 || rs.synth.outputRate > 192000) {
    return none(formatText("bank %d of the bank file at 0x%06X plays at %d Hz; give rate=HZ",
                           r.bankIndex, static_cast<unsigned>(job.ctlOffset), played->sampleRate));
  }
  rs.synth.voices = r.voices;
  rs.synth.fx = fxOf(r.fx);
  rs.loops = r.loops;
  rs.seconds = r.seconds;
  report_.errf("Rendering with bank %d of the bank file at 0x%06X (.tbl 0x%06X) at %d Hz\n",
               r.bankIndex, static_cast<unsigned>(job.ctlOffset),
               static_cast<unsigned>(job.tbl->offset), rs.synth.outputRate);
  render_ = std::move(bank);
}

RenderResult Run::measureRender(const uint8_t* bytes, int64_t len, bool standard,
                                std::optional<int> channel) const {
  const RenderBank& bank = *render_;
  RenderSettings rs = bank.settings;
  rs.onlyChannel = channel;
  return zaft::renderSequence(romFile_, bank.file, bank.index, bank.tblOffset, bytes, len, standard,
                              rs, [](const int16_t*, int32_t) {});
}

void Run::renderSequence(const std::string& folder, size_t index, const uint8_t* bytes, int64_t len,
                         bool standard, const RenderResult& wholeMeasured, int& files) {
  const RenderBank& bank = *render_;
  const auto renderOne = [&](std::optional<int> channel, const std::string& name) {
    RenderSettings rs = bank.settings;
    rs.onlyChannel = channel;
    const RenderResult measured =
        channel ? measureRender(bytes, len, standard, channel) : wholeMeasured;
    const PlannedFile file = plan_.planFile(folder, name, "rendered WAV file");
    if (measured.problem && !channel) {
      report_.errf("Warning: %s: the render stops at %.3f s: %s\n", file.path.c_str(),
                   measured.problem->seconds, measured.problem->what.c_str());
    }
    int64_t frames = measured.frames;
    if (frames > kMaxStereoWavFrames) {
      report_.errf("Warning: %s: cut to the %lld samples a WAV file holds\n", file.path.c_str(),
                   static_cast<long long>(kMaxStereoWavFrames));
      frames = kMaxStereoWavFrames;
    }
    if (file.refused()) {
      report_.err(file.refusal);
      return measured;
    }
    budget_.require(stereoWavBytes(frames));
    const std::string failure = writeOutput(
        files_, file,
        [&](ByteSink& sink) {
          writeStereoWavHeader(sink, rs.synth.outputRate, frames);
          int64_t left = frames;
          zaft::renderSequence(romFile_, bank.file, bank.index, bank.tblOffset, bytes, len, standard,
                               rs, [&](const int16_t* pcm, int32_t count) {
                                 const int64_t n = std::min<int64_t>(count, left);
                                 left -= n;
                                 for (int64_t done = 0; done < n;) {
                                   const int64_t piece = std::min<int64_t>(n - done, 1 << 16);
                                   uint8_t* out = sink.extend(static_cast<size_t>(4 * piece));
                                   for (int64_t i = 0; i < 2 * piece; ++i) {
                                     storeLE16(out + 2 * i, static_cast<uint16_t>(pcm[2 * done + i]));
                                   }
                                   done += piece;
                                 }
                               });
          return std::string();
        },
        report_);
    if (!failure.empty()) throw FatalError(failure);
    ++files;
    report_.progressf("Rendered %s (%.1f s)\n", file.path.c_str(),
                      static_cast<double>(frames) / rs.synth.outputRate);
    return measured;
  };
  const RenderResult whole = renderOne(std::nullopt, formatText("%03zu.wav", index));
  if (!s_.render->stems) return;
  for (int c = 0; c < 16; ++c) {
    if ((whole.channelsSounded >> c) & 1) {
      renderOne(c, formatText("%03zu_ch%02d.wav", index, c + 1));
    }
  }
}

}  // namespace zaft
