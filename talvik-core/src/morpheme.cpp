#include "talvik/morpheme.hpp"

#include <algorithm>
#include <cstring>
#include <functional>
#include <limits>
#include <stdexcept>
#include <numeric>
#include <unordered_set>

#include "talvik/chars.hpp"
#include "talvik/utf8.hpp"

namespace talvik {

void MorphemeMap::reserve(std::size_t n) {
  entries_.reserve(n);
  if (n * 2 > slots_.size()) grow_index(n * 2);
}

// The slot holding `key`, or the empty slot where it would go. The table is
// never more than half full, so the probe always ends.
std::size_t MorphemeMap::slot_of(std::string_view key) const noexcept {
  const std::size_t mask = slots_.size() - 1;
  std::size_t i = std::hash<std::string_view>{}(key) & mask;
  while (slots_[i] != 0 && entries_[slots_[i] - 1].first != key) i = (i + 1) & mask;
  return i;
}

void MorphemeMap::grow_index(std::size_t capacity) {
  std::size_t size = 16;
  while (size < capacity) size *= 2;
  slots_.assign(size, 0);
  for (std::size_t pos = 0; pos < entries_.size(); ++pos) {
    slots_[slot_of(entries_[pos].first)] = static_cast<std::uint32_t>(pos + 1);
  }
}

void MorphemeMap::insert(std::string key, std::string value) {
  if ((entries_.size() + 1) * 2 > slots_.size()) grow_index((entries_.size() + 1) * 4);
  const std::size_t slot = slot_of(key);
  if (slots_[slot] != 0) {
    entries_[slots_[slot] - 1].second = std::move(value);
    return;
  }
  if (entries_.size() >= std::numeric_limits<std::uint32_t>::max()) throw std::length_error("morpheme map too large");
  entries_.emplace_back(std::move(key), std::move(value));
  slots_[slot] = static_cast<std::uint32_t>(entries_.size());
}

const std::string* MorphemeMap::find(std::string_view key) const {
  if (slots_.empty()) return nullptr;
  const std::uint32_t pos = slots_[slot_of(key)];
  return pos == 0 ? nullptr : &entries_[pos - 1].second;
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

// Values and runs of text up to this many bytes are copied as one fixed-size
// chunk (see Output).
constexpr std::size_t kChunk = 16;

constexpr std::uint64_t kDense = std::uint64_t{1} << 49;

constexpr std::size_t label_words(std::size_t count) { return (count + 7) / 8; }

}  // namespace

MorphemeTrie::MorphemeTrie() : nodes_(1, 0) {}

// Built from the keys in byte order rather than by inserting one key at a
// time, so that every node's children are known when its record is laid out
// and nothing is allocated per node. Offsets are 32-bit, which bounds the
// trie at 4 Gi words (32 GiB).
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
  for (const std::size_t i : order) {
    if (!unique.empty() && unique.back().first == pairs[i].first) {
      unique.back() = pairs[i];
    } else {
      unique.push_back(pairs[i]);
    }
  }
  std::size_t pool_size = 0;
  for (const auto& [key, value] : unique) {
    pool_size += value.size();
    if (!t.repair_output_ && !(utf8::is_valid(key) && utf8::is_valid(value))) t.repair_output_ = true;
  }
  t.pool_.reserve(pool_size + kChunk);
  t.values_.reserve(unique.size());
  const bool by_code_point = std::all_of(unique.begin(), unique.end(), [](const Pair& pair) {
    return !pair.first.empty() && utf8::decode(pair.first, 0).valid && utf8::decode(pair.first, 0).len == pair.first.size();
  });
  if (by_code_point) t.pages_.assign((0x10FFFF >> 8) + 1, 0);

