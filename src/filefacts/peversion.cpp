// The version resource of a PE32 / PE32+ file, read from the file itself.
//
// Path: IMAGE_DOS_HEADER.e_lfanew -> "PE\0\0" -> IMAGE_FILE_HEADER -> optional header (magic
// 0x10B or 0x20B) -> data directory 2 (resources) -> the section that maps it -> resource
// directory: type RT_VERSION (16) -> name 1 (VS_VERSION_INFO) -> a language -> data entry ->
// VS_VERSIONINFO -> VS_FIXEDFILEINFO, whose dwSignature must be 0xFEEF04BD.
//
// Every read goes through ReadAt, which refuses anything outside the file, so a truncated or
// hostile file ends in "no version" and never in a read out of bounds. Counts from the file are
// capped before they size anything.
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "filefacts/filefacts.h"
#include "filefacts/pe_reader.h"

namespace kelvane {

namespace {

constexpr std::uint16_t kDosMagic = 0x5A4D;         // "MZ"
constexpr std::uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
constexpr std::uint32_t kResourceDirectoryIndex = 2;
constexpr std::uint32_t kRtVersion = 16;
constexpr std::uint32_t kVsVersionInfo = 1;
constexpr std::uint32_t kFixedFileInfoSignature = 0xFEEF04BD;
constexpr std::uint32_t kFixedFileInfoSize = 52;
constexpr std::uint32_t kSubdirectoryFlag = 0x80000000;
constexpr std::uint32_t kNameIsStringFlag = 0x80000000;
constexpr std::size_t kSectionHeaderSize = 40;
constexpr std::uint16_t kMaxSections = 96;  // the loader's own limit

std::uint16_t Le16(const unsigned char* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
std::uint32_t Le32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

class Source {
 public:
  virtual ~Source() = default;
  // Reads exactly n bytes at offset; false when any of them lies outside the file.
  virtual bool ReadAt(std::uint64_t offset, void* dst, std::size_t n) const = 0;
};

class MemorySource : public Source {
 public:
  MemorySource(const void* data, std::size_t size)
      : data_(static_cast<const unsigned char*>(data)), size_(size) {}
  bool ReadAt(std::uint64_t offset, void* dst, std::size_t n) const override {
    if (offset > size_ || n > size_ - offset) return false;
    std::memcpy(dst, data_ + offset, n);
    return true;
  }

 private:
  const unsigned char* data_;
  std::size_t size_;
};

class FileSource : public Source {
 public:
  FileSource(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
  bool ReadAt(std::uint64_t offset, void* dst, std::size_t n) const override {
    if (offset > size_ || n > size_ - offset) return false;
    auto* out = static_cast<unsigned char*>(dst);
    while (n > 0) {
      const ssize_t got = pread(fd_, out, n, static_cast<off_t>(offset));
      if (got <= 0) return false;
      out += got;
      offset += static_cast<std::uint64_t>(got);
      n -= static_cast<std::size_t>(got);
    }
    return true;
  }

 private:
  int fd_;
  std::uint64_t size_;
};

struct Section {
  std::uint32_t virtualAddress;
  std::uint32_t virtualSize;
  std::uint32_t rawSize;
  std::uint32_t rawPointer;
};

class PeImage {
 public:
  explicit PeImage(const Source& source) : source_(source) {}

  bool ReadVersion(TFileVersion& version) {
    std::uint32_t resourceRva, resourceSize;
    if (!ReadHeaders(resourceRva, resourceSize)) return false;
    resourceBase_ = resourceRva;

    // type -> name -> language; the first two levels must be directories, the last a data entry.
    std::uint32_t offset;
    if (!FindEntry(0, kRtVersion, true, offset)) return false;
    if (!FindEntry(offset, kVsVersionInfo, true, offset)) return false;
    if (!FindLanguage(offset, offset)) return false;

    unsigned char dataEntry[16];
    if (!ReadResource(offset, dataEntry, sizeof dataEntry)) return false;
    const std::uint32_t dataRva = Le32(dataEntry);
    const std::uint32_t dataSize = Le32(dataEntry + 4);
    return ReadFixedFileInfo(dataRva, dataSize, version);
  }

 private:
  bool ReadHeaders(std::uint32_t& resourceRva, std::uint32_t& resourceSize) {
    unsigned char dos[64];
    if (!source_.ReadAt(0, dos, sizeof dos) || Le16(dos) != kDosMagic) return false;
    const std::uint32_t peOffset = Le32(dos + 0x3C);

    unsigned char fileHeader[24];  // signature + IMAGE_FILE_HEADER
    if (!source_.ReadAt(peOffset, fileHeader, sizeof fileHeader) ||
        Le32(fileHeader) != kPeSignature)
      return false;
    const std::uint16_t sectionCount = Le16(fileHeader + 6);
    const std::uint16_t optionalSize = Le16(fileHeader + 20);
    if (sectionCount == 0 || sectionCount > kMaxSections) return false;

    const std::uint64_t optionalOffset = std::uint64_t{peOffset} + sizeof fileHeader;
    std::vector<unsigned char> optional(optionalSize);
    if (optionalSize < 2 || !source_.ReadAt(optionalOffset, optional.data(), optionalSize))
      return false;
    const std::uint16_t magic = Le16(optional.data());
    std::size_t countOffset;  // NumberOfRvaAndSizes; the data directories follow it
    if (magic == kPe32Magic)
      countOffset = 92;
    else if (magic == kPe32PlusMagic)
      countOffset = 108;
    else
      return false;
    if (optionalSize < countOffset + 4) return false;
    const std::uint32_t directoryCount = Le32(optional.data() + countOffset);
    const std::size_t entryOffset = countOffset + 4 + kResourceDirectoryIndex * 8;
    if (directoryCount <= kResourceDirectoryIndex || optionalSize < entryOffset + 8) return false;
    resourceRva = Le32(optional.data() + entryOffset);
    resourceSize = Le32(optional.data() + entryOffset + 4);
    if (resourceRva == 0 || resourceSize == 0) return false;

    std::vector<unsigned char> table(std::size_t{sectionCount} * kSectionHeaderSize);
    if (!source_.ReadAt(optionalOffset + optionalSize, table.data(), table.size())) return false;
    for (std::uint16_t i = 0; i < sectionCount; ++i) {
      const unsigned char* h = table.data() + std::size_t{i} * kSectionHeaderSize;
      sections_.push_back({Le32(h + 12), Le32(h + 8), Le32(h + 16), Le32(h + 20)});
    }
    return true;
  }

  // Reads n bytes at an address of the loaded image: inside one section, from its raw data;
  // the part of the section beyond its raw data reads as zeros, as the loader maps it.
  bool ReadRva(std::uint32_t rva, void* dst, std::size_t n) const {
    for (const Section& s : sections_) {
      const std::uint64_t extent = s.virtualSize ? s.virtualSize : s.rawSize;
      if (rva < s.virtualAddress ||
          std::uint64_t{rva} + n > std::uint64_t{s.virtualAddress} + extent)
        continue;
      if (n == 0) return true;  // an empty read has no buffer to touch
      const std::uint64_t inSection = rva - s.virtualAddress;
      auto* out = static_cast<unsigned char*>(dst);
      std::memset(out, 0, n);
      if (inSection >= s.rawSize) return true;
      const std::size_t fromFile =
          static_cast<std::size_t>(std::min<std::uint64_t>(n, s.rawSize - inSection));
      return source_.ReadAt(std::uint64_t{s.rawPointer} + inSection, out, fromFile);
    }
    return false;
  }

  // Reads inside the resource directory's own extent, at an offset from its start.
  // The directory's size in the header is not trusted to bound it (the loader does not either);
  // the section that holds it does.
  bool ReadResource(std::uint32_t offset, void* dst, std::size_t n) const {
    const std::uint64_t rva = std::uint64_t{resourceBase_} + offset;
    if (rva > 0xFFFFFFFFu) return false;
    return ReadRva(static_cast<std::uint32_t>(rva), dst, n);
  }

  // The entries of the directory at `offset`: (name or id, data offset) pairs.
  bool ReadDirectory(std::uint32_t offset,
                     std::vector<std::pair<std::uint32_t, std::uint32_t>>& entries) const {
    unsigned char header[16];
    if (!ReadResource(offset, header, sizeof header)) return false;
    const std::size_t count = std::size_t{Le16(header + 12)} + Le16(header + 14);
    std::vector<unsigned char> raw(count * 8);
    if (!ReadResource(offset + 16, raw.data(), raw.size())) return false;
    entries.clear();
    for (std::size_t i = 0; i < count; ++i)
      entries.emplace_back(Le32(raw.data() + i * 8), Le32(raw.data() + i * 8 + 4));
    return true;
  }

  bool FindEntry(std::uint32_t directory, std::uint32_t id, bool subdirectory,
                 std::uint32_t& offset) const {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> entries;
    if (!ReadDirectory(directory, entries)) return false;
    for (const auto& [name, data] : entries) {
      if ((name & kNameIsStringFlag) || name != id) continue;
      if (((data & kSubdirectoryFlag) != 0) != subdirectory) return false;
      offset = data & ~kSubdirectoryFlag;
      return true;
    }
    return false;
  }

  // The language of the version resource: neutral first, then the default languages, then
  // English (United States), the locale of this program's formats, then the first one present.
  bool FindLanguage(std::uint32_t directory, std::uint32_t& offset) const {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> entries;
    if (!ReadDirectory(directory, entries) || entries.empty()) return false;
    const std::pair<std::uint32_t, std::uint32_t>* chosen = &entries.front();
    for (const std::uint32_t preferred : {0x0000u, 0x0400u, 0x0800u, 0x0409u}) {
      const auto it = std::find_if(entries.begin(), entries.end(),
                                   [&](const auto& e) { return e.first == preferred; });
      if (it != entries.end()) {
        chosen = &*it;
        break;
      }
    }
    if (chosen->second & kSubdirectoryFlag) return false;
    offset = chosen->second;
    return true;
  }

  // VS_VERSIONINFO: wLength, wValueLength, wType, szKey (UTF-16, NUL-terminated), padding to
  // a 32-bit boundary, then the value: VS_FIXEDFILEINFO.
  bool ReadFixedFileInfo(std::uint32_t rva, std::uint32_t size, TFileVersion& version) const {
    constexpr std::uint32_t kMaxHead = 6 + 2 * 64 + 4;  // a key longer than this is not ours
    unsigned char head[kMaxHead];
    const std::uint32_t headSize = std::min(size, kMaxHead);
    if (headSize < 6 || !ReadRva(rva, head, headSize)) return false;
    const std::uint32_t length = Le16(head);
    const std::uint32_t valueLength = Le16(head + 2);
    const std::uint32_t limit = std::min(length, size);
    std::uint32_t at = 6;
    while (true) {  // find the key's terminating NUL
      if (at + 2 > headSize) return false;
      const bool end = Le16(head + at) == 0;
      at += 2;
      if (end) break;
    }
    at = (at + 3) & ~3u;
    if (valueLength < kFixedFileInfoSize || at + kFixedFileInfoSize > limit) return false;
    unsigned char fixed[kFixedFileInfoSize];
    if (!ReadRva(rva + at, fixed, sizeof fixed)) return false;
    if (Le32(fixed) != kFixedFileInfoSignature) return false;
    const std::uint32_t ms = Le32(fixed + 8);
    const std::uint32_t ls = Le32(fixed + 12);
    version.major = static_cast<std::uint16_t>(ms >> 16);
    version.minor = static_cast<std::uint16_t>(ms & 0xFFFF);
    version.release = static_cast<std::uint16_t>(ls >> 16);
    version.build = static_cast<std::uint16_t>(ls & 0xFFFF);
    return true;
  }

  const Source& source_;
  std::vector<Section> sections_;
  std::uint32_t resourceBase_ = 0;
};

}  // namespace

bool ReadVersionFromImage(const void* data, std::size_t size, TFileVersion& version) {
  const MemorySource source(data, size);
  return PeImage(source).ReadVersion(version);
}

bool ReadVersionFromFile(int fd, std::uint64_t fileSize, TFileVersion& version) {
  const FileSource source(fd, fileSize);
  return PeImage(source).ReadVersion(version);
}

}  // namespace kelvane
