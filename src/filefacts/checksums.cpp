// Size, plain checksum and additive CRC32 in one pass over the file.
//
// The additive CRC32 adds each table step into the accumulator, so every byte waits for the
// previous addition; written the obvious way the chain is xor, zero-extend, table load, xor, add.
// Two facts shorten it:
//  - the CRC table is linear over xor, T[a ^ b] = T[a] ^ T[b], so the lookup that depends on the
//    input byte, T[b], leaves the chain;
//  - the next table index depends only on the low byte of the accumulator, and that byte can be
//    tracked on its own: lo' = lo + (T[lo] ^ T[b] ^ (acc >> 8)) mod 256.
// The low byte is kept unmasked (0..510) and pre-scaled by 8, so the chain is one plain indexed
// load, an xor and an add; the masking is folded into the table (an entry for j >= 256 carries
// -256). Several files interleaved in one thread run independent chains side by side.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <numeric>

#include "filefacts/filefacts.h"
#include "filefacts/pe_reader.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kelvane {

namespace {

// Reads are this large; a multiple of the 4096-byte block of the algorithm.
constexpr std::size_t kBufferSize = 128 * 1024;
constexpr std::size_t kBlock = 4096;
constexpr int kLanes = 4;

struct Tables {
  std::array<std::uint32_t, 256> crc{};    // T
  std::array<std::uint64_t, 512> crcAt{};  // T[j & 255], indexed by a low byte scaled by 8
  std::array<std::uint64_t, 512> lowAt{};  // 8 * ((T[j & 255] & 0xFF) - (j >= 256 ? 256 : 0))
  std::array<std::uint32_t, 256> low8{};   // 8 * (T[b] & 0xFF)
};

constexpr Tables MakeTables() {
  Tables t;
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    t.crc[i] = c;
    t.low8[i] = (c & 0xFF) * 8;
  }
  for (std::uint32_t j = 0; j < 512; ++j) {
    t.crcAt[j] = t.crc[j & 255];
    t.lowAt[j] = ((t.crc[j & 255] & 0xFFull) - (j >= 256 ? 256ull : 0ull)) * 8;
  }
  return t;
}

constexpr Tables kTables = MakeTables();
static_assert(kTables.crc[1] == 0x77073096 && kTables.crc[255] == 0x2D02EF8D);

// The state of one additive CRC32: the accumulator and its low byte, scaled by 8, unmasked.
struct CrcState {
  std::uint32_t acc = 0xFFFFFFFF;
  std::uint64_t lo8 = 0xFF * 8;
};

inline void CrcByte(CrcState& s, std::uint32_t b, const char* crcAt, const char* lowAt,
                    const std::uint32_t* crc, const std::uint32_t* low8) {
  const std::uint32_t x = crc[b] ^ (s.acc >> 8);
  const std::uint64_t x8 = ((s.acc >> 5) & 0x7F8) ^ low8[b];
  std::uint64_t entry;
  std::memcpy(&entry, lowAt + s.lo8, sizeof entry);
  const std::uint64_t next = s.lo8 + (entry ^ x8);
  std::uint32_t step;
  std::memcpy(&step, crcAt + s.lo8, sizeof step);
  s.acc += step ^ x;
  s.lo8 = next;
}

// Runs K independent chains over n bytes each.
template <int K>
void CrcLanes(CrcState* const* states, const unsigned char* const* data, std::size_t n) {
  const char* crcAt = reinterpret_cast<const char*>(kTables.crcAt.data());
  const char* lowAt = reinterpret_cast<const char*>(kTables.lowAt.data());
  const std::uint32_t* crc = kTables.crc.data();
  const std::uint32_t* low8 = kTables.low8.data();
  CrcState s[K];
  const unsigned char* p[K];
  for (int k = 0; k < K; ++k) {
    s[k] = *states[k];
    s[k].lo8 = (s[k].acc & 0xFF) * 8;
    p[k] = data[k];
  }
  for (std::size_t i = 0; i < n; ++i) {
#pragma GCC unroll 4
    for (int k = 0; k < K; ++k) CrcByte(s[k], p[k][i], crcAt, lowAt, crc, low8);
  }
  for (int k = 0; k < K; ++k) *states[k] = s[k];
}

