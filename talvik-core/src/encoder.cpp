#include "talvik/encoder.hpp"

namespace talvik {

SarfEncoder::SarfEncoder(const MorphemeMap& map, NormalizationLevel level, EncoderOptions options,
                         std::optional<NormalizationSettings> settings)
    : options_(options), settings_(settings), level_(level), trie_(MorphemeTrie::forward(map)) {}

std::string SarfEncoder::normalize(std::string_view text) const {
  return settings_ ? normalize_with_settings(text, *settings_) : normalize_with_level(text, level_);
}

std::string SarfEncoder::encode(std::string_view text) const {
  if (text.empty()) return {};
  // The protected path (span protection, length limit, emoji runs) plugs in here
  // for encoders with a protection switch on; none is built yet.
  return encode_direct(text);
}

std::string SarfEncoder::encode_direct(std::string_view text) const {
  std::string normalized = normalize(text);
  if (trie_.entry_count() == 0) return normalized;
  return trie_.replace_longest(normalized);
}

}  // namespace talvik
