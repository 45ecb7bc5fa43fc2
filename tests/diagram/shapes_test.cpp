// Geometry of the shapes: hit tests, placement, transforms, path parsing
// and text placement; a few pixels of what they draw.
#include "common/shapes.h"

#include <gtest/gtest.h>

#include <QPainterPath>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "common/canvas.h"
#include "probes.h"

using diagramtest::WhiteCanvas;

TEST(ShapeGeometry, LineHitsBelowFiveUnits) {
  // The line runs along y = 0.1: a pointer on y = 5 is 4.9 away.
  const float near[4] = {0, 0.1f, 10, 0.1f};
  TGUILine line(near, 1, 0);
  line.Place(1.0f, 0, 0);
  EXPECT_TRUE(line.HitTest(5, 5));
  const float far[4] = {0, 0, 10, 0};
  TGUILine exact(far, 1, 0);
  exact.Place(1.0f, 0, 0);
  EXPECT_FALSE(exact.HitTest(5, 5));   // 5.0: a miss
  EXPECT_TRUE(exact.HitTest(14, 0));   // beyond the end, 4 from it
  EXPECT_FALSE(exact.HitTest(13, 4));  // 5.0 from the end point
  const float none[4] = {3, 3, 3, 3};
  TGUILine dot(none, 1, 0);
  dot.Place(1.0f, 0, 0);
  EXPECT_FALSE(dot.HitTest(3, 3));  // zero length: never hit
}

TEST(ShapeGeometry, PlaceScalesAndBuildsTheBoundingBox) {
  const float p[4] = {10.7f, 20, 30, 5.5f};
  TGUILine line(p, 1, 0);
  line.Place(2.0f, 1, 0);
  EXPECT_FLOAT_EQ(line.GetPlacedPoint(0).x, 22.4f);
  int l, t, r, b;
  line.GetBoundingBox(l, t, r, b);
  EXPECT_EQ(l, 22);
  EXPECT_EQ(t, 11);
  EXPECT_EQ(r, 61);
  EXPECT_EQ(b, 40);
}

TEST(ShapeGeometry, TransformConventions) {
  const float p[4] = {1, 0, 2, 3};
  TGUILine turned(p, 1, 0);
  turned.Transform(0, 1, -1, 0, 0, 0);  // a quarter turn
  EXPECT_FLOAT_EQ(turned.GetSourcePoint(0).x, 0);
  EXPECT_FLOAT_EQ(turned.GetSourcePoint(0).y, 1);
  EXPECT_FLOAT_EQ(turned.GetSourcePoint(1).x, -3);
  EXPECT_FLOAT_EQ(turned.GetSourcePoint(1).y, 2);
  TGUILine moved(p, 1, 0);
  moved.Translate(10, 20);
  moved.Scale(2, 3);
  EXPECT_FLOAT_EQ(moved.GetSourcePoint(1).x, 24);
  EXPECT_FLOAT_EQ(moved.GetSourcePoint(1).y, 69);
  const float at[2] = {5, 5};
  TGUIText text(at, "t", 10);
  text.Transform(0, 1, -1, 0, 9, 9);
  text.Translate(3, 3);
  text.Place(1.0f, 0, 0);
  EXPECT_FLOAT_EQ(text.GetPlacedPosition().x, 5);  // a text ignores transforms
}

