#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The morpheme map (morpheme -> code) and the byte trie that replaces keys by
// values with a leftmost-longest scan.
namespace talvik {

// Keys are unique and keep the order of first insertion; inserting an existing
// key replaces its value in place. Nothing about keys or values is checked.
class MorphemeMap {
 public:
  using Entry = std::pair<std::string, std::string>;

  MorphemeMap() = default;

  void reserve(std::size_t n);
  void insert(std::string key, std::string value);

  [[nodiscard]] std::size_t size() const noexcept { return entries_.size(); }
  [[nodiscard]] bool empty() const noexcept { return entries_.empty(); }
  [[nodiscard]] const std::vector<Entry>& entries() const noexcept { return entries_; }
  [[nodiscard]] auto begin() const noexcept { return entries_.begin(); }
  [[nodiscard]] auto end() const noexcept { return entries_.end(); }
  // The value of `key`, or nullptr.
  [[nodiscard]] const std::string* find(std::string_view key) const;

  friend bool operator==(const MorphemeMap& a, const MorphemeMap& b) { return a.entries_ == b.entries_; }

 private:
  // Open addressing over positions in entries_ (position + 1; 0 is an empty
  // slot), so keys are stored once and lookups compare against entries_.
  [[nodiscard]] std::size_t slot_of(std::string_view key) const noexcept;
  void grow_index(std::size_t capacity);

  std::vector<Entry> entries_;
  std::vector<std::uint32_t> slots_;
};

struct MapStats {
  std::size_t total_morphemes = 0;
  std::size_t basic_pua_codes = 0;          // code points U+E000..U+F8FF over all values
  std::size_t supplementary_pua_codes = 0;  // code points U+F0000..U+FFFFD over all values
};

[[nodiscard]] MapStats map_stats(const MorphemeMap& map);

// A flattened byte trie: nodes in one array, a dense table at the root,
// compact child lists below, values in one string pool. Immutable once built.
class MorphemeTrie {
 public:
  using Pair = std::pair<std::string_view, std::string_view>;

  MorphemeTrie();  // no entries

  // One insertion per pair, in order; a repeated key takes the later value.
  // entry_count() is the number of insertions made (pairs.size()).
  [[nodiscard]] static MorphemeTrie build(const std::vector<Pair>& pairs);
  // Encoder side: (morpheme, code) for every map entry.
  [[nodiscard]] static MorphemeTrie forward(const MorphemeMap& map);
  // Decoder side: (code, morpheme), one entry per distinct code; where two
  // morphemes share a code the later map entry wins.
  [[nodiscard]] static MorphemeTrie reverse(const MorphemeMap& map);

  [[nodiscard]] std::size_t entry_count() const noexcept { return entry_count_; }

  // Leftmost-longest replacement over the bytes of `text`. Output is
  // well-formed UTF-8 whenever the text and the trie's strings are; a trie
  // with an ill-formed key or value turns every ill-formed sequence of the
  // output into U+FFFD. With no entries, returns a copy of the text.
  [[nodiscard]] std::string replace_longest(std::string_view text) const;

 private:
  // A link names a node and carries what a step of the walk needs to know about
  // it, so that each step loads one word: bits 0-31 the offset of the node's
  // record in nodes_ (0: no node), bits 32-39 `lo`, bits 40-48 `width`, bit 49
  // dense.
  // A record is a run of 64-bit words. [0] says which value a walk that stops
  // at this node takes: that of the deepest node from the root to this one
  // that holds a value, as 1 + index into values_ (bits 0-31; 0 for none) and
  // that node's depth, the key length (bits 32-63). The walk thus remembers
  // nothing on its way and reads one word where it stops. Then, dense: `width`
  // links, one per byte from lo to lo + width - 1 (0 where there is no child);
  // sparse: `width` labels in ascending order, eight to a word, followed by
  // `width` links. The root's record, at offset 0, is the one word [0] (the
  // empty key's value is never taken, so it stays 0); the root's children are
  // in root_links_, so offset 0 never names a child.
  using Link = std::uint64_t;
  struct ValueRef {
    std::size_t offset;  // into pool_
    std::size_t length;
  };

  [[nodiscard]] Link child(Link node, unsigned char byte) const noexcept;
  [[nodiscard]] std::string replace_code_points(std::string_view text) const;
  class Output;
  [[nodiscard]] std::size_t copy_keyless_run(std::string_view text, std::size_t p, Output& out) const;
  [[nodiscard]] std::uint32_t code_point_value(char32_t cp) const noexcept;
  void index_code_point(std::string_view key, std::uint32_t value);

  std::size_t entry_count_ = 0;
  std::array<Link, 256> root_links_{};  // the root's child per byte, 0 for none
  std::vector<std::uint64_t> nodes_;
  std::vector<ValueRef> values_;
  std::string pool_;
  // Set when some key or value is ill-formed UTF-8, which only a C++ caller can
  // produce; replace_longest then repairs its output.
  bool repair_output_ = false;
  // When every key is one whole code point, as in a decoder's table of codes,
  // the keys are also indexed by code point: a page per 256 code points
  // (pages_[cp >> 8], 1 + page number, 0 for none), each page 256 slots of
  // 1 + index into values_. A match is then one lookup per character instead
  // of a walk per byte, with the same result.
  std::vector<std::uint32_t> pages_;
  std::vector<std::uint32_t> page_slots_;
};

}  // namespace talvik
