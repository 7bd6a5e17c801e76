#pragma once

#include <string>
#include <string_view>

#include "talvik/decoder.hpp"
#include "talvik/encoder.hpp"
#include "talvik/morpheme.hpp"
#include "talvik/normalize.hpp"

namespace talvik {

struct RoundtripResult {
  std::string expected;  // the normalized text
  std::string decoded;   // decode(encode(text))
  bool matches = false;  // byte-for-byte equality of the two
};

// Normalize, encode and decode one text and compare.
[[nodiscard]] RoundtripResult roundtrip(const SarfEncoder& encoder, const SarfDecoder& decoder, std::string_view text);

// The codec value: the map as supplied, its encoder and its decoder. Built once,
// then only read, so any number of threads may use one codec at once.
class SarfCodec {
 public:
  SarfCodec(MorphemeMap map, NormalizationLevel level);

  [[nodiscard]] std::string encode(std::string_view text) const { return encoder_.encode(text); }
  [[nodiscard]] std::string decode(std::string_view text) const { return decoder_.decode(text); }
  [[nodiscard]] std::string normalize(std::string_view text) const { return encoder_.normalize(text); }
  [[nodiscard]] RoundtripResult roundtrip(std::string_view text) const {
    return talvik::roundtrip(encoder_, decoder_, text);
  }

  [[nodiscard]] const MorphemeMap& map() const noexcept { return map_; }
  [[nodiscard]] std::size_t num_morphemes() const noexcept { return map_.size(); }
  [[nodiscard]] MapStats stats() const { return map_stats(map_); }
  [[nodiscard]] NormalizationLevel level() const noexcept { return encoder_.level(); }

 private:
  MorphemeMap map_;
  SarfEncoder encoder_;
  SarfDecoder decoder_;
};

}  // namespace talvik
