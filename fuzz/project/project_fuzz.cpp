// The project-file reader on arbitrary bytes. Beyond not crashing: what a load gives, written and
// read again, must settle on one file (a value that needs protecting may change once, on the first
// write, never afterwards).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/paths.h"
#include "project/projectfile.h"

namespace {

class TNullLog : public kelvane::TMessageLog {
 public:
  void LogMessage(const std::string&, int) override {}
};

// Files of this process, removed when the fuzzer ends. Memory-backed when the system has
// /dev/shm: every run writes three files, and the writer syncs them to disk.
struct TScratch {
  std::string base;
  TScratch() {
    const std::string folder =
        kelvane::DirectoryExists("/dev/shm") ? "/dev/shm/" : kelvane::TempFolder();
    base = folder + "fuzz_project_" + std::to_string(getpid());
  }
  ~TScratch() {
    for (const char* suffix : {".KelvaneProj", "_1.KelvaneProj", "_2.KelvaneProj"})
      std::remove((base + suffix).c_str());
  }
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kelvane;
  static const TScratch scratch;
  const std::string& base = scratch.base;
  const std::string input = base + ".KelvaneProj";
  const std::string first = base + "_1.KelvaneProj";
  const std::string second = base + "_2.KelvaneProj";
  std::ofstream(input, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));

  TNullLog log;
  TUpdateProject project;
  const bool complete = ReadProjectFile(project, input, &log);
  if (project.loading) std::abort();
  if (!complete) return 0;
  if (project.baseFileChoices.size() != static_cast<std::size_t>(project.UpdateFileCount()))
    std::abort();
  for (int i = 0; i < static_cast<int>(project.files.size()); ++i) project.EntryDisplayText(i);

  WriteProjectFile(project, first);
  TUpdateProject again;
  if (!ReadProjectFile(again, first, &log)) std::abort();
  WriteProjectFile(again, first);
  TUpdateProject third;
  if (!ReadProjectFile(third, first, &log)) std::abort();
  WriteProjectFile(third, second);
  if (ReadAll(first) != ReadAll(second)) std::abort();
  return 0;
}
