// JPEG pictures of image hints, through libjpeg.
#pragma once

#include <QImage>
#include <string>

#include "common/export.h"

// Decodes a baseline or progressive JPEG file into an RGB32 image. On
// failure: a null image and `error` says why.
COMMON_API QImage DecodeJpeg(const std::string& path, std::string* error = nullptr);
// Encodes an image as a JPEG file (quality 0..100); false with `error` set on failure.
COMMON_API bool EncodeJpeg(const QImage& image, const std::string& path, int quality, std::string* error = nullptr);
