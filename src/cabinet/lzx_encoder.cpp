// LZX encoder for cabinet folders.
//
// Overview: every 32 KiB frame is E8-translated in place in a sliding window, then parsed
// either lazily (a match is deferred when one starting one or two bytes later saves more) or
// near-optimally (cheapest path over all match lengths), with a hash-chain match finder that
// also tries the three repeat offsets and a cost model taken from the previous frame's code.
// Consecutive frames share one block (one set of Huffman trees, sent as deltas against the
// previous block's) while that costs fewer bits than separate trees; each frame's bits end on
// a 16-bit boundary so that each becomes one CFDATA. Frames that do not compress go out as
// uncompressed blocks.
//
// Cabinet-specific rules kept here: no match crosses a frame end; offsets never exceed the
// bytes produced so far in the folder nor window - 3; trees are complete (a single used symbol
// is paired with a second one); uncompressed blocks carry the repeat offsets that the next frame
// was parsed with, and a pad byte after an odd size.
#include <algorithm>
#include <cstring>

#include "cabinet/cabformat.h"
#include "cabinet/encoders.h"
#include "cabinet/huffman.h"

namespace kelvane::cab {
namespace {

constexpr int kMinMatch = 2;
constexpr int kMaxMatch = 257;
constexpr int kNumPrimaryLengths = 7;
constexpr int kLengthTreeSize = 249;
constexpr int kPretreeSize = 20;
constexpr int kAlignedSize = 8;
constexpr int kMaxSlots = 50;
constexpr int kMaxMainSize = 256 + 8 * kMaxSlots;
constexpr int kMainLengthLimit = 16;
constexpr int kLengthLengthLimit = 16;
constexpr int kPretreeLengthLimit = 15;
constexpr int kAlignedLengthLimit = 7;

constexpr int kBlockVerbatim = 1;
constexpr int kBlockAligned = 2;
constexpr int kBlockUncompressed = 3;

// Cost of a symbol the previous block did not use (bits); keeps the parser from shunning it.
constexpr int kUnseenSymbolCost = 11;

struct SlotTables {
  std::uint32_t base[kMaxSlots + 1];
  std::uint8_t extra[kMaxSlots + 1];
  SlotTables() {
    std::uint32_t b = 0;
    for (int s = 0; s <= kMaxSlots; ++s) {
      extra[s] = s < 4 ? 0 : s < 36 ? static_cast<std::uint8_t>(s / 2 - 1) : 17;
      base[s] = b;
      b += 1u << extra[s];
    }
  }
};
const SlotTables kSlots;

int NumSlots(int windowBits) {
  static const int table[] = {30, 32, 34, 36, 38, 42, 50};
  return table[windowBits - 15];
}

// Position slot of a formatted offset (real offset + 2; 0..2 are the repeat slots).
inline int SlotOf(std::uint32_t fo) {
  if (fo < 4) return static_cast<int>(fo);
  if (fo < 262144) {
    const int l = 31 - __builtin_clz(fo);
    return 2 * l + static_cast<int>((fo >> (l - 1)) & 1);
  }
  return 36 + static_cast<int>((fo - 262144) >> 17);
}

// 16-bit little-endian words, each filled from its most significant bit.
class BitWriter {
 public:
  void Put(std::uint32_t value, int bits) {
    acc_ = (acc_ << bits) | value;
    pending_ += bits;
    while (pending_ >= 16) {
      pending_ -= 16;
      const std::uint32_t word = static_cast<std::uint32_t>(acc_ >> pending_);
      out_.push_back(static_cast<std::uint8_t>(word));
      out_.push_back(static_cast<std::uint8_t>(word >> 8));
    }
  }
  void Align() {
    if (pending_) Put(0, 16 - pending_);
  }
  bool Aligned() const { return pending_ == 0; }
  void PutByte(std::uint8_t b) { out_.push_back(b); }  // only while aligned
  void PutBytes(const std::uint8_t* p, std::size_t n) { out_.insert(out_.end(), p, p + n); }
  std::vector<std::uint8_t>& Out() { return out_; }
  void Reset() {
    out_.clear();
    acc_ = 0;
    pending_ = 0;
  }

