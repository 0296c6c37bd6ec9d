#pragma once
#include "image/image.h"

namespace kelvane {

// A realistic configuration of a two-riser block of flats: 40 flats on LU1
// and 32 on LU2 with call, open and main-entrance codes, touch keys, general
// codes and digitizers, settings at their defaults. Always the same image.
Image sampleBuildingImage();

}  // namespace kelvane
