// Cabinet and LZ extraction through libmspack. The library passes stored names through
// untouched, so every safety rule about names lives here. I/O goes through our own
// mspack_system so that the library's warnings stay off the console.
#include "cabinet/extract.h"

#include <fcntl.h>
#include <mspack.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cabinet/cabformat.h"
#include "platform/datetime.h"
#include "platform/encoding.h"

namespace kelvane {

namespace {

// ---- a quiet stdio-based mspack_system ------------------------------------------------------

struct QuietFile {
  std::FILE* fp;
};

// Permission bits for files we create (0666 less the umask), set before each extraction.
mode_t creationMode = 0644;
// The file most recently created for output.
std::string lastCreated;

mspack_file* SysOpen(mspack_system*, const char* filename, int mode) {
  const char* fmode = nullptr;
  if (mode == MSPACK_SYS_OPEN_WRITE) {
    // Output always goes to a fresh temporary name: create it exclusively, never through
    // something already there.
    const int fd = ::open(filename, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, creationMode);
    std::FILE* fp = fd < 0 ? nullptr : ::fdopen(fd, "wb");
    if (!fp) {
      if (fd >= 0) ::close(fd);
      return nullptr;
    }
    std::setvbuf(fp, nullptr, _IOFBF, 1 << 16);
    lastCreated = filename;
    return reinterpret_cast<mspack_file*>(new QuietFile{fp});
  }
  switch (mode) {
    case MSPACK_SYS_OPEN_READ:
      fmode = "rb";
      break;
    case MSPACK_SYS_OPEN_UPDATE:
      fmode = "r+b";
      break;
    case MSPACK_SYS_OPEN_APPEND:
      fmode = "ab";
      break;
    default:
      return nullptr;
  }
  std::FILE* fp = std::fopen(filename, fmode);
  if (!fp) return nullptr;
  std::setvbuf(fp, nullptr, _IOFBF, 1 << 16);
  return reinterpret_cast<mspack_file*>(new QuietFile{fp});
}
void SysClose(mspack_file* file) {
  auto* f = reinterpret_cast<QuietFile*>(file);
  if (!f) return;
  std::fclose(f->fp);
  delete f;
}
int SysRead(mspack_file* file, void* buffer, int bytes) {
  auto* f = reinterpret_cast<QuietFile*>(file);
  if (!f || bytes < 0) return -1;
  const std::size_t n = std::fread(buffer, 1, static_cast<std::size_t>(bytes), f->fp);
  if (n == 0 && std::ferror(f->fp)) return -1;
  return static_cast<int>(n);
}
int SysWrite(mspack_file* file, void* buffer, int bytes) {
  auto* f = reinterpret_cast<QuietFile*>(file);
  if (!f || bytes < 0) return -1;
  const std::size_t n = std::fwrite(buffer, 1, static_cast<std::size_t>(bytes), f->fp);
  return n == static_cast<std::size_t>(bytes) ? bytes : -1;
}
int SysSeek(mspack_file* file, off_t offset, int mode) {
  auto* f = reinterpret_cast<QuietFile*>(file);
  if (!f) return -1;
  const int whence = mode == MSPACK_SYS_SEEK_START ? SEEK_SET
                     : mode == MSPACK_SYS_SEEK_CUR ? SEEK_CUR
                     : mode == MSPACK_SYS_SEEK_END ? SEEK_END
                                                   : -1;
  if (whence < 0) return -1;
  return fseeko(f->fp, offset, whence) == 0 ? 0 : -1;
}
off_t SysTell(mspack_file* file) {
  auto* f = reinterpret_cast<QuietFile*>(file);
  return f ? ftello(f->fp) : -1;
}
void SysMessage(mspack_file*, const char*, ...) {}
void* SysAlloc(mspack_system*, std::size_t bytes) { return std::malloc(bytes); }
void SysFree(void* p) { std::free(p); }
void SysCopy(void* src, void* dest, std::size_t bytes) { std::memmove(dest, src, bytes); }

mspack_system quietSystem = {SysOpen,    SysClose, SysRead, SysWrite, SysSeek, SysTell,
                             SysMessage, SysAlloc, SysFree, SysCopy,  nullptr};

bool LibraryUsable() {
  int selftest = 0;
  MSPACK_SYS_SELFTEST(selftest);
  return selftest == MSPACK_ERR_OK;
}

// ---- file helpers ---------------------------------------------------------------------------

void UpdateCreationMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  creationMode = 0666 & ~mask;
}

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Creates `path` and every missing parent; true when it exists as a folder afterwards.
bool ForceDirectories(const std::string& path) {
  if (path.empty() || IsDirectory(path)) return true;
  const std::size_t slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !ForceDirectories(path.substr(0, slash)))
    return false;
  return ::mkdir(path.c_str(), 0777) == 0 || (errno == EEXIST && IsDirectory(path));
}