 private:
  std::vector<std::uint8_t> out_;
  std::uint64_t acc_ = 0;
  int pending_ = 0;
};

// Items of a parsed frame: a literal is its byte; a match has bit 31 set, length - 2 in bits
// 21..28 and the formatted offset in bits 0..20.
inline std::uint32_t MatchItem(int length, std::uint32_t fo) {
  return 0x80000000u | (std::uint32_t(length - kMinMatch) << 21) | fo;
}

// Symbol counts of one or more frames.
struct Stats {
  std::uint32_t main[kMaxMainSize] = {};
  std::uint32_t length[kLengthTreeSize] = {};
  std::uint32_t aligned[kAlignedSize] = {};
  std::uint32_t alignedUses = 0;
  std::uint64_t extraBits = 0;  // verbatim offset bits
  void Add(const Stats& o) {
    extraBits += o.extraBits;
    for (int i = 0; i < kMaxMainSize; ++i) main[i] += o.main[i];
    for (int i = 0; i < kLengthTreeSize; ++i) length[i] += o.length[i];
    for (int i = 0; i < kAlignedSize; ++i) aligned[i] += o.aligned[i];
    alignedUses += o.alignedUses;
  }
};

struct Frame {
  std::vector<std::uint8_t> bytes;  // translated, as the decoder's window will hold them
  std::vector<std::uint32_t> items;
  std::uint32_t repeats[3];  // R0..R2 after the frame
  Stats stats;
};

struct Candidate {
  int length = 0;
  std::uint32_t fo = 0;
  int gain = 0;
};

class LzxEncoder final : public FolderEncoder {
 public:
  LzxEncoder(int windowBits, const LzxOptions& options)
      : options_(options),
        windowSize_(1u << windowBits),
        maxOffset_((1u << windowBits) - 3),
        mainSize_(256 + 8 * NumSlots(windowBits)) {
    capacity_ = 2 * windowSize_ + static_cast<std::uint32_t>(kFrameSize);
    buffer_.assign(capacity_ + 16, 0);
    hashBits_ = windowBits <= 16 ? 15 : 16;
    head_.assign(std::size_t(1) << hashBits_, 0);
    chain_.assign(windowSize_, 0);
    InitCosts();
  }

  void AddFrame(const std::uint8_t* data, std::size_t size) override {
    if (position_ - base_ + size > capacity_) Slide();
    std::uint8_t* dst = buffer_.data() + (position_ - base_);
    std::memcpy(dst, data, size);
    E8Encode(dst, size, position_);
    const std::uint32_t start = position_;
    end_ = position_ + static_cast<std::uint32_t>(size);

    Frame frame;
    frame.bytes.assign(dst, dst + size);
    frame.items.reserve(size / 2);
    if (options_.nearOptimal)
      ParseOptimal(frame, start, end_);
    else
      Parse(frame, start, end_);
    std::memcpy(frame.repeats, repeats_, sizeof repeats_);
    position_ = end_;
    Tally(frame);

    // The next frame is parsed with the costs of this one's own code.
    Code own;
    BuildCode(frame.stats, own);
    UpdateCosts(own.main, own.length);

    // Frames share a block while one set of trees for all of them costs fewer bits than
    // separate sets would.
    bool joined = false;
    if (!pending_.empty() && static_cast<int>(pending_.size()) < options_.maxFramesPerBlock) {
      Stats merged = groupStats_;
      merged.Add(frame.stats);
      Code mergedCode;
      BuildCode(merged, mergedCode);
      const std::uint64_t together = CodeBits(merged, mergedCode, previousMain_, previousLength_);
      const std::uint64_t apart =
          groupBits_ + CodeBits(frame.stats, own, groupCode_.main, groupCode_.length);
      if (together <= apart) {
        groupStats_ = merged;
        groupCode_ = mergedCode;
        groupBits_ = together;
        joined = true;
      }
    }
    if (!joined) {
      Flush();
      groupStats_ = frame.stats;
      groupCode_ = own;
      groupBits_ = CodeBits(frame.stats, own, previousMain_, previousLength_);
    }
    pending_.push_back(std::move(frame));
  }

  void Finish() override { Flush(); }

  std::uint64_t PendingBytes() const override {
    return pending_.empty() ? 0 : (groupBits_ + groupStats_.extraBits) / 8;
  }

 private:
  // ---- match finding -------------------------------------------------------------------------

  const std::uint8_t* At(std::uint32_t pos) const { return buffer_.data() + (pos - base_); }

