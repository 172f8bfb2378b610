// Speed of the file-facts readers, printed as ratios against references measured in the same run:
// `cat > /dev/null` and `cksum` on the same file, and the additive CRC32 written the obvious way
// (one table step per byte, each waiting for the previous addition). Every figure is the best of
// several rounds, so a busy machine disturbs the ratios less.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "filefacts/filefacts.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kBigFile = 256u << 20;
constexpr int kRounds = 7;

std::uint32_t g_table[256];
volatile std::uint32_t g_sink;

// The obvious loop: the same large reads as the library, one dependent table step per byte.
kelvane::TFileFacts ObviousFacts(const std::string& path) {
  kelvane::TFileFacts facts;
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return facts;
  static std::vector<unsigned char> buffer(128 * 1024);
  std::uint32_t sum = 0xFFFFFFFF, acc = 0xFFFFFFFF;
  std::uint64_t size = 0;
  while (true) {
    const ssize_t n = read(fd, buffer.data(), buffer.size());
    if (n <= 0) break;
    for (ssize_t i = 0; i < n; ++i) {
      sum += buffer[i];
      acc += g_table[(acc ^ buffer[i]) & 0xFF] ^ (acc >> 8);
    }
    size += static_cast<std::uint64_t>(n);
    if (n % 4096 != 0) break;
  }
  close(fd);
  facts.size = static_cast<std::int32_t>(size);
  facts.checksum = sum;
  facts.crc32 = ~acc;
  return facts;
}

// The obvious CRC loop alone.
std::uint32_t ObviousCRC32(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return 0;
  static std::vector<unsigned char> buffer(128 * 1024);
  std::uint32_t acc = 0xFFFFFFFF;
  while (true) {
    const ssize_t n = read(fd, buffer.data(), buffer.size());
    if (n <= 0) break;
    for (ssize_t i = 0; i < n; ++i) acc += g_table[(acc ^ buffer[i]) & 0xFF] ^ (acc >> 8);
    if (n % 4096 != 0) break;
  }
  close(fd);
  return ~acc;
}

// Processor time (user + system) of this process and of the children it waited for. Unlike wall
// time it does not grow while other work on a shared machine holds the processor.
double ProcessorSeconds() {
  double total = 0;
  for (const int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
    rusage usage;
    getrusage(who, &usage);
    total += usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
             usage.ru_stime.tv_usec / 1e6;
  }
  return total;
}

struct Timing {
  double wall;
  double processor;
};

Timing Seconds(const std::function<void()>& work) {
  const auto start = Clock::now();
  const double cpuStart = ProcessorSeconds();
  work();
  return {std::chrono::duration<double>(Clock::now() - start).count(),
          ProcessorSeconds() - cpuStart};
}

// Runs a command with its output thrown away.
void RunQuiet(std::vector<std::string> argv) {
  std::vector<char*> args;
  for (auto& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid;
  if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) {
    std::perror(args[0]);
    std::exit(1);
  }
  int status;
  waitpid(pid, &status, 0);
  posix_spawn_file_actions_destroy(&actions);
}

void WriteRandomFile(const std::string& path, std::size_t size, std::mt19937_64& random) {
  std::vector<std::uint64_t> block(1 << 16);
  FILE* f = std::fopen(path.c_str(), "wb");
  for (std::size_t left = size; left > 0;) {
    for (auto& w : block) w = random();
    const std::size_t n = std::min(left, block.size() * sizeof(std::uint64_t));
    std::fwrite(block.data(), 1, n, f);
    left -= n;
  }
  std::fclose(f);
}

