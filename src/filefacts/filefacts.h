#pragma once
// File facts: the properties of a file on disk on which an update condition can rest (version,
// size, plain checksum, additive CRC32) and the display forms of sizes and names.
//
// The checksum algorithms are a contract with the update engine on the users' machines: equal
// bytes must give equal values on both sides. The values are those of reading the file in
// 4096-byte blocks and stopping after a short block; the implementation reads larger blocks and
// computes everything in one pass, which gives the same values.
//
// Nothing here raises an error. A missing or unreadable file (or anything that is not a regular
// file) reads as an empty one: size 0, checksum 0xFFFFFFFF, CRC32 0, no version.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/datetime.h"

namespace kelvane {

// The four 16-bit parts of a file version, taken from the fixed file info of the version resource.
struct TFileVersion {
  std::uint16_t major = 0;
  std::uint16_t minor = 0;
  std::uint16_t release = 0;
  std::uint16_t build = 0;
  bool operator==(const TFileVersion&) const = default;
};

// Reads the version resource of a PE32 or PE32+ file (resource directory, RT_VERSION, resource
// name 1, VS_VERSIONINFO, VS_FIXEDFILEINFO with signature 0xFEEF04BD). False, with `version`
// untouched, for a file that has no readable version: not a PE file, no version resource, a
// truncated or malformed one, a wrong signature. Hostile input never reads outside the file.
bool ReadFileVersion(const std::string& path, TFileVersion& version);
// The same on a file image held in memory (the fuzz target and tests use it).
bool ReadVersionFromImage(const void* data, std::size_t size, TFileVersion& version);

// Low 32 bits of the file's size, as a signed value (a 3 GiB file is negative).
std::int32_t FileSize32(const std::string& path);
// 0xFFFFFFFF plus the sum of all bytes, modulo 2^32.
std::uint32_t FileChecksum(const std::string& path);
// The additive CRC32: start 0xFFFFFFFF, per byte acc += CRC32Step(acc, byte), complemented at the
// end. Not the standard CRC-32 ("abc" gives 0x6C8D9D41).
std::uint32_t FileCRC32(const std::string& path);

// One step of the additive CRC32: T[(acc xor b) and 0xFF] xor (acc shr 8), T the table of the
// reflected CRC-32 with polynomial 0xEDB88320.
std::uint32_t CRC32Step(std::uint32_t acc, std::uint8_t b);
// The running forms for data that is not in a file: start both accumulators at 0xFFFFFFFF and
// feed the bytes in any number of pieces; the CRC32 result is then ~acc.
std::uint32_t ChecksumUpdate(std::uint32_t acc, const void* data, std::size_t size);
std::uint32_t CRC32Update(std::uint32_t acc, const void* data, std::size_t size);

// Everything ReadFileFacts needs of a file, read in one pass.
struct TFileFacts {
  bool hasVersion = false;  // false: the version parts are 0 and mean nothing
  TFileVersion version;
  std::int32_t size = 0;                // FileSize32
  std::uint32_t checksum = 0xFFFFFFFF;  // FileChecksum
  std::uint32_t crc32 = 0;              // FileCRC32
  bool operator==(const TFileFacts&) const = default;
};

TFileFacts ReadFileFacts(const std::string& path);
// The facts of many files (opening a project), in the order of `paths`. Several files are read
// interleaved in one thread, which hides the latency of the CRC's chain of additions.
std::vector<TFileFacts> ReadFileFactsMany(const std::vector<std::string>& paths);

// "major.minor.release.build" in decimal, e.g. 1.0.0.12.
std::string VersionToText(int major, int minor, int release, int build);
std::string VersionToText(const TFileVersion& version);

// A version text as the update engine reads it: two 32-bit words, high = p1 shl 16 or p2,
// low = p3 shl 16 or p4. The separator is "," when the text holds one, else "."; each part is
// taken modulo 65536 and missing parts count 0. Without a separator a whole number n reads as
// (n shl 16, 0). Blanks around parts are ignored and empty parts read 0; a part that is not a
// whole decimal number, or a text without separator that is not one, reads as no version
// (0xFFFFFFFF, 0xFFFFFFFF). Parts after the fourth are ignored.
struct TVersionWords {
  std::uint32_t high = 0xFFFFFFFF;
  std::uint32_t low = 0xFFFFFFFF;
  bool operator==(const TVersionWords&) const = default;
};
inline constexpr TVersionWords kNoVersion{};
TVersionWords TextToVersion(std::string_view text);

// A byte count for display: "1.5 KB", "1024 KB", "1 MB", at most two decimals, no trailing zeros.
// Units change above 1024, 1048576 and 1073741824 bytes. A 32-bit size that came out negative is
// a file of 2 GiB or more and is shown as the unsigned count it stands for.
std::string FormatFileSize(std::int64_t bytes);

// A name longer than 25 characters cut to its first 25 followed by " ..." (characters, not bytes
// of UTF-8).
std::string ShortFileName(std::string_view name);

// What the shell tells about a file for the file list. The icon fields stay empty here; the editor
// supplies the picture.
struct TFileInfo {
  void* Icon = nullptr;
  int IconIndex = 0;
  std::string DisplayName;
  std::string TypeName;
  std::int32_t Size = 0;
  std::string SizeText;  // "512 bytes", "1.5 Kb", "3.25 Mb", "1 Gb"
  TDateTime Time = 0;    // not filled
  bool Archive = false;
  bool ReadOnly = false;
  bool SysFile = false;
  bool Hidden = false;
  bool VolumeID = false;
  bool Directory = false;
};

// Fills `info` for the file at `path`. A path that is blank after trimming spaces, or that names
// nothing, leaves the record untouched. Size, size text and flags come from a search for plain
// files only, so a folder or a hidden (dot) file leaves them untouched.
void GetShellFileInfo(const std::string& path, TFileInfo& info);

}  // namespace kelvane