  std::uint32_t Hash(std::uint32_t pos) const {
    const std::uint8_t* p = At(pos);
    const std::uint32_t v = p[0] | (p[1] << 8) | (p[2] << 16);
    return (v * 2654435761u) >> (32 - hashBits_);
  }

  void InsertUpTo(std::uint32_t target) {
    while (inserted_ < target && inserted_ + 2 < end_) {
      const std::uint32_t h = Hash(inserted_);
      chain_[inserted_ & (windowSize_ - 1)] = head_[h];
      head_[h] = inserted_ + 1;
      ++inserted_;
    }
  }

  // Keeps the last window of history at the front of the buffer.
  void Slide() {
    const std::uint32_t used = position_ - base_;
    const std::uint32_t keep = std::min(used, windowSize_);
    std::memmove(buffer_.data(), buffer_.data() + (used - keep), keep);
    base_ = position_ - keep;
  }

  static int MatchLength(const std::uint8_t* a, const std::uint8_t* b, int limit) {
    int n = 0;
    while (n + 8 <= limit) {
      std::uint64_t x, y;
      std::memcpy(&x, a + n, 8);
      std::memcpy(&y, b + n, 8);
      if (x != y) return n + (__builtin_ctzll(x ^ y) >> 3);
      n += 8;
    }
    while (n < limit && a[n] == b[n]) ++n;
    return n;
  }

  int MatchCost(int length, std::uint32_t fo) const {
    const int slot = SlotOf(fo);
    const int header = std::min(length - kMinMatch, kNumPrimaryLengths);
    int cost = mainCost_[256 + slot * 8 + header] + kSlots.extra[slot];
    if (header == kNumPrimaryLengths) cost += lengthCost_[length - kMinMatch - kNumPrimaryLengths];
    return cost;
  }

  // Bits saved (in sixteenths) by coding [pos, pos + length) as this match instead of literals.
  int Gain(std::uint32_t pos, int length, std::uint32_t fo) const {
    const std::uint32_t at = pos - frameStart_;
    return static_cast<int>(literalPrefix_[at + length] - literalPrefix_[at]) -
           16 * MatchCost(length, fo);
  }

  Candidate Find(std::uint32_t pos, std::uint32_t frameEnd, int chainDepth) {
    InsertUpTo(pos);
    Candidate best;
    const int limit = static_cast<int>(std::min<std::uint32_t>(kMaxMatch, frameEnd - pos));
    if (limit >= kMinMatch) {
      const std::uint8_t* cur = At(pos);
      for (int i = 0; i < 3; ++i) {
        const std::uint32_t r = repeats_[i];
        if (r > pos) continue;
        const int len = MatchLength(cur, cur - r, limit);
        if (len >= kMinMatch) {
          const int gain = Gain(pos, len, static_cast<std::uint32_t>(i));
          if (gain > best.gain) best = {len, static_cast<std::uint32_t>(i), gain};
        }
      }
      if (limit >= 3 && pos + 2 < end_) {
        // Candidates come nearest first; a farther one must be longer to be looked at, and it
        // is taken when its estimated saving (length against offset cost) is larger.
        const std::uint32_t maxDistance = std::min(maxOffset_, pos);
        std::uint32_t link = head_[Hash(pos)];
        int depth = best.length >= options_.niceLength ? 0 : chainDepth;
        int longest = std::max(2, best.length);
        while (link && depth-- > 0) {
          const std::uint32_t candidate = link - 1;
          const std::uint32_t distance = pos - candidate;
          if (distance > maxDistance) break;
          const std::uint8_t* ref = cur - distance;
          if (ref[longest] == cur[longest] && ref[0] == cur[0] && ref[1] == cur[1]) {
            const int len = MatchLength(cur, ref, limit);
            if (len > longest) {
              longest = len;
              std::uint32_t fo = distance + 2;
              for (std::uint32_t i = 0; i < 3; ++i)
                if (repeats_[i] == distance) fo = i;
              const int gain = Gain(pos, len, fo);
              if (gain > best.gain) best = {len, fo, gain};
              if (len >= options_.niceLength || len == limit) break;
            }
          }
          link = chain_[candidate & (windowSize_ - 1)];
        }
      }
    }
    InsertUpTo(pos + 1);
    return best;
  }

