#pragma once
// TCABFile: packs a list of files into one Microsoft Cabinet archive, with stored, MSZIP or LZX
// compression (LZX windows 2^15 .. 2^21).
//
//   TCABFile cab;
//   auto& e = cab.CABFileContents.Add();
//   e.Name = "/src/app/MyApp.exe";  e.RelPath = "bin";     // stored as "bin\MyApp.exe"
//   cab.CABFile = "/out/MyApp.CAB";
//   cab.CompressionType = typLZX;  cab.LZXMemory = lzxLowest;
//   cab.Compress();
//
// The cabinet carries one set (identifier 12345, cabinet number 0), a new folder whenever a
// folder's compressed data reaches 900000 bytes (checked after each file), each file's
// last-write time as local DOS date and time and its attributes masked with 0x27. Names are
// stored in Windows-1252; a name that code page cannot represent is stored in UTF-8 with the
// format's UTF-8 name flag rather than with '?' in it.
//
// Failures: a source that cannot be opened to measure its size raises EInOutError; any other
// failure raises ECABFileError with one of the writer's fixed texts. The cabinet is written
// beside its final name and renamed into place, so a failed Compress leaves no partial cabinet
// (and any old cabinet of that name untouched). Sources are read in 32 KiB pieces.
#include <cstdint>
#include <deque>
#include <functional>
#include <string>

#include "platform/errors.h"

namespace kelvane {

enum TCompressionType { typNone = 0, typMSZIP = 1, typLZX = 2 };
enum TLZXMemory { lzxLowest, lzxLower, lzxLow, lzxMedium, lzxHigh, lzxHigher, lzxHighest };

class TCABFile;

// pos: source bytes compressed so far; tot: total size of the sources measured before
// compression began; both the low 32 bits of 64-bit counters.
using TCompressProgress = std::function<void(TCABFile* Sender, std::int32_t pos, std::int32_t tot)>;

class ECABFileError : public EKelvaneError {
 public:
  using EKelvaneError::EKelvaneError;
  const char* ClassName() const override { return "ECABFileError"; }
};

// The writer's text for a cabinet-library error code ("No error", "Failure opening file to be
// stored in cabinet", ..., "Unknown error" for codes outside 0..8).
std::string CABErrorText(int code);

struct TCABFileEntry {
  std::string Name;     // source path; a relative path is taken from the current directory
  std::string RelPath;  // folder part of the stored name; empty stores the bare file name
};

class TCABFileContents {
 public:
  explicit TCABFileContents(TCABFile* owner) : owner_(owner) {}
  TCABFileEntry& Add() { return items_.emplace_back(); }
  TCABFileEntry& Items(int index) { return items_.at(index); }
  const TCABFileEntry& Items(int index) const { return items_.at(index); }
  TCABFileEntry& operator[](int index) { return items_.at(index); }
  int Count() const { return static_cast<int>(items_.size()); }
  void Clear() { items_.clear(); }
  TCABFile* Owner() const { return owner_; }

 private:
  TCABFile* owner_;
  std::deque<TCABFileEntry> items_;  // a deque keeps references from Add() valid
};

class TCABFile {
 public:
  TCABFile() = default;
  TCABFile(const TCABFile&) = delete;
  TCABFile& operator=(const TCABFile&) = delete;

  TCABFileContents CABFileContents{this};
  std::string CABFile;
  TCompressionType CompressionType = typMSZIP;
  TLZXMemory LZXMemory = lzxLowest;
  TCompressProgress OnCompressProgress;

  std::string Version() const { return "1.5.3.0"; }

  // Writes the cabinet; true when it was written (the writer is built in, so there is no
  // missing library to report). Raises as described above.
  bool Compress();

  // The CFFOLDER compression code for the current settings (0, 1, or 0x0F03 .. 0x1503).
  std::uint16_t CompressionCode() const;
};

}  // namespace kelvane
