#pragma once
// PNG encoding of a finished frame, for the screenshots.
#include <cstdint>
#include <vector>

// Encodes 0x00RRGGBB pixels (rows of width, no padding) as an RGB PNG in
// memory. Throws std::runtime_error with the reason when it cannot.
std::vector<uint8_t> EncodePng(const uint32_t* pixels, int width, int height);