  void Parse(Frame& frame, std::uint32_t start, std::uint32_t end) {
    frameStart_ = start;
    literalPrefix_.resize(end - start + 1);
    literalPrefix_[0] = 0;
    const std::uint8_t* bytes = At(start);
    for (std::uint32_t i = 0; i < end - start; ++i)
      literalPrefix_[i + 1] = literalPrefix_[i] + literalCost16_[bytes[i]];
    std::uint32_t pos = start;
    while (pos < end) {
      Candidate match = Find(pos, end, options_.chainDepth);
      if (!match.length) {
        frame.items.push_back(*At(pos));
        ++pos;
        continue;
      }
      // Lazy evaluation: a better match starting one or two bytes later wins over this one.
      while (match.length < options_.lazyLength && pos + 1 < end) {
        // Once the match in hand is good, a shorter search for a better one will do.
        const int depth =
            match.length >= options_.goodLength ? options_.chainDepth / 4 : options_.chainDepth;
        const Candidate next = Find(pos + 1, end, depth);
        if (next.gain > match.gain) {
          frame.items.push_back(*At(pos));
          ++pos;
          match = next;
          continue;
        }
        if (match.length <= 2 || pos + 2 >= end) break;
        const Candidate after = Find(pos + 2, end, depth);
        if (after.gain <= match.gain) break;
        frame.items.push_back(*At(pos));
        frame.items.push_back(*At(pos + 1));
        pos += 2;
        match = after;
      }
      frame.items.push_back(MatchItem(match.length, match.fo));
      UpdateRepeats(match.fo);
      pos += static_cast<std::uint32_t>(match.length);
      InsertUpTo(pos);
    }
  }

  // Near-optimal parsing: the cheapest path through the frame over literals, repeat matches and
  // every length of the matches the hash chains offer, with the previous frame's code as the
  // cost model. Repeat offsets are followed along each position's best arrival, which makes the
  // result exact for the path taken though not a global optimum. A very long match is taken
  // without looking inside it.
  struct Node {
    std::uint32_t cost;
    std::uint32_t fo;      // of the step arriving here
    std::uint16_t length;  // of that step; 1 = literal
    std::uint32_t r[3];    // repeat offsets after that step
  };

  void ParseOptimal(Frame& frame, std::uint32_t start, std::uint32_t end) {
    const std::uint32_t n = end - start;
    nodes_.resize(n + 1);
    for (auto& node : nodes_) node.cost = 0xFFFFFFFFu;
    nodes_[0].cost = 0;
    std::memcpy(nodes_[0].r, repeats_, sizeof repeats_);
    auto relax = [&](std::uint32_t to, std::uint32_t cost, int length, std::uint32_t fo,
                     const std::uint32_t* r) {
      Node& node = nodes_[to];
      if (cost >= node.cost) return;
      node.cost = cost;
      node.fo = fo;
      node.length = static_cast<std::uint16_t>(length);
      if (fo == 0 || length == 1) {
        std::memcpy(node.r, r, 3 * sizeof(std::uint32_t));
      } else if (fo == 1) {
        node.r[0] = r[1], node.r[1] = r[0], node.r[2] = r[2];
      } else if (fo == 2) {
        node.r[0] = r[2], node.r[1] = r[1], node.r[2] = r[0];
      } else {
        node.r[0] = fo - 2, node.r[1] = r[0], node.r[2] = r[1];
      }
    };
    std::uint32_t i = 0;
    while (i < n) {
      const std::uint32_t pos = start + i;
      const Node cur = nodes_[i];
      const std::uint8_t* p = At(pos);
      relax(i + 1, cur.cost + literalCost16_[*p], 1, 0, cur.r);
      const int limit = static_cast<int>(std::min<std::uint32_t>(kMaxMatch, n - i));
      int longest = 0;
      if (limit >= kMinMatch) {
        for (std::uint32_t k = 0; k < 3; ++k) {
          const std::uint32_t r = cur.r[k];
          if (r > pos) continue;
          const int len = MatchLength(p, p - r, limit);
          for (int l = kMinMatch; l <= len; ++l)
            relax(i + l, cur.cost + 16 * MatchCost(l, k), l, k, cur.r);
          if (len > longest) longest = len;
        }
      }
      InsertUpTo(pos);
      if (limit >= 3 && pos + 2 < end_ && longest < options_.niceLength) {
        const std::uint32_t maxDistance = std::min(maxOffset_, pos);
        std::uint32_t link = head_[Hash(pos)];
        int depth = options_.chainDepth;
        int found = 2;
        while (link && depth-- > 0) {
          const std::uint32_t candidate = link - 1;
          const std::uint32_t distance = pos - candidate;
          if (distance > maxDistance) break;
          const std::uint8_t* ref = p - distance;
          if (ref[found] == p[found] && ref[0] == p[0] && ref[1] == p[1]) {
            const int len = MatchLength(p, ref, limit);
            if (len > found) {
              std::uint32_t fo = distance + 2;
              for (std::uint32_t k = 0; k < 3; ++k)
                if (cur.r[k] == distance) fo = k;
              for (int l = found + 1; l <= len; ++l)
                relax(i + l, cur.cost + 16 * MatchCost(l, fo), l, fo, cur.r);
              found = len;
              if (len > longest) longest = len;
              if (len >= options_.niceLength || len == limit) break;
            }
          }
          link = chain_[candidate & (windowSize_ - 1)];
        }
      }
      InsertUpTo(pos + 1);
      if (longest >= options_.niceLength) {
        // Take the long match as it is (its end was relaxed above) without looking inside.
        InsertUpTo(pos + static_cast<std::uint32_t>(longest));
        i += static_cast<std::uint32_t>(longest);
        continue;
      }
      ++i;
    }
    // Walk back from the end, then emit forwards.
    steps_.clear();
    for (std::uint32_t at = n; at > 0;) {
      const Node& node = nodes_[at];
      steps_.push_back(at);
      at -= node.length;
    }
    std::uint32_t from = 0;
    for (auto it = steps_.rbegin(); it != steps_.rend(); ++it) {
      const Node& node = nodes_[*it];
      if (node.length == 1) {
        frame.items.push_back(*At(start + from));
      } else {
        frame.items.push_back(MatchItem(node.length, node.fo));
        UpdateRepeats(node.fo);
      }
      from = *it;
    }
  }

