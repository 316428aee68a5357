// Which bits of a function's configuration space software can change: the
// writable bits and the bits that clear when written with 1. They follow from
// the header type, the BARs and the capability lists of the power-on image.
#ifndef STANDIN_REGISTER_MASKS_H
#define STANDIN_REGISTER_MASKS_H

#include <cstdint>

namespace standin {

constexpr unsigned kBarSlots = 7;      // BAR 0..5 and the expansion ROM (6)
constexpr uint64_t kBarSizeGuess = 0;  // no size given: guess from the value

struct RegisterMasks {
    uint8_t writable[4096];
    uint8_t clearOnOne[4096];
};

// Fills masks for the power-on image `config` of a function whose space has
// spaceBytes (256 or 4096). barSizes[i] is kBarSizeGuess or a decode size.
void BuildRegisterMasks(const uint8_t* config, unsigned spaceBytes, const uint64_t barSizes[kBarSlots],
                        RegisterMasks* masks);

}  // namespace standin

#endif