// A name beside `target` that nothing uses yet, for writing it before it is renamed into place.
std::string TempNameFor(const std::string& target) {
  static unsigned counter = 0;
  const std::size_t slash = target.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  return dir + "." + base.substr(0, 200) + ".kvpart-" + std::to_string(::getpid()) + "-" +
         std::to_string(++counter);
}

// Deletes `path` only when this process created it (the exclusive create may have found
// someone else's file under that name).
void RemoveIfCreated(const std::string& path) {
  if (!path.empty() && path == lastCreated) ::unlink(path.c_str());
}

// Runs `write(temp)` for a fresh temporary beside `target`; a name taken in between (the
// exclusive create fails) is retried with the next one.
template <typename Write>
int WriteViaTemp(const std::string& target, std::string& temp, Write write) {
  int err = MSPACK_ERR_OPEN;
  for (int attempt = 0; attempt < 3 && err == MSPACK_ERR_OPEN; ++attempt) {
    temp = TempNameFor(target);
    err = write(temp.c_str());
  }
  return err;
}

// Writable in the Windows sense: an existing file without any write permission bit is read-only
// (even for root, who could otherwise write through it).
bool TargetWritable(const std::string& target) {
  struct stat st {};
  if (::lstat(target.c_str(), &st) != 0) return errno == ENOENT;
  if (S_ISDIR(st.st_mode)) return false;
  if (S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0) return false;
  return true;
}

// ---- cabinet names --------------------------------------------------------------------------

// The stored name as folder components, or false when the name is unsafe: empty, absolute
// (leading separator or drive letter), or holding a ".." component.
bool SplitStoredName(const std::string& name, std::vector<std::string>& parts) {
  parts.clear();
  if (name.empty() || name[0] == '\\' || name[0] == '/') return false;
  if (name.size() >= 2 && name[1] == ':' && std::isalpha(static_cast<unsigned char>(name[0])))
    return false;
  std::string part;
  for (std::size_t i = 0; i <= name.size(); ++i) {
    if (i == name.size() || name[i] == '\\' || name[i] == '/') {
      if (part == "..") return false;
      if (!part.empty() && part != ".") parts.push_back(part);
      part.clear();
    } else {
      part += name[i];
    }
  }
  if (!name.empty() && (name.back() == '\\' || name.back() == '/')) return false;
  return !parts.empty();
}

// A header-only cabinet (no folders, no files) is what a writer makes of an empty list; the
// library refuses it as malformed, but it is a valid, empty archive.
bool IsEmptyCabinet(const std::string& path) {
  std::FILE* fp = std::fopen(path.c_str(), "rb");
  if (!fp) return false;
  std::uint8_t h[cab::kHeaderSize];
  const bool read = std::fread(h, 1, sizeof h, fp) == sizeof h;
  std::fseek(fp, 0, SEEK_END);
  const long size = std::ftell(fp);
  std::fclose(fp);
  return read && std::memcmp(h, "MSCF", 4) == 0 && cab::GetU16(h + 0x1A) == 0 &&
         cab::GetU16(h + 0x1C) == 0 && (cab::GetU16(h + 0x1E) & 0x0004) == 0 &&
         cab::GetU32(h + 0x08) == static_cast<std::uint32_t>(size);
}

struct CabDecompressor {
  mscab_decompressor* d = mspack_create_cab_decompressor(&quietSystem);
  mscabd_cabinet* cab = nullptr;
  ~CabDecompressor() {
    if (d && cab) d->close(d, cab);
    if (d) mspack_destroy_cab_decompressor(d);
  }
};

void SetModificationTime(const std::string& path, const mscabd_file* file) {
  const int year = file->date_y < 1980 ? 0 : file->date_y - 1980;
  const auto date = static_cast<std::uint16_t>((year << 9) | (file->date_m << 5) | file->date_d);
  const auto time =
      static_cast<std::uint16_t>((file->time_h << 11) | (file->time_m << 5) | (file->time_s / 2));
  const std::time_t t = DosDateTimeToUnix(date, time);
  struct timespec times[2];
  times[0].tv_sec = t;
  times[0].tv_nsec = 0;
  times[1] = times[0];
  ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

}  // namespace