  void UpdateRepeats(std::uint32_t fo) {
    if (fo == 0) return;
    if (fo == 1) {
      std::swap(repeats_[0], repeats_[1]);
    } else if (fo == 2) {
      std::swap(repeats_[0], repeats_[2]);
    } else {
      repeats_[2] = repeats_[1];
      repeats_[1] = repeats_[0];
      repeats_[0] = fo - 2;
    }
  }

  // ---- costs ---------------------------------------------------------------------------------

  // Literal costs are in sixteenths of a bit, the rest in bits.
  void InitCosts() {
    for (int i = 0; i < 256; ++i) literalCost16_[i] = 8 * 16;
    for (int i = 0; i < kMaxMainSize; ++i) mainCost_[i] = 9;
    for (int s = 0; s < 3; ++s)
      for (int h = 0; h < 8; ++h) mainCost_[256 + s * 8 + h] = 6;
    for (int i = 0; i < kLengthTreeSize; ++i) lengthCost_[i] = 6;
  }

  void UpdateCosts(const std::uint8_t* mainLens, const std::uint8_t* lengthLens) {
    for (int i = 0; i < 256; ++i)
      literalCost16_[i] = 16 * (mainLens[i] ? mainLens[i] : kUnseenSymbolCost);
    for (int i = 0; i < mainSize_; ++i)
      mainCost_[i] = mainLens[i] ? mainLens[i] : kUnseenSymbolCost;
    for (int i = 0; i < kLengthTreeSize; ++i)
      lengthCost_[i] = lengthLens[i] ? lengthLens[i] : kUnseenSymbolCost;
  }

  // ---- block output --------------------------------------------------------------------------

  void WriteStreamHeader() {
    if (headerWritten_) return;
    writer_.Put(1, 1);  // E8 translation on
    writer_.Put(static_cast<std::uint32_t>(kE8TranslationSize) >> 16, 16);
    writer_.Put(static_cast<std::uint32_t>(kE8TranslationSize) & 0xFFFF, 16);
    headerWritten_ = true;
  }

  void WriteBlockHeader(int type, std::uint32_t size) {
    writer_.Put(static_cast<std::uint32_t>(type), 3);
    writer_.Put(size >> 8, 16);
    writer_.Put(size & 0xFF, 8);
  }

  struct LengthOp {
    std::uint8_t symbol, extraBits, extra;
  };

