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

// The UTF-8 of one fixed-width text: a view of it when it is ASCII already.
std::string_view utf8_of(const utf8::CodeUnits& text, std::string& buffer) {
  if (text.width == 1) {
    const std::string_view bytes(static_cast<const char*>(text.data), text.length);
    if (utf8::is_ascii(bytes)) return bytes;
  }
  utf8::append_utf8(buffer, text);
  return buffer;
}

// Results are written straight into their final slots; workers never share one.
template <class T, class Op>
SarfCodec::Batch<T> map_texts(std::span<const utf8::CodeUnits> texts, SarfCodec::ThreadRequest num_threads, Op op) {
  std::vector<T> out(texts.size());
  auto done = parallel::run(num_threads, texts.size(), [&](std::size_t i) {
    std::string buffer;
    out[i] = op(utf8_of(texts[i], buffer));
  });
  if (!done) return std::unexpected(std::move(done.error()));
  return out;
}

}  // namespace

SarfCodec::Batch<utf8::WideText> SarfCodec::encode_batch(std::span<const utf8::CodeUnits> texts,
                                                         ThreadRequest num_threads) const {
  return map_texts<WideText>(texts, num_threads, [this](std::string_view t) { return utf8::to_wide(encode(t)); });
}

SarfCodec::Batch<utf8::WideText> SarfCodec::decode_batch(std::span<const utf8::CodeUnits> texts,
                                                         ThreadRequest num_threads) const {
  return map_texts<WideText>(texts, num_threads, [this](std::string_view t) { return utf8::to_wide(decode(t)); });
}

SarfCodec::Batch<SarfCodec::WideRoundtrip> SarfCodec::roundtrip_batch(std::span<const utf8::CodeUnits> texts,
                                                                      ThreadRequest num_threads) const {
  return map_texts<WideRoundtrip>(texts, num_threads, [this](std::string_view t) {
    const RoundtripResult r = roundtrip(t);
    return WideRoundtrip{utf8::to_wide(r.expected), utf8::to_wide(r.decoded), r.matches};
  });
}

}  // namespace talvik