TEST(ShapeGeometry, TriangleRectangleEllipseHits) {
  const float tri[6] = {0, 0, 10, 0, 0, 10};
  TGUITriangle triangle(tri, 1, 0);
  triangle.Place(1.0f, 0, 0);
  EXPECT_TRUE(triangle.HitTest(2, 2));
  EXPECT_TRUE(triangle.HitTest(5, 5));  // on the edge
  EXPECT_FALSE(triangle.HitTest(6, 6));

  const float rect[6] = {20, 20, 10, 10, 0, 0};  // corners in either order
  TGUIRectangle rectangle(rect, 1, 0);
  rectangle.Place(1.0f, 0, 0);
  EXPECT_TRUE(rectangle.HitTest(10, 20));
  EXPECT_FALSE(rectangle.HitTest(21, 15));

  const float box[4] = {0, 0, 10, 20};
  TGUIEllipse ellipse(box, 1, 0);
  ellipse.Place(1.0f, 0, 0);
  EXPECT_TRUE(ellipse.HitTest(0, 20));  // the bounding box, edges included
  EXPECT_FALSE(ellipse.HitTest(11, 5));
}

TEST(ShapeGeometry, PolygonKeeps16PointsAndIsHitNearItsFirstEdge) {
  TPointF points[20];
  for (int i = 0; i < 20; ++i) points[i] = {float(i * 10), float(i % 2 ? 50 : 0)};
  TGUIPolygon polygon(points, 20, 1, 0);
  EXPECT_EQ(polygon.GetPointCount(), 16u);
  polygon.Place(1.0f, 0, 0);
  EXPECT_TRUE(polygon.HitTest(5, 25));
  EXPECT_FALSE(polygon.HitTest(25, 25));  // on the second edge only
}

TEST(ShapeGeometry, TextPlacesItsFontAndLines) {
  const float at[2] = {40, 50};
  TGUIText text(at, "first", 10);
  for (int i = 0; i < 9; ++i) text.AddLine("more", 15);
  EXPECT_EQ(text.GetLineCount(), 8);
  EXPECT_EQ(text.GetLineOffset(0), 0);
  text.Place(0.8f, 0, 0);
  EXPECT_FLOAT_EQ(text.GetPlacedPosition().x, 32);
  EXPECT_EQ(text.GetPlacedFontSize(), 8);
  // Measured, so the text can be hovered where it is drawn.
  EXPECT_GT(text.GetTextWidth(), 10);
  EXPECT_GT(text.GetTextHeight(), 7 * 15 * 0.8f);
  EXPECT_TRUE(text.HitTest(32, 40));
  EXPECT_FALSE(text.HitTest(32 + int(text.GetTextWidth()), 40));
}

TEST(ShapeGeometry, TextLinesAreDrawnAtTheirOffsets) {
  WhiteCanvas canvas;
  const float at[2] = {100, 30};
  TGUIText text(at, "MMMM", 10);
  text.AddLine("MMMM", 60);
  text.Place(1.0f, 0, 0);
  text.Paint(&canvas);
  auto inkNear = [&](int y) {
    for (int x = 80; x < 120; ++x)
      for (int dy = -6; dy <= 6; ++dy)
        if (canvas.PixelColour(x, y + dy) != 0xFFFFFFu) return true;
    return false;
  };
  EXPECT_TRUE(inkNear(30));
  EXPECT_TRUE(inkNear(90));
  EXPECT_FALSE(inkNear(60));
}

struct PathCase {
  const char* data;
  int lines;  // line segments the outline draws
};

TEST(PathParsing, CommandsAndTokens) {
  const PathCase cases[] = {
      {"M 0,0 L 10,0 L 10,10 z", 3},
      {"m 0,0 l 10,0 l 10,10", 0},           // lower case draws nothing
      {"M 0,0 C 1,1 2,2 3,3 H 5 L 4,4", 1},  // C and H and their numbers are skipped
      {"M 2,2 L10,20", 1},                   // a joined number is unreadable: a line to (0,0)
      {"", 0},
  };
  for (const PathCase& c : cases) {
    TSVGPath path(c.data);
    path.Place(1.0f, 0, 0);
    int lines = 0;
    const QPainterPath& outline = path.GetOutline();
    for (int i = 0; i < outline.elementCount(); ++i)
      if (outline.elementAt(i).isLineTo()) ++lines;
    EXPECT_EQ(lines, c.lines) << c.data;
  }
}