std::uint32_t SumBytes(std::uint32_t acc, const unsigned char* p, std::size_t n) {
  std::size_t i = 0;
#if defined(__SSE2__)
  // psadbw adds eight bytes at a time into 64-bit lanes; only the low 32 bits matter.
  const __m128i zero = _mm_setzero_si128();
  __m128i s0 = zero, s1 = zero, s2 = zero, s3 = zero;
  for (; i + 64 <= n; i += 64) {
    s0 = _mm_add_epi64(
        s0, _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)), zero));
    s1 = _mm_add_epi64(
        s1, _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 16)), zero));
    s2 = _mm_add_epi64(
        s2, _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 32)), zero));
    s3 = _mm_add_epi64(
        s3, _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 48)), zero));
  }
  const __m128i s = _mm_add_epi64(_mm_add_epi64(s0, s1), _mm_add_epi64(s2, s3));
  std::uint64_t parts[2];
  _mm_storeu_si128(reinterpret_cast<__m128i*>(parts), s);
  acc += static_cast<std::uint32_t>(parts[0] + parts[1]);
#endif
  for (; i < n; ++i) acc += p[i];
  return acc;
}

// A file opened for the facts: only regular files count; a device or a pipe could block or
// never end, and a folder cannot be read as a file.
int OpenRegular(const std::string& path, struct stat& st) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return -1;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return -1;
  }
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  return fd;
}

// Fills the buffer with the next piece of the file as the 4096-byte block reader would see it.
// Returns the byte count; sets `last` when reading stops after this piece: a piece that is not a
// whole number of blocks is the short block that ends the block reader, and a failed read ends
// it as well (the bytes before it count).
std::size_t ReadPiece(int fd, unsigned char* buffer, bool& last) {
  std::size_t got = 0;
  while (got < kBufferSize) {
    const ssize_t n = read(fd, buffer + got, kBufferSize - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      last = true;
      break;
    }
    got += static_cast<std::size_t>(n);
    if (got % kBlock != 0) {
      last = true;
      break;
    }
  }
  return got;
}

struct Buffer {
  std::unique_ptr<unsigned char[]> data{new unsigned char[kBufferSize]};
};

// One file being read: its descriptor, its buffer and its running values.
struct Stream {
  int fd = -1;
  std::size_t slot = 0;  // index of the result
  Buffer buffer;
  std::size_t pos = 0, avail = 0;
  bool last = false;
  std::uint32_t sum = 0xFFFFFFFF;
  CrcState crc;
  bool withCrc = true;
  bool withSum = true;
};

// Refills a stream whose buffer is used up; false when its file has ended.
bool Refill(Stream& s) {
  if (s.last) return false;
  s.pos = 0;
  s.avail = ReadPiece(s.fd, s.buffer.data.get(), s.last);
  if (s.withSum) s.sum = SumBytes(s.sum, s.buffer.data.get(), s.avail);
  return s.avail > 0 || !s.last;
}

// Opens the file of `path` into the stream and takes what the one pass needs at the start:
// the size from the descriptor and the version from the headers. False: no readable file.
bool Start(Stream& s, const std::string& path, TFileFacts& facts, bool withVersion) {
  struct stat st;
  s.fd = OpenRegular(path, st);
  s.pos = s.avail = 0;
  s.last = false;
  s.sum = 0xFFFFFFFF;
  s.crc = CrcState();
  if (s.fd < 0) return false;
  facts.size = static_cast<std::int32_t>(static_cast<std::uint32_t>(st.st_size));
  if (withVersion) {
    TFileVersion version;
    if (ReadVersionFromFile(s.fd, static_cast<std::uint64_t>(st.st_size), version)) {
      facts.hasVersion = true;
      facts.version = version;
    }
  }
  return true;
}

void Finish(Stream& s, TFileFacts& facts) {
  facts.checksum = s.sum;
  facts.crc32 = ~s.crc.acc;
  close(s.fd);
  s.fd = -1;
}

// Reads one file to its end with one lane.
TFileFacts ReadOne(const std::string& path, bool withVersion, bool withSum, bool withCrc) {
  TFileFacts facts;
  static thread_local Stream stream;
  Stream& s = stream;
  s.withSum = withSum;
  s.withCrc = withCrc;
  if (!Start(s, path, facts, withVersion)) return facts;
  CrcState* state = &s.crc;
  while (Refill(s)) {
    const unsigned char* p = s.buffer.data.get();
    if (withCrc) CrcLanes<1>(&state, &p, s.avail);
  }
  Finish(s, facts);
  return facts;
}

