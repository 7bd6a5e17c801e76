// Placeholder: replaced by the flattened trie.
#include "talvik/morpheme.hpp"

#include "talvik/chars.hpp"

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
  return s;
}

MorphemeTrie::MorphemeTrie() = default;
MorphemeTrie MorphemeTrie::build(const std::vector<Pair>& pairs) {
  MorphemeTrie t;
  t.entry_count_ = pairs.size();
  return t;
}
MorphemeTrie MorphemeTrie::forward(const MorphemeMap& map) { return build({}); (void)map; }
MorphemeTrie MorphemeTrie::reverse(const MorphemeMap& map) { return build({}); (void)map; }
std::string MorphemeTrie::replace_longest(std::string_view text) const { return std::string(text); }

}  // namespace talvik
