#include "ChunkSamples.hpp"

#include <stdexcept>
#include <string>

#include "tools/Base64.hpp"

namespace mirevo::testing {

std::vector<std::int16_t> chunkSamples(const nlohmann::json& chunk) {
  const auto bytes = inspect::decodeBase64(chunk.at("dataBase64").get<std::string>());
  if (!bytes) throw std::invalid_argument("dataBase64 is not base64");
  if (bytes->size() % 2 != 0) throw std::invalid_argument("odd PCM byte count");
  std::vector<std::int16_t> samples;
  samples.reserve(bytes->size() / 2);
  for (std::size_t i = 0; i < bytes->size(); i += 2) {
    samples.push_back(static_cast<std::int16_t>((*bytes)[i] | ((*bytes)[i + 1] << 8)));
  }
  return samples;
}

}  // namespace mirevo::testing
