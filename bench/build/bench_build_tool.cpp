// Helper of bench/build/run.
//   bench_build_tool make <dir>            writes <dir>/src (about 200 files, 100 MB),
//                                          <dir>/Bench.KelvaneProj publishing to <dir>/pub and
//                                          <dir>/Open.KelvaneProj, which fails validation
//   bench_build_tool cab <out.CAB> <files> packs the files with LZX (lowest memory), as a build
//                                          does, and nothing else
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "cabinet/cabfile.h"
#include "project/projectfile.h"
#include "project/updateproject.h"

namespace {

namespace fs = std::filesystem;
using namespace kelvane;

// Bytes that compress like programs and data do: repeated phrases, counters and noise.
std::string MakeContent(std::size_t size, std::uint32_t seed) {
  std::string d;
  d.reserve(size);
  std::uint32_t x = seed * 2654435761u + 1;
  auto next = [&x] {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return x;
  };
  while (d.size() < size) {
    const std::uint32_t r = next();
    const std::size_t n = std::min<std::size_t>(64 + r % 512, size - d.size());
    switch (r % 4) {
      case 0:  // a copy of something seen before
        if (d.size() > 4096) {
          const std::size_t from = d.size() - 1 - next() % 4000;
          for (std::size_t i = 0; i < n; ++i) d += d[from + i % (d.size() - from)];
          break;
        }
        [[fallthrough]];
      case 1:
        for (std::size_t i = 0; i < n; ++i) d += static_cast<char>('a' + (next() % 16));
        break;
      case 2:
        for (std::size_t i = 0; i < n; ++i) d += static_cast<char>(i & 0x3F);
        break;
      default:
        for (std::size_t i = 0; i < n; ++i) d += static_cast<char>(next());
        break;
    }
  }
  return d;
}

std::string WriteData(const std::string& path, std::size_t size, std::uint32_t seed) {
  std::ofstream(path, std::ios::binary) << MakeContent(size, seed);
  return path;
}

int Make(const std::string& dir) {
  fs::create_directories(dir + "/src");
  TUpdateProject p;
  p.Clear();
  p.unc = true;
  p.uncdir = dir + "/pub";
  std::uint64_t total = 0;
  auto add = [&](int level, const std::string& url) -> TFileObject& {
    p.files.push_back(TFileEntry{level, std::make_unique<TFileObject>(), "", "", ""});
    TFileObject& f = *p.files.back().file;
    if (level == 0)
      ReadFileFacts(f, url);
    else
      f.url = url;
    return f;
  };
  std::uint32_t seed = 1;
  auto file = [&](const std::string& name, std::size_t size) {
    total += size;
    return WriteData(dir + "/src/" + name, size, seed++);
  };
  // 180 plain files, every third an application component (published as its _NEW copy).
  for (int i = 0; i < 180; ++i) {
    const std::size_t size = (180 + (i * 37) % 650) * 1024;
    TFileObject& f = add(0, file("file" + std::to_string(i) + ".bin", size));
    f.includeappcomps = i % 3 == 0;
  }
  // Two CAB groups of 10 files each; the head's own file is its first member.
  for (int g = 0; g < 2; ++g) {
    const std::string head = file("group" + std::to_string(g) + ".dll", 600 * 1024);
    add(0, head).compressed = 1;
    add(1, head);
    for (int m = 1; m < 10; ++m)
      add(1, file("group" + std::to_string(g) + "_" + std::to_string(m) + ".dat", 400 * 1024));
  }
  p.RebuildApplicationComponents();
  WriteProjectFile(p, dir + "/Bench.KelvaneProj");
  // The same project with a licence file that does not exist: compile mode opens it, validates
  // it and stops, which measures what opening a project costs.
  p.eula = dir + "/missing-licence.txt";
  WriteProjectFile(p, dir + "/Open.KelvaneProj");
  std::cout << "benchmark project: 200 files, " << total / (1024 * 1024) << " MB\n";
  return 0;
}

int Cab(const std::string& out, const std::vector<std::string>& files) {
  TCABFile cab;
  cab.CompressionType = typLZX;
  cab.LZXMemory = lzxLowest;
  cab.CABFile = out;
  for (const std::string& f : files) cab.CABFileContents.Add().Name = f;
  return cab.Compress() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 2 && args[0] == "make") return Make(args[1]);
  if (args.size() >= 3 && args[0] == "cab")
    return Cab(args[1], std::vector<std::string>(args.begin() + 2, args.end()));
  std::cerr << "usage: bench_build_tool make <dir> | cab <out.CAB> <files...>\n";
  return 2;
}
