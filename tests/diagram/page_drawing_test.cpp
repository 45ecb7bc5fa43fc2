// A page's partial redraws against whole ones: what a pass draws where
// objects changed must be, pixel for pixel, what a fresh drawing of the same
// objects gives.
#include "common/page_drawing.h"

#include <gtest/gtest.h>

#include <QImage>
#include <memory>
#include <string>
#include <vector>

#include "common/canvas.h"
#include "common/shapes.h"

namespace {

constexpr TColor kPage = 0x00F0F0F0;

// The first pixel where two images differ, or "" when they are equal.
std::string Difference(const QImage& a, const QImage& b) {
  if (a.size() != b.size()) return "sizes differ";
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x)
      if (a.pixel(x, y) != b.pixel(x, y))
        return "at (" + std::to_string(x) + ", " + std::to_string(y) + "): " + QString::number(a.pixel(x, y), 16)
                   .toStdString() + " against " + QString::number(b.pixel(x, y), 16).toStdString();
  return "";
}

// Inert shapes without fill (the background layer) and one interactive
// rectangle over them (the foreground).
struct Shapes {
  Shapes() {
    const float line[4] = {20, 20, 60, 45};
    const float box[6] = {70, 15, 110, 50, 4, 4};
    const float oval[4] = {20, 60, 55, 90};
    const float lever[6] = {90, 60, 130, 85, 1, 1};
    objects.push_back(std::make_unique<TGUILine>(line, 2, 0x555555));
    objects.push_back(std::make_unique<TGUIRectangle>(box, 2, 0x3366AA));
    objects.push_back(std::make_unique<TGUIEllipse>(oval, 1, 0x000000));
    objects.push_back(std::make_unique<TGUIRectangle>(lever, 2, 0x0000FF));
    objects.back()->SetMode(1, nullptr);
    for (auto& object : objects) list.push_back(object.get());
  }
  void Place(float zoom) {
    for (TGUIObject* object : list) object->Place(zoom, 0, 0);
  }
  std::vector<std::unique_ptr<TGUIObject>> objects;
  std::vector<TGUIObject*> list;
};

// Both bitmaps of a page drawn whole from scratch.
struct Fresh {
  Fresh(const Shapes& shapes, QSize size) {
    foreground.SetSize(size.width(), size.height(), 0);
    drawing.SetCanvases(&foreground, &background, kPage);
    drawing.SetObjects(shapes.list.data(), unsigned(shapes.list.size()));
    drawing.DrawBackground();
    drawing.DrawForeground();
  }
  TCanvas foreground, background;
  TPageDrawing drawing;
};

}  // namespace

// The background's objects are drawn again over the page colour: a partial
// redraw that started from the scratch bitmap's memory (of an earlier pass,
// of another size) left old pixels where an outline had been.
TEST(PageDrawingTest, ChangedOutlinesOfTheBackgroundDrawWhatAWholeRedrawDraws) {
  Shapes shapes;
  TPageDrawing drawing;  // one drawing throughout: its scratch bitmap stays
  int partial = 0;
  for (const QSize size : {QSize(400, 300), QSize(480, 360), QSize(440, 330)}) {
    for (const float zoom : {1.0f, 1.6f, 0.7f}) {
      TCanvas foreground, background;
      foreground.SetSize(size.width(), size.height(), 0);
      shapes.Place(zoom);
      drawing.SetCanvases(&foreground, &background, kPage);
      drawing.SetObjects(shapes.list.data(), unsigned(shapes.list.size()));
      drawing.Redraw();
      for (int pass = 0; pass < 4; ++pass) {
        const std::string what = std::to_string(size.width()) + "x" + std::to_string(size.height()) + " zoom " +
                                 std::to_string(zoom) + " pass " + std::to_string(pass);
        drawing.BeginPass();
        // The line and the box move, the box's and the oval's pens change.
        const float step = pass % 2 ? -7.0f : 9.0f;
        shapes.list[0]->Translate(step, step / 3);
        shapes.list[1]->Translate(-step / 2, step);
        shapes.list[1]->SetWidth(1 + pass % 3);
        shapes.list[2]->SetColour(pass % 2 ? 0x0000C0 : 0x208020);
        shapes.Place(zoom);
        for (int i = 0; i < 3; ++i) drawing.NoteChange(shapes.list[size_t(i)]);
        ASSERT_TRUE(drawing.EndPass(false)) << what;
        if (drawing.LastPass() == TPageDrawing::TPass::kChanged) ++partial;
        Fresh fresh(shapes, size);
        EXPECT_EQ(Difference(background.Image(), fresh.background.Image()), "") << what << ": background";
        EXPECT_EQ(Difference(foreground.Image(), fresh.foreground.Image()), "") << what << ": foreground";
      }
    }
  }
  // Every pass drew only what changed (a large change would draw all).
  EXPECT_EQ(partial, 36);
}
