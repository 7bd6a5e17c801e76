#include "talvik/codec.hpp"

#include <utility>

#include "talvik/parallel.hpp"

namespace talvik {

RoundtripResult roundtrip(const SarfEncoder& encoder, const SarfDecoder& decoder, std::string_view text) {
  RoundtripResult r;
  r.expected = encoder.normalize(text);
  r.decoded = decoder.decode(encoder.encode(text));
  r.matches = r.expected == r.decoded;
  return r;
}

SarfCodec::SarfCodec(MorphemeMap map, NormalizationLevel level)
    : map_(std::move(map)), encoder_(map_, level), decoder_(map_) {}

namespace {

// Results are written straight into their final slots; workers never share one.
template <class T, class Op>
SarfCodec::Batch<T> map_texts(std::span<const std::string_view> texts, SarfCodec::ThreadRequest num_threads, Op op) {
  std::vector<T> out(texts.size());
  auto done = parallel::run(num_threads, texts.size(), [&](std::size_t i) { out[i] = op(texts[i]); });
  if (!done) return std::unexpected(std::move(done.error()));
  return out;
}

}  // namespace

SarfCodec::Batch<std::string> SarfCodec::encode_batch(std::span<const std::string_view> texts,
                                                      ThreadRequest num_threads) const {
  return map_texts<std::string>(texts, num_threads, [this](std::string_view t) { return encode(t); });
}

SarfCodec::Batch<std::string> SarfCodec::decode_batch(std::span<const std::string_view> texts,
                                                      ThreadRequest num_threads) const {
  return map_texts<std::string>(texts, num_threads, [this](std::string_view t) { return decode(t); });
}

SarfCodec::Batch<RoundtripResult> SarfCodec::roundtrip_batch(std::span<const std::string_view> texts,
                                                             ThreadRequest num_threads) const {
  return map_texts<RoundtripResult>(texts, num_threads, [this](std::string_view t) { return roundtrip(t); });
}

}  // namespace talvik
