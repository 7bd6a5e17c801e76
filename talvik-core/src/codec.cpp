#include "talvik/codec.hpp"

#include <utility>

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

}  // namespace talvik