template <int K>
void RunLanes(Stream** active, std::size_t n) {
  CrcState* states[K];
  const unsigned char* data[K];
  for (int k = 0; k < K; ++k) {
    states[k] = &active[k]->crc;
    data[k] = active[k]->buffer.data.get() + active[k]->pos;
  }
  CrcLanes<K>(states, data, n);
}

}  // namespace

std::uint32_t CRC32Step(std::uint32_t acc, std::uint8_t b) {
  return kTables.crc[(acc ^ b) & 0xFF] ^ (acc >> 8);
}

std::uint32_t ChecksumUpdate(std::uint32_t acc, const void* data, std::size_t size) {
  return SumBytes(acc, static_cast<const unsigned char*>(data), size);
}

std::uint32_t CRC32Update(std::uint32_t acc, const void* data, std::size_t size) {
  CrcState s;
  s.acc = acc;
  CrcState* state = &s;
  const auto* p = static_cast<const unsigned char*>(data);
  CrcLanes<1>(&state, &p, size);
  return s.acc;
}

std::int32_t FileSize32(const std::string& path) {
  struct stat st;
  const int fd = OpenRegular(path, st);
  if (fd < 0) return 0;
  close(fd);
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(st.st_size));
}

std::uint32_t FileChecksum(const std::string& path) {
  return ReadOne(path, false, true, false).checksum;
}

std::uint32_t FileCRC32(const std::string& path) { return ReadOne(path, false, false, true).crc32; }

TFileFacts ReadFileFacts(const std::string& path) { return ReadOne(path, true, true, true); }

std::vector<TFileFacts> ReadFileFactsMany(const std::vector<std::string>& paths) {
  std::vector<TFileFacts> results(paths.size());
  // Largest files first, so the lanes run side by side for as long as possible and the tail,
  // where fewer lanes are busy, holds only small files.
  std::vector<std::pair<std::uint64_t, std::size_t>> order;
  order.reserve(paths.size());
  for (std::size_t i = 0; i < paths.size(); ++i) {
    struct stat st;
    order.emplace_back(
        stat(paths[i].c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0, i);
  }
  std::stable_sort(order.begin(), order.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });

  static thread_local std::array<Stream, kLanes> lanes;
  std::size_t next = 0;
  // Gives a lane its next file with data; false when no file is left.
  auto feed = [&](Stream& s) {
    while (next < order.size()) {
      const std::size_t slot = order[next++].second;
      s.slot = slot;
      s.withSum = s.withCrc = true;
      if (!Start(s, paths[slot], results[slot], true)) continue;
      if (Refill(s)) return true;
      Finish(s, results[slot]);
    }
    return false;
  };

  Stream* active[kLanes];
  int count = 0;
  for (Stream& s : lanes)
    if (feed(s)) active[count++] = &s;

  while (count > 0) {
    std::size_t n = kBufferSize;
    for (int k = 0; k < count; ++k) n = std::min(n, active[k]->avail - active[k]->pos);
    switch (count) {
      case 4:
        RunLanes<4>(active, n);
        break;
      case 3:
        RunLanes<3>(active, n);
        break;
      case 2:
        RunLanes<2>(active, n);
        break;
      default:
        RunLanes<1>(active, n);
        break;
    }
    for (int k = 0; k < count;) {
      Stream& s = *active[k];
      s.pos += n;
      if (s.pos < s.avail || Refill(s)) {
        ++k;
        continue;
      }
      Finish(s, results[s.slot]);
      if (feed(s)) {
        ++k;
        continue;
      }
      active[k] = active[--count];
    }
  }
  return results;
}

}  // namespace kelvane

namespace kelvane {

bool ReadFileVersion(const std::string& path, TFileVersion& version) {
  struct stat st;
  const int fd = OpenRegular(path, st);
  if (fd < 0) return false;
  const bool found = ReadVersionFromFile(fd, static_cast<std::uint64_t>(st.st_size), version);
  close(fd);
  return found;
}

}  // namespace kelvane
