// SHA-256 (FIPS 180-4), for the recipe's fingerprint in a run's records:
// a retest checks that it runs the recipe the earlier run ran.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace valdor {

class Sha256 {
public:
    Sha256();
    void add(std::string_view bytes);
    // The digest of everything added; the object is spent afterwards.
    std::array<uint8_t, 32> finish();

private:
    void block(const uint8_t *p);

    std::array<uint32_t, 8> h_;
    std::array<uint8_t, 64> pending_{};
    size_t pendingSize_ = 0;
    uint64_t length_ = 0;  // bytes added
};

// The digest of `bytes` in lower-case hexadecimal.
std::string sha256Hex(std::string_view bytes);

}  // namespace valdor