struct Measure {
  const char* name;
  std::function<void()> work;
  double best = 1e30;      // processor seconds
  double bestWall = 1e30;  // wall seconds
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s WORK_FOLDER\n", argv[0]);
    return 2;
  }
  const std::string work = argv[1];
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    g_table[i] = c;
  }
  std::mt19937_64 random(4096);

  // One big file, in the page cache after the first read.
  const std::string big = work + "/big.bin";
  WriteRandomFile(big, kBigFile, random);
  RunQuiet({"cat", big});

  // A project's worth of files: sizes spread from 200 bytes to 8 MiB, most of them small.
  std::vector<std::string> files;
  std::uint64_t totalBytes = 0;
  for (int i = 0; i < 300; ++i) {
    const double exponent = std::uniform_real_distribution<double>(7.6, 23.0)(random);
    const auto size = static_cast<std::size_t>(std::exp2(exponent));
    files.push_back(work + "/f" + std::to_string(i) + ".bin");
    WriteRandomFile(files.back(), size, random);
    totalBytes += size;
  }
  for (const auto& f : files) RunQuiet({"cat", f});

  // The library must agree with the obvious loop before its speed means anything.
  if (kelvane::FileCRC32(big) != ObviousCRC32(big) ||
      !(kelvane::ReadFileFacts(big) == ObviousFacts(big))) {
    std::fprintf(stderr, "the readers disagree with the obvious loop\n");
    return 1;
  }
  const auto many = kelvane::ReadFileFactsMany(files);
  for (std::size_t i = 0; i < files.size(); ++i)
    if (!(many[i] == ObviousFacts(files[i]))) {
      std::fprintf(stderr, "ReadFileFactsMany disagrees on %s\n", files[i].c_str());
      return 1;
    }

  std::vector<Measure> measures = {
      {"cat > /dev/null",
       [&] {
         RunQuiet({"cat", big});
       }},
      {"cksum",
       [&] {
         RunQuiet({"cksum", big});
       }},
      {"obvious CRC loop", [&] { g_sink = ObviousCRC32(big); }},
      {"FileChecksum", [&] { g_sink = kelvane::FileChecksum(big); }},
      {"FileCRC32", [&] { g_sink = kelvane::FileCRC32(big); }},
      {"ReadFileFacts", [&] { g_sink = kelvane::ReadFileFacts(big).crc32; }},
      {"many: obvious loop",
       [&] {
         for (const auto& f : files) g_sink = ObviousFacts(f).crc32;
       }},
      {"many: ReadFileFacts each",
       [&] {
         for (const auto& f : files) g_sink = kelvane::ReadFileFacts(f).crc32;
       }},
      {"many: ReadFileFactsMany",
       [&] { g_sink = kelvane::ReadFileFactsMany(files).front().crc32; }},
  };
  // Rounds interleave the measures, so a burst of load elsewhere hits all of them alike.
  for (int round = 0; round < kRounds; ++round)
    for (auto& m : measures) {
      const Timing t = Seconds(m.work);
      m.best = std::min(m.best, t.processor);
      m.bestWall = std::min(m.bestWall, t.wall);
    }

  auto rate = [&](std::size_t i) { return kBigFile / measures[i].best / 1e6; };
  auto wallRate = [&](std::size_t i) { return kBigFile / measures[i].bestWall / 1e6; };
  auto filesPerSecond = [&](std::size_t i) { return files.size() / measures[i].best; };
  std::printf(
      "One file of %zu MiB in the page cache, best of %d rounds (by processor time; wall time "
      "beside):\n",
      kBigFile >> 20, kRounds);
  for (std::size_t i = 0; i < 6; ++i)
    std::printf("  %-26s %8.0f MB/s   (wall %6.0f MB/s)\n", measures[i].name, rate(i), wallRate(i));
  std::printf("%zu files of mixed sizes, %.0f MiB in all:\n", files.size(), totalBytes / 1048576.0);
  for (std::size_t i = 6; i < measures.size(); ++i)
    std::printf("  %-26s %8.0f files/s %6.0f MB/s   (wall %6.0f files/s)\n", measures[i].name,
                filesPerSecond(i), totalBytes / measures[i].best / 1e6,
                files.size() / measures[i].bestWall);

  struct Ratio {
    const char* what;
    double value;
    double target;
  } ratios[] = {
      {"FileChecksum / cat", rate(3) / rate(0), 0.8},
      {"FileCRC32 / obvious CRC loop", rate(4) / rate(2), 1.35},
      {"ReadFileFacts / FileCRC32", rate(5) / rate(4), 0.9},
      {"ReadFileFacts / cksum", rate(5) / rate(1), 0},
      {"many files: ReadFileFactsMany / obvious loop", filesPerSecond(8) / filesPerSecond(6), 2.0},
  };
  std::printf("Ratios (processor time):\n");
  for (const auto& r : ratios) {
    if (r.target > 0)
      std::printf("  %-46s %5.2f  (target >= %.2f: %s)\n", r.what, r.value, r.target,
                  r.value >= r.target ? "met" : "NOT met");
    else
      std::printf("  %-46s %5.2f\n", r.what, r.value);
  }
  return 0;
}
