#pragma once
// Internal: the Microsoft Cabinet format facts that the writer, its encoders, the extractor and
// the tests share. Field names follow the format's own (CFHEADER, CFFOLDER, CFFILE, CFDATA).
#include <cstddef>
#include <cstdint>

namespace kelvane::cab {

// Every CFDATA except the last of its folder expands to exactly this many bytes; LZX calls the
// same unit a frame.
constexpr std::size_t kFrameSize = 32768;
// Readers (libmspack, libarchive) refuse a CFDATA payload above this.
constexpr std::size_t kMaxDataPayload = 32768 + 6144;
// cCFData is 16 bits wide, so a folder holds at most this many uncompressed bytes.
constexpr std::uint64_t kMaxFolderBytes = 65535ull * kFrameSize;

constexpr std::uint32_t kHeaderSize = 36;
constexpr std::uint32_t kFolderEntrySize = 8;
constexpr std::uint32_t kFileEntryFixedSize = 16;
constexpr std::uint32_t kDataHeaderSize = 8;
constexpr std::size_t kMaxNameBytes = 255;

constexpr std::uint16_t kSetId = 12345;
constexpr std::uint32_t kFolderThreshold = 900000;

// CFFILE.attribs
constexpr std::uint16_t kAttrReadOnly = 0x01;
constexpr std::uint16_t kAttrArchive = 0x20;
constexpr std::uint16_t kAttrNameIsUtf8 = 0x80;
constexpr std::uint16_t kAttrMask = 0x27;  // read-only, hidden, system, archive

// CFFOLDER.typeCompress
constexpr std::uint16_t kCompNone = 0x0000;
constexpr std::uint16_t kCompMszip = 0x0001;
constexpr std::uint16_t LzxCompressionCode(int windowBits) {
  return static_cast<std::uint16_t>(0x0003 | (windowBits << 8));
}

// The CFDATA checksum: 32-bit words XORed little-endian, the 1-3 trailing bytes with the first
// byte most significant. CFDATA.csum = Checksum(cbData/cbUncomp bytes, Checksum(payload, 0)).
std::uint32_t Checksum(const std::uint8_t* data, std::size_t size, std::uint32_t seed);
std::uint32_t DataBlockChecksum(const std::uint8_t* payload, std::uint16_t cbData,
                                std::uint16_t cbUncomp);

// LZX E8 call translation as cabinets use it: the translation size written in the stream
// header, and the encoder's direction applied to one frame in place. frameOffset counts from the
// start of the folder.
constexpr std::int32_t kE8TranslationSize = 12000000;
void E8Encode(std::uint8_t* frame, std::size_t size, std::uint32_t frameOffset);
void E8Decode(std::uint8_t* frame, std::size_t size, std::uint32_t frameOffset);

inline void PutU16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void PutU32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline std::uint16_t GetU16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t GetU32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
         (std::uint32_t(p[3]) << 24);
}

}  // namespace kelvane::cab