  // Depth first, children in byte order: each pending node owns the run of
  // sorted keys that share its prefix of `depth` bytes, and knows which link of
  // its parent must name it. A node's first child is laid out right after it,
  // so a walk down a common path reads neighbouring memory (this measured some
  // 5-8% faster on Arabic text than breadth-first order).
  constexpr std::size_t kFromRoot = ~std::size_t{0};
  struct Pending {
    std::size_t begin, end, depth;
    std::size_t parent_link;  // index into nodes_, or kFromRoot
    unsigned char label;
    std::uint64_t taken;      // the value a walk takes at the parent (record word 0)
  };
  std::vector<Pending> stack{{0, unique.size(), 0, 0, 0, 0}};
  std::vector<Pending> children;
  while (!stack.empty()) {
    auto [begin, end, depth, parent_link, label, taken] = stack.back();
    stack.pop_back();
    children.clear();
    const bool root = depth == 0;
    const std::size_t record = root ? 0 : t.nodes_.size();

    // Sorting puts the key that ends here (at most one) first in the run.
    // The empty key's value is never taken, so the root keeps none.
    if (unique[begin].first.size() == depth) {
      if (!root) {
        const std::string_view v = unique[begin].second;
        t.values_.push_back({t.pool_.size(), v.size()});
        t.pool_.append(v);
        taken = t.values_.size() | std::uint64_t{depth} << 32;
        if (by_code_point) t.index_code_point(unique[begin].first, static_cast<std::uint32_t>(t.values_.size()));
      }
      ++begin;
    }
    const auto label_at = [&](std::size_t i) { return static_cast<unsigned char>(unique[i].first[depth]); };
    std::size_t count = 0;
    unsigned lo = 0;
    std::size_t width = 0;
    if (begin < end) {
      for (std::size_t i = begin; i < end; ++i) count += i == begin || label_at(i) != label_at(i - 1);
      lo = label_at(begin);
      width = label_at(end - 1) - lo + 1;
    }
    const bool dense = count > kMaxSparseChildren || width <= kDenseSlotsPerChild * count;
    const std::size_t links = dense ? width : count;
    const std::size_t first_link = record + 1 + (dense ? 0 : label_words(count));
    if (!root) {
      t.nodes_.resize(first_link + links, 0);
      const Link link = record | std::uint64_t{lo} << 32 | std::uint64_t{links} << 40 | (dense ? kDense : 0);
      (parent_link == kFromRoot ? t.root_links_[label] : t.nodes_[parent_link]) = link;
    }
    t.nodes_[record] = taken;
    auto* labels = reinterpret_cast<unsigned char*>(t.nodes_.data() + record + 1);

    std::size_t g = 0;
    for (std::size_t i = begin; i < end; ++g) {
      const unsigned char c = label_at(i);
      std::size_t j = i + 1;
      while (j < end && label_at(j) == c) ++j;
      std::size_t slot = kFromRoot;
      if (!root) {
        slot = first_link + (dense ? c - lo : g);
        if (!dense) labels[g] = c;
      }
      children.push_back({i, j, depth + 1, slot, c, taken});
      i = j;
    }
    stack.insert(stack.end(), children.rbegin(), children.rend());
  }
  t.pool_.append(kChunk, '\0');  // a chunk can be read from any value
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

void MorphemeTrie::index_code_point(std::string_view key, std::uint32_t value) {
  const char32_t cp = utf8::decode(key, 0).cp;
  std::uint32_t& page = pages_[cp >> 8];
  if (page == 0) {
    page_slots_.resize(page_slots_.size() + 256, 0);
    page = static_cast<std::uint32_t>(page_slots_.size() / 256);
  }
  page_slots_[(page - 1) * 256 + (cp & 0xFF)] = value;
}

inline std::uint32_t MorphemeTrie::code_point_value(char32_t cp) const noexcept {
  const std::uint32_t page = pages_[cp >> 8];
  return page == 0 ? 0 : page_slots_[(page - 1) * 256 + (cp & 0xFF)];
}

inline MorphemeTrie::Link MorphemeTrie::child(Link node, unsigned char byte) const noexcept {
  const std::uint64_t* record = nodes_.data() + static_cast<std::uint32_t>(node);
  const auto lo = static_cast<unsigned>(node >> 32) & 0xFF;
  const auto width = static_cast<unsigned>(node >> 40) & 0x1FF;
  if ((node & kDense) != 0) {
    const unsigned i = static_cast<unsigned>(byte) - lo;  // wraps for bytes below lo
    return i < width ? record[1 + i] : 0;
  }
  const auto* labels = reinterpret_cast<const unsigned char*>(record + 1);
  for (unsigned i = 0; i < width; ++i) {
    if (labels[i] == byte) return record[1 + label_words(width) + i];
  }
  return 0;
}

// Output bytes written through an index into a string sized ahead, which
// always keeps room for one more chunk past what is written: a short copy (a
// code, a space) then moves a whole chunk, a fixed-size copy that compiles to
// a load and a store instead of a call. It starts at the input's size and
// doubles when values outgrow it.
class MorphemeTrie::Output {
 public:
  explicit Output(std::size_t capacity) { buffer_.resize(capacity + kChunk); }

