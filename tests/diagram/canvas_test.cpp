// The canvas, colours, JPEG pictures and the image hint's panel.
#include "common/canvas.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QScrollArea>
#include <QWidget>
#include <cstdlib>
#include <functional>
#include <limits>
#include <vector>

#include "common/gui_object.h"
#include "common/image_hint.h"
#include "common/shapes.h"
#include "common/jpeg.h"
#include "probes.h"
#include "tests/support/test_support.h"

namespace {

// Counts the paints that updates bring.
class CountingWidget : public QWidget {
 public:
  int paints = 0;

 protected:
  void paintEvent(QPaintEvent*) override { ++paints; }
};

}  // namespace

TEST(CanvasTest, NestedLocksShareOnePainter) {
  TCanvas canvas;
  ASSERT_TRUE(canvas.SetSize(40, 30, 0x0000FF));
  EXPECT_EQ(canvas.PixelColour(0, 0), 0x0000FFu);
  QPainter& outer = canvas.Lock();
  QPainter& inner = canvas.Lock();
  EXPECT_EQ(&outer, &inner);
  EXPECT_TRUE(inner.isActive());
  canvas.Unlock();
  EXPECT_TRUE(outer.isActive());
  EXPECT_FALSE(canvas.SetSize(10, 10, 0));  // not while locked
  canvas.Unlock();
  EXPECT_FALSE(canvas.Locked());
  EXPECT_FALSE(canvas.Painter().isActive());
  canvas.Unlock();  // an extra unlock is harmless
  EXPECT_TRUE(canvas.SetSize(10, 10, 0));
  EXPECT_EQ(canvas.Width(), 10);
}

TEST(CanvasTest, RefusesHugeImages) {
  TCanvas canvas;
  EXPECT_FALSE(canvas.SetSize(100000, 100000, 0));
  EXPECT_LE(qint64(canvas.Width()) * canvas.Height(), TCanvas::kMaxPixels);
  EXPECT_LE(canvas.Width(), TCanvas::kMaxSide);
  EXPECT_TRUE(canvas.SetSize(0, -5, 0));  // at least one pixel
  EXPECT_EQ(canvas.Width(), 1);
}

TEST(CanvasTest, ColourConversionsAreEachOthersInverse) {
  EXPECT_EQ(PenColour(0x00332211), QColor(0x11, 0x22, 0x33));
  EXPECT_EQ(PenColour(0xFF0000FF), QColor(255, 0, 0));  // top byte ignored
  EXPECT_EQ(FillColour(0x112233), QColor(0x11, 0x22, 0x33));
  EXPECT_EQ(ToTColor(PenColour(0x00ABCDEF)), 0x00ABCDEFu);
}

TEST(CanvasTest, UnlockUpdatesTheView) {
  auto* view = new CountingWidget;
  view->resize(10, 10);
  view->show();
  QCoreApplication::processEvents();
  TCanvas canvas(view);
  canvas.SetSize(10, 10, 0);
  const int before = view->paints;
  canvas.Lock();
  canvas.Lock();
  canvas.Unlock();  // still locked: no update yet
  QCoreApplication::processEvents();
  EXPECT_EQ(view->paints, before);
  canvas.Unlock();
  QCoreApplication::processEvents();
  EXPECT_EQ(view->paints, before + 1);
  EXPECT_EQ(canvas.View(), view);
  delete view;  // the canvas forgets a view that is gone
  canvas.Lock();
  canvas.Unlock();
  EXPECT_EQ(canvas.View(), nullptr);
}

TEST(CanvasTest, CopyFromWritesIntoItsOwnPixels) {
  TCanvas from, to;
  from.SetSize(20, 10, 0x0000FF);
  to.SetSize(20, 10, 0x00FF00);
  const uchar* own = to.Image().constBits();
  EXPECT_TRUE(to.CopyFrom(from, QRect(5, 2, 4, 3)));
  EXPECT_EQ(to.Image().constBits(), own);  // no new buffer
  EXPECT_EQ(to.PixelColour(5, 2), 0x0000FFu);
  EXPECT_EQ(to.PixelColour(8, 4), 0x0000FFu);
  EXPECT_EQ(to.PixelColour(9, 4), 0x00FF00u);
  EXPECT_EQ(to.PixelColour(5, 5), 0x00FF00u);
  // From a smaller image to a place, cut at both edges.
  TCanvas small;
  small.SetSize(4, 4, 0xFF0000);
  EXPECT_TRUE(to.CopyFrom(small, QRect(-2, 0, 8, 4), QPoint(16, 8)));
  EXPECT_EQ(to.PixelColour(18, 8), 0xFF0000u);
  EXPECT_EQ(to.PixelColour(19, 9), 0xFF0000u);
  EXPECT_EQ(to.PixelColour(17, 9), 0x00FF00u);
  EXPECT_FALSE(to.CopyFrom(small, QRect(0, 0, 4, 4)));  // of another size
  to.Lock();
  EXPECT_FALSE(to.CopyFrom(from, QRect(0, 0, 20, 10)));  // not while locked
  to.Unlock();
  EXPECT_TRUE(to.CopyFrom(from, QRect(0, 0, 20, 10)));
  EXPECT_EQ(to.Image(), from.Image());
}