TEST(PathParsing, PointTextsRunToTheCommaAndToTheNextBlank) {
  const struct {
    const char* data;
    int lines;
    float x, y;  // where the last line ends
  } cases[] = {
      {"M 0,0 L 10,20", 1, 10, 20},
      {"M 0,0 L 10 ,20", 1, 10, 20},        // x stops at the comma only
      {"M 0,0 L 10,20abc", 1, 10, 0},       // a malformed number reads 0
      {"M 0,0 L 1x,20", 1, 0, 20},
      {"M 0,0 L 1e1,+2", 1, 10, 2},
      {"M 0,0 L 10,inf", 1, 10, 0},
      {"M 0,0 L 0x10,3", 1, 0, 3},
      {"M 0,0 L 10,+-3", 1, 10, 0},
      {"M 5,5 L 10 20 L 30,40", 1, 0, 40},  // x is "10 20 L 30": malformed, and the second L is inside it
      {"M 5,5 L 7,8 L ,9", 2, 0, 0},        // an empty x gives (0, 0)
  };
  for (const auto& c : cases) {
    TSVGPath path(c.data);
    path.Place(1.0f, 0, 0);
    const QPainterPath& outline = path.GetOutline();
    int lines = 0;
    for (int i = 0; i < outline.elementCount(); ++i)
      if (outline.elementAt(i).isLineTo()) ++lines;
    EXPECT_EQ(lines, c.lines) << c.data;
    ASSERT_GT(outline.elementCount(), 0) << c.data;
    const QPainterPath::Element end = outline.elementAt(outline.elementCount() - 1);
    EXPECT_EQ(QPointF(end.x, end.y), QPointF(c.x, c.y)) << c.data;
  }
}

TEST(PathParsing, HitBoxExistsBeforeTheFirstDrawAndFollowsTransforms) {
  TSVGPath path("M 10,10 L 30,10 L 30,20");
  path.Place(1.0f, 0, 0);
  EXPECT_TRUE(path.HitTest(20, 15));
  EXPECT_FALSE(path.HitTest(5, 5));
  path.Translate(100, 0);
  EXPECT_TRUE(path.HitTest(120, 15));
  EXPECT_FALSE(path.HitTest(20, 15));
  path.Place(0.5f, 0, 0);
  EXPECT_TRUE(path.HitTest(60, 7));
  float minX, minY, maxX, maxY;
  path.GetRawBox(minX, minY, maxX, maxY);
  EXPECT_EQ(minX, 10);  // as written
  EXPECT_EQ(maxY, 20);
  TSVGPath empty("");
  EXPECT_FALSE(empty.HitTest(0, 0));
}

TEST(ShapeDrawing, FilledStyleAndOutline) {
  WhiteCanvas canvas;
  const float rect[6] = {20, 20, 80, 60, 0, 0};
  TGUIRectangle rectangle(rect, 2, 0x0000FF);  // red pen
  rectangle.SetStyle(2, 0x00FF00, 0, 0);       // green fill (0xRRGGBB)
  rectangle.Place(1.0f, 0, 0);
  rectangle.Paint(&canvas);
  EXPECT_EQ(canvas.PixelColour(50, 40), 0x00FF00u);
  EXPECT_EQ(canvas.PixelColour(5, 5), 0xFFFFFFu);
  const TColor edge = canvas.PixelColour(50, 20);
  EXPECT_GT(edge & 0xFF, 0x80u);  // red-ish edge
  EXPECT_LT((edge >> 8) & 0xFF, 0x80u);

  const float tri[6] = {100, 100, 150, 100, 100, 150};
  TGUITriangle triangle(tri, 1, 0xFF0000);  // blue pen
  triangle.SetStyle(2, 0x0000FF, 0, 0);     // blue fill
  triangle.Place(1.0f, 0, 0);
  triangle.Paint(&canvas);
  EXPECT_EQ(canvas.PixelColour(110, 110), 0xFF0000u);  // TColor blue
}