int ExtractCabinet(const std::string& CabFile, const std::string& DestDir) {
  if (::access(CabFile.c_str(), R_OK) != 0 || IsDirectory(CabFile)) return -1;
  if (!LibraryUsable()) return -1;

  CabDecompressor cabd;
  if (!cabd.d) return -1;
  cabd.cab = cabd.d->open(cabd.d, CabFile.c_str());
  if (!cabd.cab) return IsEmptyCabinet(CabFile) ? 0 : -1;

  std::string dest = DestDir;
  for (char& c : dest)
    if (c == '\\') c = '/';
  while (dest.size() > 1 && dest.back() == '/') dest.pop_back();
  if (!dest.empty() && dest != "/") dest += '/';

  // Every name is checked before anything is written.
  struct Target {
    const mscabd_file* file;
    std::string folder, path;
  };
  std::vector<Target> targets;
  std::vector<std::string> parts;
  for (const mscabd_file* f = cabd.cab->files; f; f = f->next) {
    const std::string raw = f->filename ? f->filename : "";
    const std::string name = (f->attribs & MSCAB_ATTRIB_UTF_NAME) ? raw : AnsiToUtf8(raw);
    if (!SplitStoredName(name, parts)) return -1;
    Target t{f, dest, dest};
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) t.folder += parts[i] + "/";
    t.path = t.folder + parts.back();
    if (!t.folder.empty()) t.folder.pop_back();
    targets.push_back(std::move(t));
  }

  UpdateCreationMode();
  std::string ensured;  // the last folder known to exist
  for (const Target& t : targets) {
    if (t.folder != ensured) {
      if (!ForceDirectories(t.folder)) return -1;
      ensured = t.folder;
    }
    if (!TargetWritable(t.path)) return -1;
    std::string temp;
    const int err = WriteViaTemp(t.path, temp, [&](const char* path) {
      return cabd.d->extract(cabd.d, const_cast<mscabd_file*>(t.file), path);
    });
    if (err != MSPACK_ERR_OK) {
      RemoveIfCreated(temp);  // nothing half-written may stay
      return -1;
    }
    SetModificationTime(temp, t.file);
    if (::rename(temp.c_str(), t.path.c_str()) != 0) {
      RemoveIfCreated(temp);
      return -1;
    }
  }
  return 0;
}

std::string LZExpandedName(const std::string& name, char lastChar) {
  const std::size_t slash = name.find_last_of('/');
  const std::size_t baseStart = slash == std::string::npos ? 0 : slash + 1;
  const std::size_t dot = name.find('.', baseStart);
  if (dot == std::string::npos || name.size() == baseStart) return name;
  if (dot == name.size() - 1) return name.substr(0, dot);
  if (name.back() != '_') return name;
  // A recorded character that cannot be part of a file name counts as not recorded.
  const auto c = static_cast<unsigned char>(lastChar);
  if (c < 0x20 || c == '/' || c == '\\' || c == 0x7F) return name.substr(0, name.size() - 1);
  bool lower = true;
  for (std::size_t i = name.size(); i-- > baseStart;) {
    const auto ch = static_cast<unsigned char>(name[i]);
    if (std::isalpha(ch)) {
      lower = std::islower(ch) != 0;
      break;
    }
  }
  char replacement = lastChar;
  if (std::isalpha(c)) replacement = static_cast<char>(lower ? std::tolower(c) : std::toupper(c));
  return name.substr(0, name.size() - 1) + replacement;
}

bool ExpandLZFile(const std::string& Name) {
  if (!LibraryUsable()) return false;
  msszdd_decompressor* d = mspack_create_szdd_decompressor(&quietSystem);
  if (!d) return false;
  bool ok = false;
  msszddd_header* h = d->open(d, Name.c_str());
  if (!h) {
    // Not in the LZ format: the file already is what it would expand to, so it stays.
    ok = d->last_error(d) == MSPACK_ERR_SIGNATURE;
    mspack_destroy_szdd_decompressor(d);
    return ok;
  }
  const std::string expanded = LZExpandedName(Name, h->missing_char);
  std::string temp;
  if (TargetWritable(expanded)) {
    UpdateCreationMode();
    // libmspack expands until the input ends whatever the header says, so a truncated or
    // padded file is caught by comparing with the recorded length.
    struct stat st {};
    ok = WriteViaTemp(expanded, temp, [&](const char* path) { return d->extract(d, h, path); }) ==
             MSPACK_ERR_OK &&
         ::stat(temp.c_str(), &st) == 0 && st.st_size == h->length &&
         ::rename(temp.c_str(), expanded.c_str()) == 0;
  }
  if (!ok) RemoveIfCreated(temp);
  d->close(d, h);
  mspack_destroy_szdd_decompressor(d);
  if (ok && expanded != Name) ::unlink(Name.c_str());
  return ok;
}

}  // namespace kelvane