// A canvas keeps its memory for a smaller size or the same again (a zoom
// back needs no fresh memory), large images as small ones; a copy of its
// image keeps its own pixels whatever the canvas does next, and after the
// canvas is gone.
TEST(CanvasTest, ASizeThatFitsKeepsTheMemoryAndACopyKeepsItsPixels) {
  for (const QSize large : {QSize(200, 100), QSize(3072, 1904)}) {
    const QSize small = large / 4;
    TCanvas canvas;
    ASSERT_TRUE(canvas.SetSize(large.width(), large.height(), 0x0000FF));
    const uchar* memory = canvas.Image().constBits();
    ASSERT_TRUE(canvas.SetSize(small.width(), small.height(), 0x00FF00));
    EXPECT_EQ(canvas.Image().constBits(), memory) << large.width();
    EXPECT_EQ(canvas.Width(), small.width());
    EXPECT_EQ(canvas.PixelColour(small.width() - 1, small.height() - 1), 0x00FF00u);
    ASSERT_TRUE(canvas.SetSize(large.width(), large.height(), 0xFF0000));
    EXPECT_EQ(canvas.Image().constBits(), memory) << large.width();
    EXPECT_EQ(canvas.PixelColour(large.width() - 1, large.height() - 1), 0xFF0000u);
    // The same size again keeps the pixels when nothing is filled.
    ASSERT_TRUE(canvas.Resize(large.width(), large.height()));
    EXPECT_EQ(canvas.PixelColour(0, 0), 0xFF0000u);

    const QImage copy = canvas.Image();
    ASSERT_TRUE(canvas.SetSize(small.width(), small.height(), 0x00FF00));
    {
      TCanvasLock lock(canvas);
      lock.Painter().fillRect(0, 0, 4, 4, Qt::white);
    }
    ASSERT_EQ(copy.size(), large) << large.width();
    EXPECT_EQ(ToTColor(copy.pixelColor(0, 0)), 0xFF0000u) << large.width();
    EXPECT_EQ(ToTColor(copy.pixelColor(small.width() / 2, small.height() / 2)), 0xFF0000u) << large.width();
    EXPECT_EQ(canvas.PixelColour(small.width() / 2, small.height() / 2), 0x00FF00u);

    QImage kept;
    {
      TCanvas gone;
      gone.SetSize(large.width(), large.height(), 0x00FFFF);
      kept = gone.Image();
    }
    EXPECT_EQ(ToTColor(kept.pixelColor(large.width() - 1, large.height() - 1)), 0x00FFFFu) << large.width();

    canvas.Release();
    EXPECT_TRUE(canvas.Image().isNull());
    EXPECT_TRUE(canvas.SetSize(small.width(), small.height(), 0x0000FF));
    EXPECT_EQ(canvas.PixelColour(0, 0), 0x0000FFu);
  }
}

TEST(CanvasTest, AHeldCanvasNotesPaintsInsteadOfDrawing) {
  TCanvas canvas;
  canvas.SetSize(40, 30, 0xFFFFFF);
  const float points[4] = {0, 15, 40, 15};
  TGUILine line(points, 3, 0x000000);
  line.Place(1, 0, 0);
  canvas.Hold(true);
  line.Paint(&canvas);
  line.Paint(&canvas);
  EXPECT_EQ(canvas.PixelColour(20, 15), 0xFFFFFFu);
  EXPECT_EQ(line.GetCanvas(), &canvas);
  EXPECT_EQ(canvas.TakeHeldPaints(), (std::vector<TGUIObject*>{&line, &line}));
  EXPECT_TRUE(canvas.TakeHeldPaints().empty());
  canvas.Hold(false);
  line.Paint(&canvas);
  EXPECT_EQ(canvas.PixelColour(20, 15), 0x000000u);
  EXPECT_TRUE(canvas.TakeHeldPaints().empty());
}

