#include "export/output_plan.h"

#include "util/atomic_file.h"
#include "util/fatal.h"
#include "util/paths.h"

namespace zaft {

std::string OutputPlan::pathIn(const std::string& folder, const std::string& name) {
  if (folder.empty() || isAbsolutePath(name)) return name;
  std::string path = folder;
  if (!isPathSeparator(path.back())) path += '/';
  return path + name;
}

OutputPlan::Place OutputPlan::placeOf(const std::string& path) const {
  const size_t slash = lastSeparator(path);
  // A root ("/", "C:\\") keeps its separator: "C:" alone is a working folder.
  const bool root = slash == 0 || (kBackslashSeparates && slash == 2 && path[1] == ':');
  const std::string folder = slash == std::string::npos ? std::string(1, '.')
                             : root                      ? path.substr(0, slash + 1)
                                                         : path.substr(0, slash);
  const std::string name = comparableName(slash == std::string::npos ? path : path.substr(slash + 1));
  auto cached = folders_.find(folder);
  if (cached == folders_.end()) {
    const FileIdentity found = identityOf(folder);
    // A folder that does not exist yet is looked at again next time.
    if (!found.known) return {false, 0, 0, folder, name};
    cached = folders_.emplace(folder, found).first;
  }
  const FileIdentity& id = cached->second;
  if (id.known) return {true, id.device, id.inode, std::string(), name};
  return {false, 0, 0, folder, name};
}

const PlannedFile* OutputPlan::holder(const std::string& path) const {
  const auto found = claims_.find(placeOf(path));
  return found == claims_.end() ? nullptr : &found->second;
}

void OutputPlan::claim(PlannedFile& file, const PathStatus& status) {
  const size_t slash = lastSeparator(file.path);
  const std::string last = slash == std::string::npos ? file.path : file.path.substr(slash + 1);
  if (isRom(status)) {
    // "/o" just before the ROM's name takes the ROM itself as the header
    // name; writing it would erase the user's ROM.
    file.refusal = formatText("Refusing to write %s %s: it is the ROM file\n", file.what.c_str(),
                              file.path.c_str());
  } else if (const PlannedFile* earlier = holder(file.path)) {
    file.refusal = formatText("Refusing to write %s %s: it would replace the %s %s of this run\n",
                              file.what.c_str(), file.path.c_str(), earlier->what.c_str(),
                              earlier->path.c_str());
  } else if (last.empty() || last == "." || last == ".." || status.folder) {
    file.refusal = formatText("Refusing to write %s %s: a folder of that name is in the way\n",
                              file.what.c_str(), file.path.c_str());
  } else {
    claims_.emplace(placeOf(file.path), file);
  }
}

void OutputPlan::release(const PlannedFile& file) {
  if (file.refused() || file.path.empty()) return;
  const auto found = claims_.find(placeOf(file.path));
  if (found != claims_.end() && found->second.path == file.path) claims_.erase(found);
}

BankOutputs OutputPlan::planBankFile(const std::string& folder, const InstrumentSet& set,
                                     bool walkStopped, bool withWaves,
                                     const std::vector<OutputRequest>& requests) {
  BankOutputs outputs;
  // One look at the file system per name tried.
  PathStatus status;
  const auto taken = [&](const std::string& name) {
    const std::string path = pathIn(folder, name);
    status = statusOf(path);
    return holder(path) != nullptr || isRom(status);
  };
  if (withWaves) {
    // Different numbers can print alike (bank 1, instrument 0, sound 123 and
    // bank 10, instrument 1, sound 23 both give A1000123.WAV; so do a bank's
    // percussion and its first instrument): a later wave never replaces an
    // earlier one, nor the ROM.
    for (const Sample& sample : set.samples) {
      PlannedFile file;
      file.what = ".wav file";
      file.name = sample.fileName;
      if (taken(file.name)) {
        const bool rom = isRom(status);
        const std::string stem = file.name.substr(0, file.name.size() - 4);
        std::string distinct;
        for (int n = 1;; ++n) {
          distinct = formatText("%s_%d.WAV", stem.c_str(), n);
          if (!taken(distinct)) break;
        }
        file.notice =
            rom ? formatText("Warning: %s is the ROM file itself; this wave is written as %s\n",
                             file.name.c_str(), distinct.c_str())
                : formatText(
                      "Warning: %s was already written in this run; this wave is written as %s\n",
                      file.name.c_str(), distinct.c_str());
        file.name = distinct;
      }
      file.path = pathIn(folder, file.name);
      claim(file, status);
      // A wave whose name is refused keeps it all the same, so that the
      // waves after it get the names they would have had.
      if (file.refused()) claims_.emplace(placeOf(file.path), file);
      outputs.waves.push_back(file);
    }
  }
  outputs.files.resize(requests.size());
  if (walkStopped) return outputs;
  for (size_t k = 0; k < requests.size(); ++k) {
    const OutputRequest& request = requests[k];
    if (request.needsSamples && !withWaves) continue;
    PlannedFile& file = outputs.files[k];
    file.what = request.what;
    file.name = request.name;
    file.path = pathIn(folder, request.name);
    claim(file);
  }
  return outputs;
}

std::vector<PlannedFile> OutputPlan::planSequences(const std::string& folder, size_t count) {
  std::vector<PlannedFile> files(count);
  for (size_t k = 0; k < count; ++k) {
    files[k].what = "MIDI file";
    files[k].name = formatText("%03zu.mid", k);
    files[k].path = pathIn(folder, files[k].name);
    claim(files[k]);
  }
  return files;
}

PlannedFile OutputPlan::planFile(const std::string& folder, const std::string& name,
                                 const std::string& what) {
  PlannedFile file;
  file.what = what;
  file.name = name;
  file.path = pathIn(folder, name);
  claim(file);
  return file;
}

std::vector<PlannedFile> OutputPlan::planCompanions(const std::string& folder,
                                                    const std::vector<std::string>& names,
                                                    const std::string& what) {
  std::vector<PlannedFile> files;
  PathStatus status;
  const auto taken = [&](const std::string& name) {
    const std::string path = pathIn(folder, name);
    status = statusOf(path);
    return holder(path) != nullptr || isRom(status);
  };
  for (const std::string& name : names) {
    PlannedFile file;
    file.what = what;
    file.name = name;
    if (taken(name)) {
      const bool rom = isRom(status);
      const size_t dot = name.rfind('.');
      const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
      const std::string ext = dot == std::string::npos ? std::string() : name.substr(dot);
      std::string distinct;
      for (int n = 1;; ++n) {
        distinct = formatText("%s_%d%s", stem.c_str(), n, ext.c_str());
        if (!taken(distinct)) break;
      }
      file.notice =
          rom ? formatText("Warning: %s is the ROM file itself; this wave is written as %s\n",
                           name.c_str(), distinct.c_str())
              : formatText("Warning: %s was already written in this run; this wave is written as "
                           "%s\n",
                           name.c_str(), distinct.c_str());
      file.name = distinct;
    }
    file.path = pathIn(folder, file.name);
    claim(file, status);
    files.push_back(file);
  }
  return files;
}

PlannedFile OutputPlan::planIndex(const std::string& folder, const std::string& name) {
  return planFile(folder, name, "JSON file");
}

}  // namespace zaft
