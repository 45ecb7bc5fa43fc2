// Control sizes at a page's zoom: scaled and rounded to whole pixels.
#include "diagram/control_layout.h"

#include <gtest/gtest.h>

// Rounded, not truncated: a box of 14 pixels at 0.75 is 11 (10.5), one of 64
// at 0.9 is 58 (57.6); a size of a pixel or more never vanishes.
TEST(ControlLayoutTest, ScaledPixelsAreRoundedAndStayAtLeastOne) {
  const struct {
    int pixels;
    float factor;
    int scaled;
  } cases[] = {
      {14, 0.75f, 11}, {64, 0.9f, 58}, {3, 0.5f, 2}, {16, 0.6f, 10}, {100, 0.333f, 33},
      {16, 1.0f, 16},  {1, 0.01f, 1},  {2, 1.0f / 64, 1}, {0, 0.5f, 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ScaledControlPixels(c.pixels, c.factor), c.scaled) << c.pixels << " at " << c.factor;
}