TEST(CanvasTest, PaintingAsideKeepsTheCanvasOfTheLastPaint) {
  TCanvas page, other;
  page.SetSize(40, 30, 0xFFFFFF);
  other.SetSize(40, 30, 0xFFFFFF);
  const float points[4] = {0, 15, 40, 15};
  TGUIObject* children[1] = {new TGUILine(points, 3, 0x000000)};
  TGUIGroup group(children, 1);
  group.Place(1, 0, 0);
  group.Paint(&page);
  group.PaintAside(&other);
  EXPECT_EQ(other.PixelColour(20, 15), 0x000000u);
  EXPECT_EQ(group.GetCanvas(), &page);
  EXPECT_EQ(children[0]->GetCanvas(), &page);
}

// What the probe learns of a drawing: where and how, whatever was drawn
// on it before.
TEST(DrawingProbeTest, BoxAndSignatureOfADrawing) {
  TDrawingProbe probe;
  TCanvas canvas;
  auto measure = [&](auto draw, QRect& box, uint64_t& signature) {
    QPainter& painter = canvas.LockOn(probe);
    probe.Take(box, signature);
    draw(painter);
    probe.Take(box, signature);
    canvas.Unlock();
  };
  auto line = [](QColor colour, qreal width, QPointF to) {
    return [=](QPainter& p) {
      p.setPen(QPen(colour, width));
      p.drawLine(QPointF(10, 10), to);
    };
  };
  QRect box, other;
  uint64_t signature = 0, again = 0;
  measure(line(Qt::black, 4, QPointF(30, 10)), box, signature);
  // The pen on both sides, and the pixel anti-aliasing touches.
  EXPECT_TRUE(box.contains(QRect(QPoint(8, 8), QPoint(32, 12))));
  EXPECT_LE(box.width(), 20 + 2 * 4 + 6);
  // The same drawing after another one that left its pen behind.
  {
    QPainter& painter = canvas.LockOn(probe);
    line(Qt::black, 4, QPointF(30, 10))(painter);
    probe.Take(other, again);
    line(Qt::black, 4, QPointF(30, 10))(painter);
    probe.Take(other, again);
    canvas.Unlock();
  }
  EXPECT_EQ(again, signature);
  EXPECT_EQ(other, box);
  const struct {
    const char* what;
    std::function<void(QPainter&)> draw;
  } others[] = {{"colour", line(Qt::red, 4, QPointF(30, 10))},
                {"width", line(Qt::black, 3, QPointF(30, 10))},
                {"place", line(Qt::black, 4, QPointF(30, 11))},
                {"text", [](QPainter& p) { p.drawText(QPointF(10, 10), "A"); }},
                {"image", [](QPainter& p) { p.drawImage(QPointF(10, 10), QImage(4, 4, QImage::Format_RGB32)); }}};
  for (const auto& o : others) {
    measure(o.draw, other, again);
    EXPECT_NE(again, signature) << o.what;
  }
  measure([](QPainter&) {}, other, again);
  EXPECT_TRUE(other.isEmpty());
  measure([](QPainter& p) { p.drawImage(QPointF(100, 50), QImage(8, 6, QImage::Format_RGB32)); }, other, again);
  EXPECT_TRUE(other.contains(QRect(100, 50, 8, 6)));
}

