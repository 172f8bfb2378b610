// The cabinet writer. Compressed CFDATA records go to an anonymous temporary file while the
// sources are read; header, CFFOLDER and CFFILE entries are only known at the end, so the
// cabinet is assembled afterwards (beside its final name) and renamed into place.
#include "cabinet/cabfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <new>
#include <vector>

#include "cabinet/cabformat.h"
#include "cabinet/encoders.h"
#include "platform/datetime.h"
#include "platform/encoding.h"
#include "platform/paths.h"

namespace kelvane {

namespace {

// The cabinet library's error codes, as the writer reports them.
enum FciError {
  fciNone = 0,
  fciOpenSource = 1,
  fciReadSource = 2,
  fciAllocFail = 3,
  fciTempFile = 4,
  fciBadComprType = 5,
  fciCabFile = 6,
  fciUserAbort = 7,
  fciMciFail = 8,
  fciUnknown = 99,  // limits of the format that no library code names
};

[[noreturn]] void Fail(int code) { throw ECABFileError(CABErrorText(code)); }

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

bool WriteAll(int fd, const void* data, std::size_t size) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  while (size) {
    const ssize_t n = ::write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Reads up to `size` bytes; fewer only at the end of the file; -1 on error.
ssize_t ReadFull(int fd, std::uint8_t* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::read(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

std::string Absolute(const std::string& name) {
  std::error_code ec;
  auto path = std::filesystem::absolute(name, ec);
  return ec ? name : path.lexically_normal().string();
}

// RelPath + "\" + file name; "/" in RelPath counts as a folder separator too.
std::string StoredName(const TCABFileEntry& entry) {
  std::string rel = entry.RelPath;
  for (char& c : rel)
    if (c == '/') c = '\\';
  std::string name = ExtractFileName(entry.Name);
  if (rel.empty()) return name;
  if (rel.back() != '\\') rel += '\\';
  return rel + name;
}

// DOS dates cover 1980-01-01 .. 2107-12-31; stamps outside are clamped to the nearest end.
void DosStamp(std::time_t t, std::uint16_t& date, std::uint16_t& time) {
  std::tm local{};
  if (!localtime_r(&t, &local)) t = 0, localtime_r(&t, &local);
  if (local.tm_year < 80) {
    date = (0 << 9) | (1 << 5) | 1;
    time = 0;
    return;
  }
  if (local.tm_year > 207) {
    date = static_cast<std::uint16_t>((127 << 9) | (12 << 5) | 31);
    time = static_cast<std::uint16_t>((23 << 11) | (59 << 5) | 29);
    return;
  }
  UnixToDosDateTime(t, date, time);
}

struct FileRecord {
  std::uint32_t size = 0;
  std::uint32_t offset = 0;
  std::uint16_t folder = 0;
  std::uint16_t date = 0, time = 0, attribs = 0;
  std::string name;  // bytes as stored
};

struct FolderRecord {
  std::uint64_t dataOffset = 0;  // of its first CFDATA inside the data file
  std::uint32_t blocks = 0;
};

class CabinetBuilder {
 public:
  CabinetBuilder(TCABFile& owner, std::uint16_t code, std::int64_t total)
      : owner_(owner), code_(code), total_(total) {
    std::string pattern = TempFolder() + "CABXXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) Fail(fciTempFile);
    ::unlink(pattern.c_str());
    data_ = std::make_unique<FileDescriptor>(fd);
    frame_.resize(cab::kFrameSize);
  }

  void AddFile(const std::string& source, const std::string& storedUtf8) {
    FileRecord record;
    if (IsAnsiRepresentable(storedUtf8)) {
      record.name = Utf8ToAnsi(storedUtf8);
    } else {
      record.name = storedUtf8;
      record.attribs |= cab::kAttrNameIsUtf8;
    }
    if (record.name.empty() || record.name.size() > cab::kMaxNameBytes) Fail(fciOpenSource);

    FileDescriptor in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (in.get() < 0 || ::fstat(in.get(), &st) != 0 || S_ISDIR(st.st_mode)) Fail(fciOpenSource);
    DosStamp(st.st_mtime, record.date, record.time);
    record.attribs |= cab::kAttrArchive;
    if ((st.st_mode & 0222) == 0) record.attribs |= cab::kAttrReadOnly;
    record.attribs &= cab::kAttrMask | cab::kAttrNameIsUtf8;

    // A non-empty file starts the next folder once the current one has reached the threshold
    // (or would overflow); a file never spans two folders. Empty files join the current one.
    if (!encoder_ || (st.st_size > 0 &&
                      (closeRequested_ || folderBytes_ + static_cast<std::uint64_t>(st.st_size) >
                                              cab::kMaxFolderBytes)))
      StartFolder();
    record.offset = static_cast<std::uint32_t>(folderBytes_);
    std::uint64_t size = 0;
    for (;;) {
      const ssize_t n = ReadFull(in.get(), frame_.data() + fill_, cab::kFrameSize - fill_);
      if (n < 0) Fail(fciReadSource);
      if (n == 0) break;
      size += static_cast<std::uint64_t>(n);
      folderBytes_ += static_cast<std::uint64_t>(n);
      if (folderBytes_ > cab::kMaxFolderBytes || size > 0xFFFFFFFFull) Fail(fciMciFail);
      fill_ += static_cast<std::size_t>(n);
      if (fill_ == cab::kFrameSize) {
        encoder_->AddFrame(frame_.data(), fill_);
        fill_ = 0;
        Drain();
      }
    }
    record.size = static_cast<std::uint32_t>(size);
    record.folder = static_cast<std::uint16_t>(folders_.size() - 1);
    files_.push_back(std::move(record));
    if (files_.size() > 0xFFFF) Fail(fciUnknown);
    if (folderCompressed_ + encoder_->PendingBytes() >= cab::kFolderThreshold)
      closeRequested_ = true;
  }

  void Finish(const std::string& cabinetPath) {
    if (encoder_) CloseFolder();
    WriteCabinet(cabinetPath);
  }

 private:
  void StartFolder() {
    if (encoder_) CloseFolder();
    if (folders_.size() >= 0xFFFF) Fail(fciUnknown);
    switch (code_ & 0x000F) {
      case 0:
        encoder_ = cab::MakeStoredEncoder();
        break;
      case 1:
        encoder_ = cab::MakeMszipEncoder();
        break;
      case 3:
        encoder_ = cab::MakeLzxEncoder((code_ >> 8) & 0x1F);
        break;
      default:
        Fail(fciBadComprType);
    }
    FolderRecord folder;
    folder.dataOffset = dataBytes_;
    folders_.push_back(folder);
    folderBytes_ = 0;
    folderCompressed_ = 0;
    closeRequested_ = false;
  }

  void CloseFolder() {
    if (fill_) encoder_->AddFrame(frame_.data(), fill_);
    fill_ = 0;
    encoder_->Finish();
    Drain();
    encoder_.reset();
  }

  // Moves finished CFDATA records to the data file, one progress event each.
  void Drain() {
    cab::EncodedBlock block;
    while (encoder_->TakeBlock(block)) {
      if (block.data.empty() || block.data.size() > cab::kMaxDataPayload) Fail(fciMciFail);
      const auto cbData = static_cast<std::uint16_t>(block.data.size());
      const auto cbUncomp = static_cast<std::uint16_t>(block.uncompressed);
      std::uint8_t header[cab::kDataHeaderSize];
      cab::PutU32(header, cab::DataBlockChecksum(block.data.data(), cbData, cbUncomp));
      cab::PutU16(header + 4, cbData);
      cab::PutU16(header + 6, cbUncomp);
      if (!WriteAll(data_->get(), header, sizeof header) ||
          !WriteAll(data_->get(), block.data.data(), block.data.size()))
        Fail(fciTempFile);
      dataBytes_ += sizeof header + block.data.size();
      folderCompressed_ += block.data.size();
      if (++folders_.back().blocks > 0xFFFF) Fail(fciMciFail);
      compressedSoFar_ += static_cast<std::int64_t>(block.data.size());
      uncompressedSoFar_ += block.uncompressed;
      if (owner_.OnCompressProgress)
        owner_.OnCompressProgress(&owner_, Low32(uncompressedSoFar_), Low32(total_));
    }
  }

  static std::int32_t Low32(std::int64_t v) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(v)));
  }

  void WriteCabinet(const std::string& path) {
    const std::uint32_t coffFiles =
        cab::kHeaderSize + cab::kFolderEntrySize * static_cast<std::uint32_t>(folders_.size());
    std::uint64_t filesBytes = 0;
    for (const auto& f : files_) filesBytes += cab::kFileEntryFixedSize + f.name.size() + 1;
    const std::uint64_t dataStart = coffFiles + filesBytes;
    const std::uint64_t cbCabinet = dataStart + dataBytes_;
    if (cbCabinet > 0x7FFFFFFFull) Fail(fciCabFile);

    std::vector<std::uint8_t> head;
    head.reserve(dataStart);
    auto u8 = [&](std::uint8_t v) { head.push_back(v); };
    auto u16 = [&](std::uint16_t v) {
      u8(static_cast<std::uint8_t>(v)), u8(static_cast<std::uint8_t>(v >> 8));
    };
    auto u32 = [&](std::uint32_t v) {
      u16(static_cast<std::uint16_t>(v)), u16(static_cast<std::uint16_t>(v >> 16));
    };
    // CFHEADER
    for (char c : {'M', 'S', 'C', 'F'}) u8(static_cast<std::uint8_t>(c));
    u32(0);  // reserved1
    u32(static_cast<std::uint32_t>(cbCabinet));
    u32(0);  // reserved2
    u32(coffFiles);
    u32(0);  // reserved3
    u8(3);   // versionMinor
    u8(1);   // versionMajor
    u16(static_cast<std::uint16_t>(folders_.size()));
    u16(static_cast<std::uint16_t>(files_.size()));
    u16(0);  // flags: no previous or next cabinet, no reserve
    u16(cab::kSetId);
    // iCabinet stays 0: some readers treat any other number as part of a multi-cabinet set.
    u16(0);
    for (const auto& folder : folders_) {  // CFFOLDER
      u32(static_cast<std::uint32_t>(dataStart + folder.dataOffset));
      u16(static_cast<std::uint16_t>(folder.blocks));
      u16(code_);
    }
    for (const auto& f : files_) {  // CFFILE
      u32(f.size);
      u32(f.offset);
      u16(f.folder);
      u16(f.date);
      u16(f.time);
      u16(f.attribs);
      for (char c : f.name) u8(static_cast<std::uint8_t>(c));
      u8(0);
    }

    std::string temp = path + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) Fail(fciCabFile);
    FileDescriptor out(fd);
    bool ok = WriteAll(fd, head.data(), head.size()) && ::lseek(data_->get(), 0, SEEK_SET) == 0;
    std::vector<std::uint8_t> copy(1 << 20);
    while (ok) {
      const ssize_t n = ReadFull(data_->get(), copy.data(), copy.size());
      if (n < 0) ok = false;
      if (n <= 0) break;
      ok = WriteAll(fd, copy.data(), static_cast<std::size_t>(n));
    }
    if (ok) ok = ::fchmod(fd, 0644) == 0;
    if (!ok || ::rename(temp.c_str(), path.c_str()) != 0) {
      ::unlink(temp.c_str());
      Fail(fciCabFile);
    }
  }