  void append(const char* data, std::size_t n) {
    reserve(n + kChunk);
    std::memcpy(buffer_.data() + used_, data, n);
    used_ += n;
  }
  // n <= kChunk, and kChunk bytes are readable at data.
  void append_short(const char* data, std::size_t n) {
    std::memcpy(buffer_.data() + used_, data, kChunk);
    used_ += n;
    reserve(kChunk);
  }
  void push(char c) {
    buffer_[used_++] = c;
    reserve(kChunk);
  }
  [[nodiscard]] std::string take() && {
    buffer_.resize(used_);
    return std::move(buffer_);
  }

 private:
  void reserve(std::size_t room) {
    if (buffer_.size() - used_ < room) buffer_.resize(std::max(buffer_.size() * 2, used_ + room));
  }

  std::string buffer_;
  std::size_t used_ = 0;
};

// No key starts with the byte at p: copies it with every following byte of the
// same kind at once (spaces, Latin text, continuation bytes); returns where the
// run ends.
std::size_t MorphemeTrie::copy_keyless_run(std::string_view text, std::size_t p, Output& out) const {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::size_t q = p + 1;
  while (q < n && root_links_[s[q]] == 0) ++q;
  if (q - p <= kChunk && n - p >= kChunk) {
    out.append_short(text.data() + p, q - p);
  } else {
    out.append(text.data() + p, q - p);
  }
  return q;
}

// Why well-formed text and strings need no repair pass: a well-formed key starts
// with a byte that begins a character (never a continuation byte 80..BF) and
// ends where a character ends. So a key can only match at a character boundary
// of well-formed text and then covers whole characters; where nothing matches,
// the bytes copied one at a time up to the next boundary are continuation
// bytes, at which no key can start. The output is whole characters of the text
// and whole well-formed values, hence well-formed. (Ill-formed text, which only
// a C++ caller can pass, keeps its faults unless the trie forces a repair.)
std::string MorphemeTrie::replace_longest(std::string_view text) const {
  if (entry_count_ == 0) return std::string(text);
  if (!pages_.empty()) return replace_code_points(text);
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  Output out(n);
  std::size_t p = 0;
  while (p < n) {
    Link node = root_links_[s[p]];
    if (node == 0) {
      p = copy_keyless_run(text, p, out);
      continue;
    }
    const std::size_t rest = n - p;
    std::size_t depth = 1;
    for (;;) {
      if (depth == rest) break;
      const Link next = child(node, s[p + depth]);
      if (next == 0) break;
      node = next;
      ++depth;
    }
    const std::uint64_t taken = nodes_[static_cast<std::uint32_t>(node)];
    if (taken != 0) {
      const ValueRef& v = values_[static_cast<std::uint32_t>(taken) - 1];
      if (v.length <= kChunk) {
        out.append_short(pool_.data() + v.offset, v.length);  // the pool is padded
      } else {
        out.append(pool_.data() + v.offset, v.length);
      }
      p += taken >> 32;
    } else {
      out.push(text[p]);
      ++p;
    }
  }
  std::string result = std::move(out).take();
  if (repair_output_) return utf8::to_valid_lossy(std::move(result));
  return result;
}

// replace_longest for a trie whose keys are all single code points. No key is
// a prefix of another, so the longest match at a position is the character
// there if it is a key, else nothing; where the byte walk would copy a
// character's lead byte and then its continuation bytes (at which no
// well-formed key starts), this copies the character at once. Bytes that
// start no character copy one at a time, as in the walk.
std::string MorphemeTrie::replace_code_points(std::string_view text) const {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  Output out(n);
  std::size_t p = 0;
  while (p < n) {
    if (root_links_[s[p]] == 0) {
      p = copy_keyless_run(text, p, out);
      continue;
    }
    const utf8::Decoded d = utf8::decode(text, p);
    const std::uint32_t value = d.valid ? code_point_value(d.cp) : 0;
    if (value != 0) {
      const ValueRef& v = values_[value - 1];
      if (v.length <= kChunk) {
        out.append_short(pool_.data() + v.offset, v.length);  // the pool is padded
      } else {
        out.append(pool_.data() + v.offset, v.length);
      }
      p += d.len;
    } else {
      const std::size_t len = d.valid ? d.len : 1;
      if (n - p >= kChunk) {
        out.append_short(text.data() + p, len);
      } else {
        out.append(text.data() + p, len);
      }
      p += len;
    }
  }
  std::string result = std::move(out).take();
  if (repair_output_) return utf8::to_valid_lossy(std::move(result));
  return result;
}

}  // namespace talvik