TEST(ShapeDrawing, RectangleWithZeroRadiiHasUnitCorners) {
  WhiteCanvas canvas;
  const float rect[6] = {10, 10, 50, 50, 0, 0};
  TGUIRectangle rectangle(rect, 1, 0);
  rectangle.Place(1.0f, 0, 0);
  rectangle.Paint(&canvas);
  // A sharp corner: the pixel right at the corner is inked.
  EXPECT_NE(canvas.PixelColour(10, 10), 0xFFFFFFu);
  EXPECT_EQ(canvas.PixelColour(30, 30), 0xFFFFFFu);  // not filled
}

// A canvas of random opaque pixels, the same for the same seed.
struct NoisyCanvas : TCanvas {
  NoisyCanvas() {
    SetSize(200, 200, 0);
    QImage image(200, 200, QImage::Format_ARGB32_Premultiplied);
    uint32_t state = 12345;
    for (int y = 0; y < 200; ++y)
      for (int x = 0; x < 200; ++x) {
        state = state * 1664525u + 1013904223u;
        image.setPixel(x, y, 0xFF000000u | (state >> 8));
      }
    SetImage(image);
  }
};

// The shapes keep their paths, outlines, sprites and laid-out text while
// their placement stays; what they draw is what the painter draws for the
// plain calls, pixel for pixel, over any background: at every pen width,
// filled or not, across the bitmap's edges, and after a new placement.
TEST(ShapeDrawing, KeptPathsDrawWhatThePainterDraws) {
  const QColor pen(0x20, 0x40, 0xC0), fill(0xDC, 0xE6, 0xF2);
  auto painter = [](TCanvas& canvas, int width, bool filled, const QColor& colour, const QColor& brush) -> QPainter& {
    QPainter& p = canvas.Lock();
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(colour, width, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
    p.setBrush(filled ? QBrush(brush) : QBrush(Qt::NoBrush));
    return p;
  };
  const float rect[6] = {10.3f, 12.6f, 70.2f, 48.9f, 6, 5};
  const float tri[6] = {20.5f, 10.2f, 80.7f, 30.1f, 30.9f, 55.5f};
  const TPointF poly[5] = {{12, 8}, {60.5f, 14.2f}, {75, 50}, {40.2f, 58}, {15, 40}};
  const float ellipse[4] = {14.2f, 9.7f, 77.1f, 52.3f};
  const std::string pathData = "M 10.5,10 L 70,15.2 L 60,55 L 20.7,45 z M 30,25 L 50,30";
  const struct {
    float scale;
    int dx, dy;
  } placements[] = {{1.0f, 0, 0}, {1.37f, 0, 0}, {1.0f, -40, 0}, {1.37f, 150, -30}};
  for (const auto& place : placements) {
    const float scale = place.scale;
    for (int width : {1, 2, 3, 5}) {
      for (bool filled : {false, true}) {
        const std::string what = " scale " + std::to_string(scale) + " at " + std::to_string(place.dx) + " width " +
                                 std::to_string(width) + (filled ? " filled" : "");
        std::vector<std::unique_ptr<TGUIObject>> shapes;
        shapes.push_back(std::make_unique<TGUIRectangle>(rect, width, ToTColor(pen)));
        shapes.push_back(std::make_unique<TGUITriangle>(tri, width, ToTColor(pen)));
        shapes.push_back(std::make_unique<TGUIPolygon>(poly, 5, width, ToTColor(pen)));
        shapes.push_back(std::make_unique<TGUIEllipse>(ellipse, width, ToTColor(pen)));
        shapes.push_back(std::make_unique<TSVGPath>(pathData));
        shapes.back()->SetWidth(width);
        shapes.back()->SetColour(ToTColor(pen));
        for (size_t k = 0; k < shapes.size(); ++k) {
          TGUIObject& shape = *shapes[k];
          shape.SetStyle(filled ? 2 : 0, fill.rgb() & 0xFFFFFF, 0, 0);
          // Placed twice: what was kept for the first placement must go.
          shape.Place(scale * 0.5f, 0, 0);
          NoisyCanvas kept, plain;
          shape.Paint(&kept);
          shape.Place(scale, place.dx, place.dy);
          kept.SetImage(plain.Image().copy());
          shape.Paint(&kept);
          shape.Paint(&kept);  // drawn again from what it kept
          kept.SetImage(plain.Image().copy());
          shape.Paint(&kept);
          QPainter& p = painter(plain, width, filled, pen, fill);
          auto point = [&](unsigned i) { return shape.GetPlacedPoint(i); };
          if (k == 0) {
            const TPointF a = point(0), b = point(1), r = point(2);
            const int w = int(b.x - a.x + 2), h = int(b.y - a.y + 2), rx = int(r.x) ? int(r.x) : 1,
                      ry = int(r.y) ? int(r.y) : 1;
            QRectF box(int(a.x), int(a.y), 2 * rx, 2 * ry);
            QPainterPath path;
            path.arcMoveTo(box, -180);
            path.arcTo(box, -180, -90);
            box.translate(w - 2 * rx - 1, 0);
            path.arcTo(box, -270, -90);
            box.translate(0, h - 2 * ry - 1);
            path.arcTo(box, 0, -90);
            box.translate(-(w - 2 * rx - 1), 0);
            path.arcTo(box, -90, -90);
            path.closeSubpath();
            p.drawPath(path);
          } else if (k == 1 || k == 2) {
            QPoint points[5];
            const unsigned n = shape.GetPointCount();
            for (unsigned i = 0; i < n; ++i) points[i] = QPoint(int(point(i).x), int(point(i).y));
            p.drawPolygon(points, int(n), Qt::OddEvenFill);
          } else if (k == 3) {
            p.drawEllipse(QRectF(point(0).x, point(0).y, point(1).x - point(0).x, point(1).y - point(0).y));
          } else {
            QPainterPath path = static_cast<TSVGPath&>(shape).GetOutline();
            if (filled) path.setFillRule(Qt::OddEvenFill);
            p.drawPath(path);
          }
          plain.Unlock();
          EXPECT_EQ(kept.Image(), plain.Image()) << "shape " << k << what;
        }
      }
    }
  }
}

TEST(ShapeDrawing, KeptTextDrawsWhatDrawTextDraws) {
  const float at[2] = {80.4f, 40.7f};
  TGUIText text(at, "Gain 12 dB", 10);
  text.AddLine("  L / R ", 14);
  text.AddLine("", 14);
  text.AddLine("tab\there", 14);
  for (float scale : {1.0f, 1.6f, 0.8f}) {
    text.Place(scale, 0, 0);
    WhiteCanvas kept, plain;
    text.Paint(&kept);
    kept.SetSize(kept.Width(), kept.Height(), 0xFFFFFF);
    text.Paint(&kept);  // from the kept layout
    QPainter& p = plain.Lock();
    p.setRenderHint(QPainter::TextAntialiasing, true);
    p.setFont(DiagramFont(text.GetPlacedFontSize()));
    p.setPen(PenColour(text.GetCurrentColour()));
    int y = int(text.GetPlacedPosition().y);
    for (int i = 0; i < text.GetLineCount(); ++i) {
      const qreal half = 4096;
      p.drawText(QRectF(text.GetPlacedPosition().x - half, y - half, 2 * half, 2 * half), Qt::AlignCenter,
                 QString::fromStdString(text.GetLine(i)));
      if (i + 1 < text.GetLineCount()) y = int(float(y) + float(text.GetLineOffset(i + 1)) * scale);
    }
    plain.Unlock();
    EXPECT_EQ(kept.Image(), plain.Image()) << scale;
  }
}
