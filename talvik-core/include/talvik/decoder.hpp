#pragma once

#include <string>
#include <string_view>

#include "talvik/morpheme.hpp"

namespace talvik {

// GPT-2 byte-level substitutes U+0100..U+0143 back to the characters U+0000..U+00FF
// they stand for; every other character passes unchanged.
[[nodiscard]] std::string decode_bytes(std::string_view text);

// The spacing and punctuation clean-up that ends every decoding: the eight
// rules and two trims, applied in place (every rule only removes characters).
void postprocess_in_place(std::string& text);
[[nodiscard]] std::string postprocess(std::string text);

// Byte-level decoding, code replacement through the reverse trie, post-processing.
// Immutable after construction; decode() is safe from any number of threads.
class SarfDecoder {
 public:
  explicit SarfDecoder(const MorphemeMap& map);        // reverse of a morpheme map
  explicit SarfDecoder(MorphemeTrie reverse) noexcept;  // a prepared (code -> morpheme) trie

  [[nodiscard]] std::string decode(std::string_view text) const;
  [[nodiscard]] const MorphemeTrie& trie() const noexcept { return trie_; }

 private:
  MorphemeTrie trie_;
};

}  // namespace talvik
