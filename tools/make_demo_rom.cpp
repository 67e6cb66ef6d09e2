// Writes the demo ROM: a 4 MiB cartridge image with two bank files of
// synthesized instruments and a sequence bank of pieces for them, for trying
// the tool out and listening to what it rips. Usage: make_demo_rom OUTPUT.z64
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "support/demo_rom.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_demo_rom OUTPUT.z64\n");
    return 2;
  }
  const zaft::test::DemoRom demo = zaft::test::buildDemoRom();
  const char* path = argv[1];
  FILE* f = std::fopen(path, "wb");
  if (!f) {
    std::fprintf(stderr, "make_demo_rom: cannot create %s: %s\n", path, std::strerror(errno));
    return 1;
  }
  const size_t written = std::fwrite(demo.bytes.data(), 1, demo.bytes.size(), f);
  const bool closed = std::fclose(f) == 0;
  if (written != demo.bytes.size() || !closed) {
    std::fprintf(stderr, "make_demo_rom: cannot write %s\n", path);
    return 1;
  }
  std::printf("%s: %zu bytes\n", path, demo.bytes.size());
  for (size_t i = 0; i < demo.bankFiles.size(); ++i) {
    const zaft::test::DemoBankFile& file = demo.bankFiles[i];
    std::printf("bank file %zu: control block 0x%06zX, sample block 0x%06zX, %zu waves\n", i + 1,
                file.ctlOffset, file.tblOffset, file.waves.size());
    for (const zaft::test::DemoWave& w : file.waves) {
      std::printf("  %-14s %5d Hz  %s\n", w.fileName.c_str(), w.sampleRate, w.what.c_str());
    }
  }
  std::printf("sequence bank: 0x%06zX, %zu sequences\n", demo.sequenceBankAt, demo.songs.size());
  for (size_t i = 0; i < demo.songs.size(); ++i) {
    std::printf("  %03zu.mid  %s\n", i, demo.songs[i].what.c_str());
  }
  return 0;
}
