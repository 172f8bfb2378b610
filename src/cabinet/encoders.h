#pragma once
// Internal: the folder encoders behind the cabinet writer. A folder is one compression stream;
// the writer feeds it 32 KiB frames (only the last may be shorter) and takes back one CFDATA
// payload per frame. Encoders may hold frames back (LZX groups several frames into one block)
// and hand them out later; Finish() releases the rest. An encoder that cannot make a frame
// smaller stores it in its format's raw form.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

namespace kelvane::cab {

struct EncodedBlock {
  std::vector<std::uint8_t> data;  // CFDATA payload
  std::uint32_t uncompressed = 0;  // cbUncomp
};

class FolderEncoder {
 public:
  virtual ~FolderEncoder() = default;
  virtual void AddFrame(const std::uint8_t* data, std::size_t size) = 0;
  virtual void Finish() {}
  // Estimated compressed size of the frames held back, for the folder threshold.
  virtual std::uint64_t PendingBytes() const { return 0; }
  bool TakeBlock(EncodedBlock& block) {
    if (ready_.empty()) return false;
    block = std::move(ready_.front());
    ready_.pop_front();
    return true;
  }

 protected:
  std::deque<EncodedBlock> ready_;
};

std::unique_ptr<FolderEncoder> MakeStoredEncoder();
// zlib level 1..9; each block is one complete deflate stream that may refer to the previous one.
std::unique_ptr<FolderEncoder> MakeMszipEncoder(int level = 6);

// Tuning of the LZX encoder; the defaults are what the writer uses.
struct LzxOptions {
  int chainDepth = 24;         // hash-chain candidates examined per position
  int niceLength = 48;         // a match this long ends the search
  int lazyLength = 32;         // a match this long is taken without looking one byte ahead
  int goodLength = 8;          // past this length the look-ahead searches a quarter of the chain
  bool nearOptimal = false;    // minimum-cost parsing instead of lazy matching
  int maxFramesPerBlock = 16;  // frames that may share one set of Huffman trees
};
// What the writer uses per window: lazy matching for the 32 KiB window (the one builds use, kept
// fast), near-optimal parsing for the larger ones.
LzxOptions DefaultLzxOptions(int windowBits);
std::unique_ptr<FolderEncoder> MakeLzxEncoder(int windowBits, const LzxOptions& options);
inline std::unique_ptr<FolderEncoder> MakeLzxEncoder(int windowBits) {
  return MakeLzxEncoder(windowBits, DefaultLzxOptions(windowBits));
}

}  // namespace kelvane::cab
