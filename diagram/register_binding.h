// Where the board window points a register window into the link's image.
#pragma once

#include <cstdint>
#include <functional>

#include "common/i2c_object.h"

class TUSBI2C;

// The image byte of (device, book 0, page, first register) of the window,
// or null when any of its `count` registers lies outside the image or past
// the end of its page: such a window is skipped, never pointed outside.
// `image` is the link's GetRegisterImage.
uint8_t* RegisterWindowImage(
    const TI2CObject& window,
    const std::function<uint8_t*(unsigned address, unsigned book, unsigned page, unsigned reg)>& image);
uint8_t* RegisterWindowImage(const TI2CObject& window, TUSBI2C& link);
