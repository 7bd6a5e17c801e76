#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "talvik/decoder.hpp"
#include "talvik/encoder.hpp"
#include "talvik/morpheme.hpp"
#include "talvik/normalize.hpp"
#include "talvik/utf8.hpp"

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

  // The batch forms run one operation per text on the thread pool: the shared
  // pool without a request, else a pool of `num_threads` workers built for the
  // call (0: the default count). Texts come and go as fixed-width code points
  // (a host string's own storage, without surrogates), so that the conversion
  // to and from UTF-8 runs on the workers as well. Result i belongs to text i.
  // The error is a pool that could not be built; an exception inside a worker
  // is rethrown.
  using ThreadRequest = std::optional<std::uint64_t>;
  using WideText = utf8::WideText;
  struct WideRoundtrip {
    WideText expected;
    WideText decoded;
    bool matches = false;
  };
  template <class T>
  using Batch = std::expected<std::vector<T>, std::string>;
  [[nodiscard]] Batch<WideText> encode_batch(std::span<const utf8::CodeUnits> texts, ThreadRequest num_threads) const;
  [[nodiscard]] Batch<WideText> decode_batch(std::span<const utf8::CodeUnits> texts, ThreadRequest num_threads) const;
  [[nodiscard]] Batch<WideRoundtrip> roundtrip_batch(std::span<const utf8::CodeUnits> texts,
                                                     ThreadRequest num_threads) const;

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