  TCABFile& owner_;
  std::uint16_t code_;
  std::int64_t total_;
  std::int64_t compressedSoFar_ = 0, uncompressedSoFar_ = 0;
  std::unique_ptr<FileDescriptor> data_;
  std::uint64_t dataBytes_ = 0;
  std::vector<std::uint8_t> frame_;
  std::size_t fill_ = 0;
  std::unique_ptr<cab::FolderEncoder> encoder_;
  std::uint64_t folderBytes_ = 0, folderCompressed_ = 0;
  bool closeRequested_ = false;
  std::vector<FolderRecord> folders_;
  std::vector<FileRecord> files_;
};

}  // namespace

std::string CABErrorText(int code) {
  static const char* const texts[] = {
      "No error",
      "Failure opening file to be stored in cabinet",
      "Failure reading file to be stored in cabinet",
      "Insufficient memory in FCI",
      "Could not create a temporary file",
      "Unknown compression type",
      "Could not create cabinet file",
      "Client requested abort",
      "Failure compressing data",
  };
  return code >= 0 && code <= 8 ? texts[code] : "Unknown error";
}

std::uint16_t TCABFile::CompressionCode() const {
  switch (CompressionType) {
    case typNone:
      return cab::kCompNone;
    case typMSZIP:
      return cab::kCompMszip;
    case typLZX:
      return cab::LzxCompressionCode(15 + static_cast<int>(LZXMemory));
  }
  return 0x000F;
}

bool TCABFile::Compress() {
  const std::uint16_t code = CompressionCode();
  if ((code & 0x000F) == 3 && (LZXMemory < lzxLowest || LZXMemory > lzxHighest))
    Fail(fciBadComprType);

  // The total is measured before anything is compressed; a source that cannot be opened ends
  // Compress here with the platform's file error.
  std::vector<std::string> sources;
  std::int64_t total = 0;
  for (int i = 0; i < CABFileContents.Count(); ++i) {
    const std::string path = Absolute(CABFileContents.Items(i).Name);
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || S_ISDIR(st.st_mode)) {
      const int err = fd.get() < 0 ? errno : EISDIR;
      throw EInOutError("Cannot open file \"" + path + "\". " + std::strerror(err));
    }
    total += st.st_size;
    sources.push_back(path);
  }

  if (CABFile.empty()) Fail(fciCabFile);
  try {
    CabinetBuilder builder(*this, code, total);
    for (int i = 0; i < CABFileContents.Count(); ++i)
      builder.AddFile(sources[i], StoredName(CABFileContents.Items(i)));
    builder.Finish(Absolute(CABFile));
  } catch (const std::bad_alloc&) {
    Fail(fciAllocFail);
  }
  return true;
}

}  // namespace kelvane
