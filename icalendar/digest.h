// SHA-256, for what the catalogue derives from the store and must be the same in every process
// that derives it: etags, sync tokens, the names of the catalogue files.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace cvical {

using Digest = std::array<uint8_t, 32>;

class Sha256 {
  public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    Sha256& Add(std::string_view bytes);
    Digest Finish();

  private:
    void* context_;
};

Digest Sha256Of(std::string_view bytes);
std::string HexText(const Digest& digest);
// The inverse of HexText; false for any other text.
bool ParseHex(const std::string& text, Digest* digest);

}  // namespace cvical
