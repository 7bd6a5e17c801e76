#include "talvik/morpheme.hpp"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <unordered_set>

#include "talvik/chars.hpp"
#include "talvik/utf8.hpp"

namespace talvik {

void MorphemeMap::reserve(std::size_t n) {
  entries_.reserve(n);
  index_.reserve(n);
}

void MorphemeMap::insert(std::string key, std::string value) {
  auto [it, inserted] = index_.try_emplace(key, entries_.size());
  if (!inserted) {
    entries_[it->second].second = std::move(value);
    return;
  }
  entries_.emplace_back(std::move(key), std::move(value));
}

const std::string* MorphemeMap::find(std::string_view key) const {
  auto it = index_.find(std::string(key));
  return it == index_.end() ? nullptr : &entries_[it->second].second;
}

MapStats map_stats(const MorphemeMap& map) {
  MapStats s;
  s.total_morphemes = map.size();
  for (const auto& [key, value] : map) {
    for (std::size_t i = 0; i < value.size();) {
      // An ill-formed sequence decodes to U+FFFD, which is no PUA code.
      const utf8::Decoded d = utf8::decode(value, i);
      i += d.len;
      switch (pua_class(d.cp)) {
        case PuaClass::Basic: ++s.basic_pua_codes; break;
        case PuaClass::Supplementary: ++s.supplementary_pua_codes; break;
        case PuaClass::None: break;
      }
    }
  }
  return s;
}

namespace {

// A node with more children than this always gets a dense table; below it, a
// dense table is used only while it wastes at most three slots per child.
// Arabic keys make most nodes dense anyway: the children of a lead byte are
// continuation bytes packed into a range of at most 64, and the children
// after a whole letter are the few lead bytes D8..DB.
constexpr std::size_t kMaxSparseChildren = 8;
constexpr std::size_t kDenseSlotsPerChild = 4;

}  // namespace

MorphemeTrie::MorphemeTrie() : nodes_(1) {}

// Built from the keys in byte order rather than by inserting one key at a
// time, so that every node's children are known when its slots are laid out
// and nothing is allocated per node. Node and slot indices are 32-bit, which
// bounds the total key bytes at 4 GiB.
MorphemeTrie MorphemeTrie::build(const std::vector<Pair>& pairs) {
  MorphemeTrie t;
  t.entry_count_ = pairs.size();
  if (pairs.empty()) return t;

  // The later of two pairs with one key wins, as with insertions in order: a
  // stable sort keeps equal keys in insertion order, and the last one stays.
  std::vector<std::size_t> order(pairs.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return pairs[a].first < pairs[b].first; });
  std::vector<Pair> unique;
  unique.reserve(pairs.size());
  std::size_t pool_size = 0;
  for (const std::size_t i : order) {
    if (!unique.empty() && unique.back().first == pairs[i].first) {
      unique.back() = pairs[i];
    } else {
      unique.push_back(pairs[i]);
    }
  }
  std::size_t key_bytes = 0;
  for (const auto& [key, value] : unique) {
    key_bytes += key.size();
    pool_size += value.size();
    if (!t.repair_output_ && !(utf8::is_valid(key) && utf8::is_valid(value))) t.repair_output_ = true;
  }
  t.pool_.reserve(pool_size);
  t.values_.reserve(unique.size());
  t.nodes_.reserve(std::min(key_bytes, std::size_t{1} << 24) + 1);

  // Breadth first: each pending node owns the run of sorted keys that share its
  // prefix of `depth` bytes. The top levels, which every walk visits, end up
  // next to each other at the front of nodes_.
  struct Pending {
    std::size_t begin, end, depth;
    std::uint32_t node;
  };
  std::vector<Pending> queue{{0, unique.size(), 0, 0}};
  for (std::size_t q = 0; q < queue.size(); ++q) {
    auto [begin, end, depth, node] = queue[q];
    // Sorting puts the key that ends here (at most one) first in the run.
    if (unique[begin].first.size() == depth) {
      const std::string_view value = unique[begin].second;
      t.values_.push_back({t.pool_.size(), value.size()});
      t.pool_.append(value);
      t.nodes_[node].value = static_cast<std::uint32_t>(t.values_.size());
      ++begin;
    }
    if (begin == end) continue;

    const auto label_at = [&](std::size_t i) { return static_cast<unsigned char>(unique[i].first[depth]); };
    std::size_t count = 0;
    for (std::size_t i = begin; i < end; ++i) count += i == begin || label_at(i) != label_at(i - 1);
    const unsigned lo = label_at(begin);
    const std::size_t width = label_at(end - 1) - lo + 1;
    const bool root = node == 0;
    const bool dense = !root && (count > kMaxSparseChildren || width <= kDenseSlotsPerChild * count);
    const auto first_child = static_cast<std::uint32_t>(t.nodes_.size());
    t.nodes_.resize(t.nodes_.size() + count);

    const auto slots = static_cast<std::uint32_t>(t.children_.size());
    if (!root) {
      Node& n = t.nodes_[node];
      n.slots = slots;
      n.width = static_cast<std::uint16_t>(dense ? width : count);
      n.lo = static_cast<std::uint8_t>(lo);
      n.dense = dense;
      t.labels_.resize(slots + n.width, 0);
      t.children_.resize(slots + n.width, 0);
    }
    std::uint32_t next = first_child;
    for (std::size_t i = begin; i < end;) {
      const unsigned char label = label_at(i);
      std::size_t j = i + 1;
      while (j < end && label_at(j) == label) ++j;
      if (root) {
        t.root_children_[label] = next;
      } else {
        const std::size_t slot = slots + (dense ? label - lo : next - first_child);
        t.labels_[slot] = label;
        t.children_[slot] = next;
      }
      queue.push_back({i, j, depth + 1, next});
      ++next;
      i = j;
    }
  }
  return t;
}

