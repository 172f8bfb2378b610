// MSZIP: "CK" + one complete raw-deflate stream per CFDATA. The history carries across blocks
// (the previous block is the next one's preset dictionary), the Huffman tables do not; every
// stream ends with a final block so that strict readers see a finished stream.
#include <zlib.h>

#include <cstring>
#include <new>

#include "cabinet/cabformat.h"
#include "cabinet/encoders.h"

namespace kelvane::cab {
namespace {

constexpr std::size_t kMaxMszipPayload = kFrameSize + 12;

class StoredEncoder final : public FolderEncoder {
 public:
  void AddFrame(const std::uint8_t* data, std::size_t size) override {
    EncodedBlock block;
    block.data.assign(data, data + size);
    block.uncompressed = static_cast<std::uint32_t>(size);
    ready_.push_back(std::move(block));
  }
};

class MszipEncoder final : public FolderEncoder {
 public:
  explicit MszipEncoder(int level) {
    std::memset(&stream_, 0, sizeof stream_);
    if (deflateInit2(&stream_, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
      throw std::bad_alloc();  // the only way it fails with valid parameters
    out_.resize(deflateBound(&stream_, kFrameSize) + 16);
  }
  ~MszipEncoder() override { deflateEnd(&stream_); }

  void AddFrame(const std::uint8_t* data, std::size_t size) override {
    EncodedBlock block;
    block.uncompressed = static_cast<std::uint32_t>(size);
    deflateReset(&stream_);
    if (!previous_.empty())
      deflateSetDictionary(&stream_, previous_.data(), static_cast<uInt>(previous_.size()));
    stream_.next_in = const_cast<Bytef*>(data);
    stream_.avail_in = static_cast<uInt>(size);
    stream_.next_out = out_.data() + 2;
    stream_.avail_out = static_cast<uInt>(out_.size() - 2);
    int rc = deflate(&stream_, Z_FINISH);
    const std::size_t produced = out_.size() - 2 - stream_.avail_out;
    if (rc == Z_STREAM_END && produced + 2 <= kMaxMszipPayload) {
      out_[0] = 'C';
      out_[1] = 'K';
      block.data.assign(out_.begin(), out_.begin() + 2 + produced);
    } else {
      // One final stored deflate block: deterministic and within the format's limit.
      block.data.resize(7 + size);
      std::uint8_t* p = block.data.data();
      p[0] = 'C';
      p[1] = 'K';
      p[2] = 0x01;  // BFINAL = 1, BTYPE = 00
      PutU16(p + 3, static_cast<std::uint16_t>(size));
      PutU16(p + 5, static_cast<std::uint16_t>(~size));
      std::memcpy(p + 7, data, size);
    }
    previous_.assign(data, data + size);
    ready_.push_back(std::move(block));
  }

 private:
  z_stream stream_;
  std::vector<std::uint8_t> out_;
  std::vector<std::uint8_t> previous_;
};

}  // namespace

std::unique_ptr<FolderEncoder> MakeStoredEncoder() { return std::make_unique<StoredEncoder>(); }
std::unique_ptr<FolderEncoder> MakeMszipEncoder(int level) {
  return std::make_unique<MszipEncoder>(level);
}

}  // namespace kelvane::cab