TEST(JpegTest, RoundTripAndErrors) {
  testsupport::TempDir dir;
  QImage image(24, 16, QImage::Format_RGB32);
  image.fill(QColor(200, 30, 40));
  const std::string path = dir.File("picture.jpg");
  std::string error;
  ASSERT_TRUE(EncodeJpeg(image, path, 95, &error)) << error;
  const QImage decoded = DecodeJpeg(path, &error);
  ASSERT_FALSE(decoded.isNull()) << error;
  EXPECT_EQ(decoded.size(), QSize(24, 16));
  const QColor pixel = decoded.pixelColor(12, 8);
  EXPECT_NEAR(pixel.red(), 200, 6);
  EXPECT_NEAR(pixel.green(), 30, 6);

  EXPECT_TRUE(DecodeJpeg(dir.File("missing.jpg"), &error).isNull());
  EXPECT_NE(error.find("cannot open"), std::string::npos);
  testsupport::WriteFile(dir.File("text.jpg"), "not a picture at all");
  EXPECT_TRUE(DecodeJpeg(dir.File("text.jpg"), &error).isNull());
  EXPECT_NE(error.find("not a readable JPEG"), std::string::npos);
  // A picture cut inside its image data is refused, not filled with grey.
  QImage noisy(64, 64, QImage::Format_RGB32);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) noisy.setPixel(x, y, qRgb((x * 37 + y * 11) & 0xFF, (x * y) & 0xFF, (x ^ y) * 4));
  ASSERT_TRUE(EncodeJpeg(noisy, dir.File("noisy.jpg"), 95, &error)) << error;
  const std::string bytes = testsupport::ReadFile(dir.File("noisy.jpg"));
  ASSERT_FALSE(DecodeJpeg(dir.File("noisy.jpg"), &error).isNull()) << error;
  testsupport::WriteFile(dir.File("cut.jpg"), bytes.substr(0, bytes.size() * 3 / 4));
  error.clear();
  EXPECT_TRUE(DecodeJpeg(dir.File("cut.jpg"), &error).isNull());
  EXPECT_NE(error.find("truncated"), std::string::npos) << error;
}

TEST(JpegTest, AnEndlessPictureFileIsRefused) {
  std::string error;
  EXPECT_TRUE(DecodeJpeg("/dev/zero", &error).isNull());
  EXPECT_EQ(error, "cannot open \"/dev/zero\": not a regular file");
}

TEST(ImageHintTest, ClickOpensThePanelBesideTheTextAndHoverEndCloses) {
  testsupport::TempDir dir;
  QImage image(30, 20, QImage::Format_RGB32);
  image.fill(Qt::blue);
  const std::string path = dir.File("hint.jpg");
  ASSERT_TRUE(EncodeJpeg(image, path, 90));

  QScrollArea area;
  area.resize(300, 200);
  const float at[2] = {50, 60};
  TGUITextImageHint hint(&area, path, 7, at, "hint", 10);
  hint.Place(1.0f, 0, 0);
  EXPECT_FALSE(hint.Click(50, 60));  // mode 0
  hint.SetMode(1, nullptr);
  EXPECT_FALSE(hint.Click(250, 190));
  ASSERT_TRUE(hint.Click(50, 58));
  TImagePanel* panel = hint.GetPanel();
  ASSERT_NE(panel, nullptr);
  EXPECT_TRUE(panel->HasPicture());
  EXPECT_EQ(panel->size(), QSize(40, 30));
  EXPECT_EQ(panel->parentWidget(), area.viewport());
  EXPECT_EQ(panel->x(), int(hint.GetTextWidth() + 50));
  EXPECT_EQ(panel->y(), 67);
  ASSERT_TRUE(hint.Click(50, 58));  // replaces the panel
  EXPECT_NE(hint.GetPanel(), nullptr);
  hint.OnUnhighlighted();
  EXPECT_EQ(hint.GetPanel(), nullptr);

  TGUITextImageHint missing(&area, dir.File("none.jpg"), 0, at, "hint", 10);
  missing.Place(1.0f, 0, 0);
  missing.SetMode(2, nullptr);
  ASSERT_TRUE(missing.Click(0, 0));
  ASSERT_NE(missing.GetPanel(), nullptr);
  EXPECT_FALSE(missing.GetPanel()->HasPicture());
  EXPECT_NE(missing.GetPanel()->Error().find("cannot open"), std::string::npos);
}

// The file's offset may be any int: the panel's place stayed defined only
// while the offset and the text's position summed inside the int range.
TEST(ImageHintTest, AnOffsetNearTheIntLimitPlacesThePanelInRange) {
  testsupport::TempDir dir;
  QScrollArea area;
  const float at[2] = {50, 60};
  for (int offset : {std::numeric_limits<int>::max(), std::numeric_limits<int>::min()}) {
    TGUITextImageHint hint(&area, dir.File("none.jpg"), offset, at, "hint", 10);
    hint.Place(1.0f, 0, 0);
    hint.SetMode(2, nullptr);
    ASSERT_TRUE(hint.Click(0, 0));
    ASSERT_NE(hint.GetPanel(), nullptr);
    EXPECT_EQ(std::abs(hint.GetPanel()->y()), int(kMaxPlacedCoordinate));
  }
}