  // The pretree symbols that send lengths[start, end) as deltas against previous[]; returns
  // their count and fills the pretree frequencies.
  static int PlanLengths(const std::uint8_t* lengths, const std::uint8_t* previous, int start,
                         int end, LengthOp* ops, std::uint32_t* freq) {
    int numOps = 0;
    auto add = [&](int symbol, int extraBits, int extra) {
      ops[numOps++] = {static_cast<std::uint8_t>(symbol), static_cast<std::uint8_t>(extraBits),
                       static_cast<std::uint8_t>(extra)};
      ++freq[symbol];
    };
    auto delta = [&](int i, int value) { return (previous[i] - value + 17) % 17; };
    int i = start;
    while (i < end) {
      int run = 1;
      while (i + run < end && lengths[i + run] == lengths[i]) ++run;
      if (lengths[i] == 0 && run >= 4) {
        while (run >= 20) {
          const int n = std::min(run, 51);
          add(18, 5, n - 20);
          i += n;
          run -= n;
        }
        if (run >= 4) {
          add(17, 4, run - 4);
          i += run;
          run = 0;
        }
        continue;  // fewer than 4 zeros left: single deltas
      }
      if (run >= 4) {
        const int n = std::min(run, 5);
        add(19, 1, n - 4);
        add(delta(i, lengths[i]), 0, 0);
        i += n;
        continue;
      }
      add(delta(i, lengths[i]), 0, 0);
      ++i;
    }
    return numOps;
  }

  // Bits that sending lengths[start, end) takes.
  static std::uint64_t LengthsBits(const std::uint8_t* lengths, const std::uint8_t* previous,
                                   int start, int end) {
    LengthOp ops[kMaxMainSize * 2];
    std::uint32_t freq[kPretreeSize] = {};
    const int numOps = PlanLengths(lengths, previous, start, end, ops, freq);
    std::uint8_t preLens[kPretreeSize];
    BuildCodeLengths(freq, kPretreeSize, kPretreeLengthLimit, preLens);
    std::uint64_t bits = 4 * kPretreeSize;
    for (int k = 0; k < numOps; ++k) bits += preLens[ops[k].symbol] + ops[k].extraBits;
    return bits;
  }

  // Sends lengths[start, end) through a pretree, as deltas against previous[], which then takes
  // the new values.
  void WriteLengths(const std::uint8_t* lengths, std::uint8_t* previous, int start, int end) {
    LengthOp ops[kMaxMainSize * 2];
    std::uint32_t freq[kPretreeSize] = {};
    const int numOps = PlanLengths(lengths, previous, start, end, ops, freq);
    std::uint8_t preLens[kPretreeSize];
    std::uint16_t preCodes[kPretreeSize];
    BuildCodeLengths(freq, kPretreeSize, kPretreeLengthLimit, preLens);
    BuildCodes(preLens, kPretreeSize, preCodes);
    for (int s = 0; s < kPretreeSize; ++s) writer_.Put(preLens[s], 4);
    for (int k = 0; k < numOps; ++k) {
      writer_.Put(preCodes[ops[k].symbol], preLens[ops[k].symbol]);
      if (ops[k].extraBits) writer_.Put(ops[k].extra, ops[k].extraBits);
    }
    std::memcpy(previous + start, lengths + start, end - start);
  }

  struct Code {
    std::uint8_t main[kMaxMainSize];
    std::uint8_t length[kLengthTreeSize];
  };

  void BuildCode(const Stats& stats, Code& code) const {
    BuildCodeLengths(stats.main, mainSize_, kMainLengthLimit, code.main);
    BuildCodeLengths(stats.length, kLengthTreeSize, kLengthLengthLimit, code.length);
  }

  // Symbol and tree bits of a block with this code (extra offset bits left out: they are the
  // same however frames are grouped).
  std::uint64_t CodeBits(const Stats& stats, const Code& code, const std::uint8_t* previousMain,
                         const std::uint8_t* previousLength) const {
    std::uint64_t bits = 0;
    for (int i = 0; i < mainSize_; ++i) bits += std::uint64_t(stats.main[i]) * code.main[i];
    for (int i = 0; i < kLengthTreeSize; ++i)
      bits += std::uint64_t(stats.length[i]) * code.length[i];
    bits += LengthsBits(code.main, previousMain, 0, 256);
    bits += LengthsBits(code.main, previousMain, 256, mainSize_);
    bits += LengthsBits(code.length, previousLength, 0, kLengthTreeSize);
    return bits;
  }

