#include "cabtest.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>

#include "cabinet/cabformat.h"

namespace cabtest {

namespace fs = std::filesystem;

void WriteFile(const std::string& path, const Bytes& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  ASSERT_TRUE(out.good()) << path;
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> ListTree(const std::string& root) {
  std::vector<std::string> out;
  std::error_code ec;
  for (auto& e : fs::recursive_directory_iterator(root, ec))
    if (e.is_regular_file()) out.push_back(fs::relative(e.path(), root).string());
  std::sort(out.begin(), out.end());
  return out;
}

CabInfo ParseCabinet(const std::string& path) {
  using namespace kelvane::cab;
  CabInfo info{};
  const Bytes b = ReadFile(path);
  EXPECT_GE(b.size(), 36u);
  if (b.size() < 36) return info;
  EXPECT_EQ(0, std::memcmp(b.data(), "MSCF", 4));
  EXPECT_EQ(b.size(), GetU32(&b[8])) << "cbCabinet";
  EXPECT_EQ(3, b[0x18]);
  EXPECT_EQ(1, b[0x19]);
  const int nFolders = GetU16(&b[0x1A]), nFiles = GetU16(&b[0x1C]);
  info.flags = GetU16(&b[0x1E]);
  info.setId = GetU16(&b[0x20]);
  info.iCabinet = GetU16(&b[0x22]);
  EXPECT_EQ(36u + 8u * nFolders, GetU32(&b[0x10])) << "coffFiles right after the folders";
  std::size_t p = 36;
  for (int i = 0; i < nFolders; ++i, p += 8)
    info.folders.push_back({GetU32(&b[p]), GetU16(&b[p + 4]), GetU16(&b[p + 6])});
  for (int i = 0; i < nFiles; ++i) {
    CabEntry e{};
    e.size = GetU32(&b[p]);
    e.offset = GetU32(&b[p + 4]);
    e.folder = GetU16(&b[p + 8]);
    e.date = GetU16(&b[p + 10]);
    e.time = GetU16(&b[p + 12]);
    e.attribs = GetU16(&b[p + 14]);
    const char* name = reinterpret_cast<const char*>(&b[p + 16]);
    e.name = std::string(name, strnlen(name, b.size() - p - 16));
    EXPECT_GE(e.name.size(), 1u);
    EXPECT_LE(e.name.size(), 255u);
    p += 16 + e.name.size() + 1;
    info.files.push_back(e);
  }
  std::vector<std::uint64_t> folderBytes(nFolders, 0);
  for (int f = 0; f < nFolders; ++f) {
    std::size_t q = info.folders[f].start;
    if (f == 0) {
      EXPECT_EQ(p, q) << "first CFDATA right after the files";
    } else {
      EXPECT_GT(q, info.folders[f - 1].start);
    }
    for (int k = 0; k < info.folders[f].blocks; ++k) {
      EXPECT_LE(q + 8, b.size());
      if (q + 8 > b.size()) return info;
      const std::uint16_t cbData = GetU16(&b[q + 4]), cbUncomp = GetU16(&b[q + 6]);
      EXPECT_GT(cbData, 0);
      EXPECT_LE(cbData, kMaxDataPayload);
      EXPECT_LE(q + 8 + cbData, b.size());
      if (q + 8 + cbData > b.size()) return info;
      EXPECT_EQ(GetU32(&b[q]), DataBlockChecksum(&b[q + 8], cbData, cbUncomp)) << "block " << k;
      if (k + 1 < info.folders[f].blocks) {
        EXPECT_EQ(32768, cbUncomp);
      }
      if ((info.folders[f].type & 0xF) == 0) {
        EXPECT_EQ(cbData, cbUncomp);
      }
      if ((info.folders[f].type & 0xF) == 1) {
        EXPECT_EQ('C', b[q + 8]);
        EXPECT_EQ('K', b[q + 9]);
        EXPECT_LE(cbData, 32780);
      }
      folderBytes[f] += cbUncomp;
      info.blockSizes.push_back(cbUncomp);
      q += 8 + cbData;
    }
    if (f + 1 < nFolders) {
      EXPECT_EQ(q, info.folders[f + 1].start);
    } else {
      EXPECT_EQ(q, b.size());
    }
  }
  // Files: ordered by folder, contiguous from offset 0, filling the folder exactly.
  std::vector<std::uint64_t> next(nFolders, 0);
  int lastFolder = 0;
  for (const auto& e : info.files) {
    EXPECT_LT(e.folder, nFolders);
    if (e.folder >= nFolders) continue;
    EXPECT_GE(e.folder, lastFolder);
    lastFolder = e.folder;
    EXPECT_EQ(next[e.folder], e.offset) << e.name;
    next[e.folder] = e.offset + std::uint64_t(e.size);
  }
  for (int f = 0; f < nFolders; ++f) EXPECT_EQ(folderBytes[f], next[f]) << "folder " << f;
  return info;
}

bool HaveTool(const std::string& tool) { return RunQuiet("command -v " + tool) == 0; }

int RunQuiet(const std::string& command) {
  const int rc = std::system((command + " >/dev/null 2>&1").c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

Bytes RandomBytes(std::uint32_t seed, std::size_t size) {
  std::mt19937 rng(seed);
  Bytes out(size);
  for (auto& b : out) b = static_cast<std::uint8_t>(rng());
  return out;
}

Bytes TextBytes(std::uint32_t seed, std::size_t size) {
  static const char* words[] = {"update", "file", "cabinet", "the",   "of",     "version", "a",
                                "window", "and",  "control", "build", "server", "to",      "is"};
  std::mt19937 rng(seed);
  Bytes out;
  while (out.size() < size) {
    const std::string w = words[rng() % 14];
    out.insert(out.end(), w.begin(), w.end());
    out.push_back(rng() % 11 == 0 ? '\n' : ' ');
  }
  out.resize(size);
  return out;
}

Bytes StructuredBytes(std::uint32_t seed, std::size_t size) {
  std::mt19937 rng(seed);
  Bytes out;
  out.reserve(size);
  while (out.size() < size) {
    const std::size_t piece = 1 + rng() % 3000;
    switch (rng() % 7) {
      case 0:  // run of one byte
        out.insert(out.end(), piece, static_cast<std::uint8_t>(rng()));
        break;
      case 1:  // long zero stretch
        out.insert(out.end(), piece * 20, 0);
        break;
      case 2:  // noise
        for (std::size_t i = 0; i < piece; ++i) out.push_back(static_cast<std::uint8_t>(rng()));
        break;
      case 3:  // repeat from near or far back (sometimes beyond any window)
      case 4: {
        if (out.empty()) break;
        const std::size_t distance =
            1 + rng() % std::min<std::size_t>(out.size(), rng() % 2 ? 64 : 3000000);
        const std::size_t from = out.size() - distance;
        for (std::size_t i = 0; i < piece; ++i) out.push_back(out[from + i]);
        break;
      }
      case 5:  // x86-like code: calls with absolute-looking targets
        for (std::size_t i = 0; i < piece / 5; ++i) {
          out.push_back(0xE8);
          const std::uint32_t target = rng() % 4 ? rng() % 0x20000 : rng();
          for (int k = 0; k < 4; ++k) out.push_back(static_cast<std::uint8_t>(target >> (8 * k)));
          if (rng() % 3 == 0) out.push_back(0x90);
        }
        break;
      default: {  // text
        const Bytes t = TextBytes(rng(), piece);
        out.insert(out.end(), t.begin(), t.end());
      }
    }
  }
  out.resize(size);
  return out;
}

}  // namespace cabtest
