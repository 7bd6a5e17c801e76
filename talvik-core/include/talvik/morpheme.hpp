#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
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
  std::vector<Entry> entries_;
  std::unordered_map<std::string, std::size_t> index_;  // key -> position in entries_
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
  // well-formed UTF-8 whenever the text and the trie's strings are.
  [[nodiscard]] std::string replace_longest(std::string_view text) const;

 private:
  // Node 0 is the root. A node's children occupy `width` consecutive slots of
  // labels_/children_ from `slots`: either the sorted labels of its children
  // (sparse), or one slot per byte from `lo` to `lo + width - 1` with 0 for a
  // missing child (dense). Child index 0 never names a child, since the root
  // is nobody's child.
  struct Node {
    std::uint32_t slots = 0;
    std::uint32_t value = 0;  // 1 + index into values_; 0 for no value
    std::uint16_t width = 0;  // 0: no children
    std::uint8_t lo = 0;
    bool dense = false;
  };
  struct ValueRef {
    std::size_t offset;  // into pool_
    std::size_t length;
  };

  [[nodiscard]] std::uint32_t child(const Node& node, unsigned char byte) const noexcept;

  std::size_t entry_count_ = 0;
  std::array<std::uint32_t, 256> root_children_{};  // the root's child per byte, 0 for none
  std::vector<Node> nodes_;
  std::vector<std::uint8_t> labels_;
  std::vector<std::uint32_t> children_;
  std::vector<ValueRef> values_;
  std::string pool_;
  // Set when some key or value is ill-formed UTF-8, which only a C++ caller can
  // produce; replace_longest then repairs its output.
  bool repair_output_ = false;
};

}  // namespace talvik