  static void Tally(Frame& frame) {
    Stats& st = frame.stats;
    for (std::uint32_t item : frame.items) {
      if (!(item & 0x80000000u)) {
        ++st.main[item];
        continue;
      }
      const int len2 = static_cast<int>((item >> 21) & 0xFF);
      const std::uint32_t fo = item & 0x1FFFFF;
      const int slot = SlotOf(fo);
      const int header = std::min(len2, kNumPrimaryLengths);
      ++st.main[256 + slot * 8 + header];
      if (header == kNumPrimaryLengths) ++st.length[len2 - kNumPrimaryLengths];
      if (slot >= 3) st.extraBits += kSlots.extra[slot];
      if (kSlots.extra[slot] >= 3) {
        ++st.aligned[(fo - kSlots.base[slot]) & 7];
        ++st.alignedUses;
      }
    }
  }

  // Writes pending_[first, first + count) as one verbatim or aligned block. Returns false, with
  // nothing written and no state changed, when some frame would come out larger than an
  // uncompressed block of it.
  bool WriteCompressedBlock(std::size_t first, std::size_t count) {
    Stats stats;
    std::uint32_t blockSize = 0;
    for (std::size_t f = first; f < first + count; ++f) {
      blockSize += static_cast<std::uint32_t>(pending_[f].bytes.size());
      stats.Add(pending_[f].stats);
    }
    const std::uint32_t* mainFreq = stats.main;
    const std::uint32_t* lengthFreq = stats.length;
    const std::uint32_t* alignedFreq = stats.aligned;
    const std::uint32_t alignedUses = stats.alignedUses;
    std::uint8_t mainLens[kMaxMainSize], lengthLens[kLengthTreeSize], alignedLens[kAlignedSize];
    std::uint16_t mainCodes[kMaxMainSize], lengthCodes[kLengthTreeSize], alignedCodes[kAlignedSize];
    BuildCodeLengths(mainFreq, mainSize_, kMainLengthLimit, mainLens);
    BuildCodeLengths(lengthFreq, kLengthTreeSize, kLengthLengthLimit, lengthLens);
    BuildCodes(mainLens, mainSize_, mainCodes);
    BuildCodes(lengthLens, kLengthTreeSize, lengthCodes);
    bool aligned = false;
    if (alignedUses) {
      BuildCodeLengths(alignedFreq, kAlignedSize, kAlignedLengthLimit, alignedLens);
      std::uint64_t alignedBits = 0;
      for (int a = 0; a < kAlignedSize; ++a)
        alignedBits += std::uint64_t(alignedFreq[a]) * alignedLens[a];
      aligned = alignedBits + 3 * kAlignedSize < 3ull * alignedUses;
      BuildCodes(alignedLens, kAlignedSize, alignedCodes);
    }

    std::uint8_t savedMain[kMaxMainSize], savedLength[kLengthTreeSize];
    std::memcpy(savedMain, previousMain_, sizeof savedMain);
    std::memcpy(savedLength, previousLength_, sizeof savedLength);
    const bool savedHeader = headerWritten_;

    WriteStreamHeader();
    WriteBlockHeader(aligned ? kBlockAligned : kBlockVerbatim, blockSize);
    if (aligned)
      for (int a = 0; a < kAlignedSize; ++a) writer_.Put(alignedLens[a], 3);
    WriteLengths(mainLens, previousMain_, 0, 256);
    WriteLengths(mainLens, previousMain_, 256, mainSize_);
    WriteLengths(lengthLens, previousLength_, 0, kLengthTreeSize);

    std::vector<std::size_t> cuts;
    std::size_t last = 0;
    bool fits = true;
    for (std::size_t f = first; f < first + count; ++f) {
      for (std::uint32_t item : pending_[f].items) {
        if (!(item & 0x80000000u)) {
          writer_.Put(mainCodes[item], mainLens[item]);
          continue;
        }
        const int len2 = static_cast<int>((item >> 21) & 0xFF);
        const std::uint32_t fo = item & 0x1FFFFF;
        const int slot = SlotOf(fo);
        const int header = std::min(len2, kNumPrimaryLengths);
        const int symbol = 256 + slot * 8 + header;
        writer_.Put(mainCodes[symbol], mainLens[symbol]);
        if (header == kNumPrimaryLengths)
          writer_.Put(lengthCodes[len2 - kNumPrimaryLengths],
                      lengthLens[len2 - kNumPrimaryLengths]);
        if (slot < 3) continue;
        const int extraBits = kSlots.extra[slot];
        const std::uint32_t extra = fo - kSlots.base[slot];
        if (aligned && extraBits >= 3) {
          if (extraBits > 3) writer_.Put(extra >> 3, extraBits - 3);
          writer_.Put(alignedCodes[extra & 7], alignedLens[extra & 7]);
        } else if (extraBits) {
          writer_.Put(extra, extraBits);
        }
      }
      writer_.Align();
      const std::size_t cut = writer_.Out().size();
      if (cut - last > pending_[f].bytes.size() + 16) fits = false;
      cuts.push_back(cut);
      last = cut;
    }
    if (!fits) {
      writer_.Reset();
      std::memcpy(previousMain_, savedMain, sizeof savedMain);
      std::memcpy(previousLength_, savedLength, sizeof savedLength);
      headerWritten_ = savedHeader;
      return false;
    }
    last = 0;
    for (std::size_t k = 0; k < count; ++k) {
      EncodedBlock block;
      block.data.assign(writer_.Out().begin() + last, writer_.Out().begin() + cuts[k]);
      block.uncompressed = static_cast<std::uint32_t>(pending_[first + k].bytes.size());
      ready_.push_back(std::move(block));
      last = cuts[k];
    }
    writer_.Reset();
    return true;
  }

