// The drawable shapes of a diagram page, built on TGUIObject: each supplies
// its geometry (Place, HitTest, Scale) and Draw; fade, hover and
// propagation come from the base.
#pragma once

#include <QPainterPath>
#include <string>

#include "common/gui_object.h"

// Two points, the ends. Also the base of the point shapes below.
class COMMON_API TGUILine : public TGUIObject {
 public:
  // `points`: x1, y1, x2, y2.
  TGUILine(const float* points, int width, TColor colour);
  ~TGUILine() override;
  void Place(float scale, int dx, int dy) override;
  bool HitTest(int x, int y) override;
  void Scale(float sx, float sy) override;
  void Draw(TCanvas* canvas) override;

 protected:
  // For the shapes that set their own points.
  TGUILine(int width, TColor colour) : TGUIObject(width, colour) {}
  void SetPoints(const float* xy, unsigned n);
  // Sets up the pen (current colour and width) and the brush of a fill.
  void PreparePainter(QPainter& painter, bool fill) const;
  // The closed outline through the first `count` points, truncated to
  // whole pixels, filled when the fill mode asks for it.
  void DrawPolygon(QPainter& painter, unsigned count);

  int dashStyle = 0;
};

// Three vertices.
class COMMON_API TGUITriangle : public TGUILine {
 public:
  TGUITriangle(const float* points, int width, TColor colour);
  bool HitTest(int x, int y) override;
  void Draw(TCanvas* canvas) override;
};

// Point 0 and point 1 are opposite corners, point 2 the corner radii.
class COMMON_API TGUIRectangle : public TGUILine {
 public:
  // `points`: x0, y0, x1, y1, rx, ry.
  TGUIRectangle(const float* points, int width, TColor colour);
  bool HitTest(int x, int y) override;
  void Draw(TCanvas* canvas) override;
};

// Points 0 and 1 are the corners of the bounding box, top-left first.
class COMMON_API TGUIEllipse : public TGUILine {
 public:
  TGUIEllipse(const float* points, int width, TColor colour);
  bool HitTest(int x, int y) override;
  void Draw(TCanvas* canvas) override;
};

// Up to 16 points; hit only near its first edge.
class COMMON_API TGUIPolygon : public TGUILine {
 public:
  TGUIPolygon(const TPointF* points, unsigned n, int width, TColor colour);
  void Draw(TCanvas* canvas) override;
};

// Up to 8 lines of text centred on a point.
class COMMON_API TGUIText : public TGUIObject {
 public:
  static constexpr int kMaxLines = 8;
  // A line is kept to this many characters: more than any drawing shows
  // (a line is drawn in a box 8192 pixels wide, which holds about 44000 of
  // the narrowest glyphs at the smallest font), so the cut is never seen,
  // and a huge line is not measured again at every zoom.
  static constexpr size_t kMaxLineLength = 65536;

  TGUIText(const float* position, const std::string& text, int fontSize);
  ~TGUIText() override;
  void AddLine(const std::string& text, int offset);

  void Place(float scale, int dx, int dy) override;
  bool HitTest(int x, int y) override;
  void Transform(float a, float b, float c, float d, float e, float f) override;
  void Scale(float sx, float sy) override;
  void Draw(TCanvas* canvas) override;

  int GetLineCount() const { return lineCount; }
  const std::string& GetLine(int i) const { return lines[i < 0 || i >= lineCount ? 0 : i]; }
  int GetLineOffset(int i) const { return i >= 0 && i < lineCount ? lineOffsets[i] : 0; }
  TPointF GetPosition() const { return position; }
  TPointF GetPlacedPosition() const { return placedPosition; }
  int GetFontSize() const { return fontSize; }
  int GetPlacedFontSize() const { return placedFontSize; }
  float GetTextWidth() const { return width; }
  float GetTextHeight() const { return height; }
  // Top of the text block relative to the placed position.
  float GetTextTop() const { return blockTop; }

 protected:
  std::string lines[kMaxLines];
  int lineOffsets[kMaxLines] = {};
  int lineCount = 1;
  TPointF position;
  TPointF placedPosition = {0, 0};
  int fontSize;
  int placedFontSize = 0;
  // The extent of the placed text block, measured at Place, so that the
  // text can be hovered and clicked over what is drawn.
  float height = 0;
  float width = 0;
  // Top of the block relative to the placed position.
  float blockTop = 0;
};

// A path of M, L and z commands.
class COMMON_API TSVGPath : public TGUIObject {
 public:
  explicit TSVGPath(const std::string& pathData);
  ~TSVGPath() override;

  void Place(float scale, int dx, int dy) override;
  bool HitTest(int x, int y) override;
  void Transform(float a, float b, float c, float d, float e, float f) override;
  void Translate(float dx, float dy) override;
  void Scale(float sx, float sy) override;
  void Draw(TCanvas* canvas) override;

  const std::string& GetPathData() const { return pathData; }
  // The hit box in placed coordinates.
  void GetHitBox(float& left, float& top, float& right, float& bottom) const;
  // The raw extent of the points as written.
  void GetRawBox(float& minX, float& minY, float& maxX, float& maxY) const;
  // The outline as drawn (placed coordinates).
  const QPainterPath& GetOutline() const { return outline; }

 private:
  // Parses the path data into the outline; keeps the raw extent and the
  // hit box up to date with every change of scale, offset or transform.
  void Build();
  TPointF MapPoint(float x, float y) const;

  float rawMinX = 0, rawMinY = 0;
  float hitLeft = 0, hitTop = 0;
  float rawMaxX = 0, rawMaxY = 0;
  float hitRight = 0, hitBottom = 0;
  std::string pathData;
  bool matrixSet = false;
  bool scaleSet = false;
  bool translationSet = false;
  float matrix[6] = {1, 0, 0, 1, 0, 0};
  float scaleValues[4] = {1, 1, 0, 0};
  float translation[2] = {0, 0};
  QPainterPath outline;
};

// The font of a text shape at a size in points (cached per size).
COMMON_API const QFont& DiagramFont(int points);
