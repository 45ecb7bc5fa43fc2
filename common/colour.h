// Colours of the diagram: a `TColor` is 0x00BBGGRR (red in the low byte),
// the layout of pen, highlight, "on" and background colours. Fill colours
// from a `style` attribute are 0x00RRGGBB and are drawn as 0xFFRRGGBB. Both
// conversions live here and nowhere else.
#pragma once

#include <QColor>
#include <cstdint>

#include "common/export.h"

typedef uint32_t TColor;

// The window library's system colour for window backgrounds; as a colour
// its low three bytes read red 5, green 0, blue 0.
inline constexpr TColor kSystemWindowColour = 0xFF000005u;

// A pen colour drawn opaque; the top byte is ignored.
inline QColor PenColour(TColor colour) {
  return QColor(int(colour & 0xFF), int((colour >> 8) & 0xFF), int((colour >> 16) & 0xFF));
}

// A fill colour: 0xFF000000 OR the value, read as ARGB (red in the third byte).
inline QColor FillColour(uint32_t colour) { return QColor::fromRgba(0xFF000000u | colour); }

// The other way: a QColor as a TColor (the background of the diagram's view).
inline TColor ToTColor(const QColor& colour) {
  return TColor(colour.red()) | (TColor(colour.green()) << 8) | (TColor(colour.blue()) << 16);
}

// Byte-wise interpolation of the low three bytes, truncated toward zero;
// the top byte of the result is 0.
inline TColor Lerp(TColor from, TColor to, float t) {
  TColor result = 0;
  for (int shift = 0; shift < 24; shift += 8) {
    const int a = int((from >> shift) & 0xFF);
    const int b = int((to >> shift) & 0xFF);
    const int value = int(float(a) + t * float(b - a));
    result |= TColor(value & 0xFF) << shift;
  }
  return result;
}
