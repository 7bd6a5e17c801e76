// Placeholder: replaced by the real decoder.
#include "talvik/decoder.hpp"

namespace talvik {

std::string decode_bytes(std::string_view text) { return std::string(text); }
void postprocess_in_place(std::string&) {}
std::string postprocess(std::string text) {
  postprocess_in_place(text);
  return text;
}

SarfDecoder::SarfDecoder(const MorphemeMap& map) : trie_(MorphemeTrie::reverse(map)) {}
SarfDecoder::SarfDecoder(MorphemeTrie reverse) noexcept : trie_(std::move(reverse)) {}

std::string SarfDecoder::decode(std::string_view text) const {
  std::string out = decode_bytes(text);
  if (trie_.entry_count() != 0) out = trie_.replace_longest(out);
  postprocess_in_place(out);
  return out;
}

}  // namespace talvik