  void WriteUncompressedBlock(const Frame& frame) {
    const std::uint32_t size = static_cast<std::uint32_t>(frame.bytes.size());
    WriteStreamHeader();
    WriteBlockHeader(kBlockUncompressed, size);
    if (writer_.Aligned())
      writer_.Put(0, 16);  // readers skip a whole word when the header ends on a boundary
    else
      writer_.Align();
    std::uint8_t r[12];
    for (int i = 0; i < 3; ++i) PutU32(r + 4 * i, frame.repeats[i]);
    writer_.PutBytes(r, sizeof r);
    writer_.PutBytes(frame.bytes.data(), size);
    if (size & 1) writer_.PutByte(0);
    EncodedBlock block;
    block.data = std::move(writer_.Out());
    block.uncompressed = size;
    ready_.push_back(std::move(block));
    writer_.Reset();
  }

  void Flush() {
    if (pending_.empty()) return;
    if (!WriteCompressedBlock(0, pending_.size())) {
      for (std::size_t f = 0; f < pending_.size(); ++f)
        if (pending_.size() == 1 || !WriteCompressedBlock(f, 1))
          WriteUncompressedBlock(pending_[f]);
    }
    pending_.clear();
    groupStats_ = Stats();
  }

  LzxOptions options_;
  std::uint32_t windowSize_, maxOffset_;
  int mainSize_;
  std::uint32_t capacity_;
  std::vector<std::uint8_t> buffer_;
  std::uint32_t base_ = 0;      // folder position of buffer_[0]
  std::uint32_t position_ = 0;  // bytes of the folder taken so far
  std::uint32_t end_ = 0;       // end of the data in the buffer
  int hashBits_;
  std::vector<std::uint32_t> head_, chain_;  // positions + 1; 0 = none
  std::uint32_t inserted_ = 0;
  std::uint32_t repeats_[3] = {1, 1, 1};
  std::vector<Frame> pending_;
  std::vector<Node> nodes_;
  std::vector<std::uint32_t> steps_;
  Stats groupStats_;  // of pending_
  Code groupCode_{};
  std::uint64_t groupBits_ = 0;
  BitWriter writer_;
  bool headerWritten_ = false;
  std::uint8_t previousMain_[kMaxMainSize] = {};
  std::uint8_t previousLength_[kLengthTreeSize] = {};
  int literalCost16_[256];
  std::uint32_t frameStart_ = 0;
  std::vector<std::uint32_t> literalPrefix_;  // literal costs summed from the frame start
  int mainCost_[kMaxMainSize];
  int lengthCost_[kLengthTreeSize];
};

}  // namespace

LzxOptions DefaultLzxOptions(int windowBits) {
  LzxOptions options;
  if (windowBits > 15) {
    // Every position is searched here, so the chain is walked less deeply.
    options.nearOptimal = true;
    options.chainDepth = 16;
    options.niceLength = 32;
  }
  return options;
}

std::unique_ptr<FolderEncoder> MakeLzxEncoder(int windowBits, const LzxOptions& options) {
  return std::make_unique<LzxEncoder>(windowBits, options);
}

}  // namespace kelvane::cab
