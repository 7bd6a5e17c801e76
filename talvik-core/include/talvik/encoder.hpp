#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "talvik/morpheme.hpp"
#include "talvik/normalize.hpp"

namespace talvik {

struct EncoderOptions {
  std::optional<std::size_t> max_input_length;  // protected path only, in UTF-8 bytes
  bool preserve_emoji = false;                  // protected path only
  bool protect_urls = false;
  bool protect_emails = false;
  bool protect_paths = false;
  bool strip_control_chars = true;  // protected path only

  [[nodiscard]] bool any_protection() const noexcept { return protect_urls || protect_emails || protect_paths; }
};

// Normalizes text, then replaces every morpheme of the map by its code.
// Immutable after construction; encode() is safe from any number of threads.
class SarfEncoder {
 public:
  SarfEncoder(const MorphemeMap& map, NormalizationLevel level, EncoderOptions options = {},
              std::optional<NormalizationSettings> settings = std::nullopt);

  [[nodiscard]] std::string encode(std::string_view text) const;
  // The normalization step alone, exactly as encode() applies it.
  [[nodiscard]] std::string normalize(std::string_view text) const;

  [[nodiscard]] NormalizationLevel level() const noexcept { return level_; }
  [[nodiscard]] const EncoderOptions& options() const noexcept { return options_; }
  [[nodiscard]] const MorphemeTrie& trie() const noexcept { return trie_; }

 private:
  [[nodiscard]] std::string encode_direct(std::string_view text) const;

  EncoderOptions options_;
  std::optional<NormalizationSettings> settings_;
  NormalizationLevel level_;
  MorphemeTrie trie_;
};

}  // namespace talvik
