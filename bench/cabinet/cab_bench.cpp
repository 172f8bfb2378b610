// Times one cabinet operation for bench/cabinet/run, which compares it with reference tools.
//   cab_bench compress <none|mszip|lzx15..lzx21> <cabinet> <file>...   (files from a list: @list)
//   cab_bench extract <cabinet> <folder>
// Prints "<seconds> <bytes>" (the cabinet's size, or 0 for extraction).
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "cabinet/cabfile.h"
#include "cabinet/extract.h"

using namespace kelvane;

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr,
                 "usage: cab_bench compress <type> <cab> <files...> | extract <cab> <dir>\n");
    return 2;
  }
  const std::string mode = argv[1];
  const auto start = std::chrono::steady_clock::now();
  std::uintmax_t size = 0;
  if (mode == "compress") {
    TCABFile cab;
    const std::string type = argv[2];
    if (type == "none") {
      cab.CompressionType = typNone;
    } else if (type == "mszip") {
      cab.CompressionType = typMSZIP;
    } else if (type.rfind("lzx", 0) == 0) {
      cab.CompressionType = typLZX;
      cab.LZXMemory = static_cast<TLZXMemory>(std::stoi(type.substr(3)) - 15);
    } else {
      std::fprintf(stderr, "unknown type %s\n", type.c_str());
      return 2;
    }
    cab.CABFile = argv[3];
    for (int i = 4; i < argc; ++i) {
      if (argv[i][0] == '@') {
        std::ifstream list(argv[i] + 1);
        for (std::string line; std::getline(list, line);)
          if (!line.empty()) cab.CABFileContents.Add().Name = line;
      } else {
        cab.CABFileContents.Add().Name = argv[i];
      }
    }
    try {
      cab.Compress();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s\n", e.what());
      return 1;
    }
    size = std::filesystem::file_size(cab.CABFile);
  } else if (mode == "extract") {
    if (ExtractCabinet(argv[2], argv[3]) != 0) {
      std::fprintf(stderr, "extraction failed\n");
      return 1;
    }
  } else {
    return 2;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%.3f %ju\n", seconds, size);
  return 0;
}
