#include "cabinet/huffman.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace kelvane::cab {

namespace {

// Moffat and Katajainen's in-place computation of optimal code lengths. `a` holds the
// frequencies in non-decreasing order; on return a[i] is the depth of the i-th of them.
void MinimumRedundancy(std::uint32_t* a, int n) {
  a[0] += a[1];
  int root = 0, leaf = 2;
  for (int next = 1; next < n - 1; ++next) {
    if (leaf >= n || a[root] < a[leaf]) {
      a[next] = a[root];
      a[root++] = next;
    } else {
      a[next] = a[leaf++];
    }
    if (leaf >= n || (root < next && a[root] < a[leaf])) {
      a[next] += a[root];
      a[root++] = next;
    } else {
      a[next] += a[leaf++];
    }
  }
  a[n - 2] = 0;
  for (int next = n - 3; next >= 0; --next) a[next] = a[a[next]] + 1;
  int avail = 1, used = 0, depth = 0, root2 = n - 2, next = n - 1;
  while (avail > 0) {
    while (root2 >= 0 && static_cast<int>(a[root2]) == depth) {
      ++used;
      --root2;
    }
    while (avail > used) {
      a[next--] = depth;
      --avail;
    }
    avail = 2 * used;
    ++depth;
    used = 0;
  }
}

}  // namespace

void BuildCodeLengths(const std::uint32_t* freq, int count, int maxLength, std::uint8_t* lengths) {
  std::memset(lengths, 0, count);
  std::vector<std::uint64_t> keyed;  // frequency << 16 | symbol, to sort stably by frequency
  keyed.reserve(count);
  for (int i = 0; i < count; ++i)
    if (freq[i]) keyed.push_back((std::uint64_t(freq[i]) << 16) | std::uint64_t(i));
  const int n = static_cast<int>(keyed.size());
  if (n == 0) return;
  if (n == 1) {
    const int used = static_cast<int>(keyed[0] & 0xFFFF);
    lengths[used] = 1;
    lengths[used == 0 ? 1 : 0] = 1;
    return;
  }
  std::sort(keyed.begin(), keyed.end());
  std::vector<std::uint32_t> depth(n);
  for (int i = 0; i < n; ++i) depth[i] = static_cast<std::uint32_t>(keyed[i] >> 16);
  MinimumRedundancy(depth.data(), n);

  // Count the leaves per depth, then pull leaves deeper than the limit up while keeping the
  // code complete: two sibling leaves at depth i become one leaf at i-1 plus one leaf hung
  // under a shallower leaf, which then turns into an inner node.
  const int deepest = static_cast<int>(depth[0]);
  std::vector<int> perDepth(std::max(deepest, maxLength) + 2, 0);
  for (int i = 0; i < n; ++i) ++perDepth[depth[i]];
  for (int i = deepest; i > maxLength; --i) {
    while (perDepth[i] > 0) {
      int j = i - 2;
      while (perDepth[j] == 0) --j;
      perDepth[i] -= 2;
      perDepth[i - 1] += 1;
      perDepth[j + 1] += 2;
      perDepth[j] -= 1;
    }
  }
  // The least frequent symbols take the longest codes.
  int index = 0;
  for (int len = std::min(deepest, maxLength); len >= 1; --len)
    for (int k = 0; k < perDepth[len]; ++k)
      lengths[keyed[index++] & 0xFFFF] = static_cast<std::uint8_t>(len);
}

void BuildCodes(const std::uint8_t* lengths, int count, std::uint16_t* codes) {
  int perLength[17] = {};
  for (int i = 0; i < count; ++i) ++perLength[lengths[i]];
  perLength[0] = 0;
  int next[17] = {};
  int code = 0;
  for (int len = 1; len <= 16; ++len) {
    code = (code + perLength[len - 1]) << 1;
    next[len] = code;
  }
  for (int i = 0; i < count; ++i)
    codes[i] = lengths[i] ? static_cast<std::uint16_t>(next[lengths[i]]++) : 0;
}

}  // namespace kelvane::cab