MorphemeTrie MorphemeTrie::forward(const MorphemeMap& map) {
  std::vector<Pair> pairs;
  pairs.reserve(map.size());
  for (const auto& [morpheme, code] : map) pairs.emplace_back(morpheme, code);
  return build(pairs);
}

// Building from (code, morpheme) in map order lets the later morpheme win a
// shared code, exactly as inserting into a code -> morpheme map first would;
// only the entry count differs, being that map's size.
MorphemeTrie MorphemeTrie::reverse(const MorphemeMap& map) {
  std::vector<Pair> pairs;
  pairs.reserve(map.size());
  std::unordered_set<std::string_view> codes;
  codes.reserve(map.size());
  for (const auto& [morpheme, code] : map) {
    pairs.emplace_back(code, morpheme);
    codes.insert(code);
  }
  MorphemeTrie t = build(pairs);
  t.entry_count_ = codes.size();
  return t;
}

inline std::uint32_t MorphemeTrie::child(const Node& node, unsigned char byte) const noexcept {
  if (node.dense) {
    const unsigned i = static_cast<unsigned>(byte) - node.lo;  // wraps for bytes below lo
    return i < node.width ? children_[node.slots + i] : 0;
  }
  const std::uint8_t* labels = labels_.data() + node.slots;
  for (unsigned i = 0; i < node.width; ++i) {
    if (labels[i] == byte) return children_[node.slots + i];
  }
  return 0;
}

namespace {

// Output bytes written through a raw pointer into a string sized ahead; grows
// by doubling when a value outgrows the input-sized start.
class Output {
 public:
  explicit Output(std::size_t capacity) { buffer_.resize(capacity); }

  void append(const char* data, std::size_t n) {
    if (n > buffer_.size() - used_) grow(n);
    std::memcpy(buffer_.data() + used_, data, n);
    used_ += n;
  }
  void push(char c) {
    if (used_ == buffer_.size()) grow(1);
    buffer_[used_++] = c;
  }
  [[nodiscard]] std::string take() && {
    buffer_.resize(used_);
    return std::move(buffer_);
  }

 private:
  void grow(std::size_t n) { buffer_.resize(std::max(buffer_.size() * 2, used_ + n)); }

  std::string buffer_;
  std::size_t used_ = 0;
};

}  // namespace

// Why well-formed text and strings need no repair pass: a well-formed key starts
// with a byte that begins a character (never a continuation byte 80..BF) and
// ends where a character ends. So a key can only match at a character boundary
// of well-formed text and then covers whole characters; where nothing matches,
// the bytes copied one at a time up to the next boundary are continuation
// bytes, at which no key can start. The output is whole characters of the text
// and whole well-formed values, hence well-formed.
std::string MorphemeTrie::replace_longest(std::string_view text) const {
  if (entry_count_ == 0) return std::string(text);
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  Output out(n);
  std::size_t p = 0;
  while (p < n) {
    std::uint32_t node = root_children_[s[p]];
    if (node == 0) {
      // No key starts with this byte: copy it with every following byte of the
      // same kind at once (spaces, Latin text, continuation bytes).
      std::size_t q = p + 1;
      while (q < n && root_children_[s[q]] == 0) ++q;
      out.append(text.data() + p, q - p);
      p = q;
      continue;
    }
    const std::size_t rest = n - p;
    std::size_t depth = 1;
    std::size_t matched = 0;
    std::uint32_t value = 0;
    for (;;) {
      const Node& current = nodes_[node];
      if (current.value != 0) {
        value = current.value;
        matched = depth;
      }
      if (depth == rest) break;
      node = child(current, s[p + depth]);
      if (node == 0) break;
      ++depth;
    }
    if (matched != 0) {
      const ValueRef& v = values_[value - 1];
      out.append(pool_.data() + v.offset, v.length);
      p += matched;
    } else {
      out.push(text[p]);
      ++p;
    }
  }
  std::string result = std::move(out).take();
  if (repair_output_) return utf8::to_valid_lossy(std::move(result));
  return result;
}

}  // namespace talvik
