// The two bitmaps of a diagram page and what is drawn on them. The
// background holds the inert objects (mode 0) over the page colour; the
// foreground is the background with the interactive objects on it.
//
// Besides whole redraws it draws only what changed over a pass of
// notifications: while a pass runs the foreground is held, so objects that
// paint themselves are only noted. At the end of the pass every object
// that painted, that reported a change, or whose drawing state (mode,
// visibility, colour, width, on, fade) differs from what was drawn is
// measured again; where its drawing differs from what is on the bitmaps,
// the places where it was and is drawn are drawn again, in the layers it
// was and is in, with every object that reaches into them.
#pragma once

#include <QRect>
#include <QRegion>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "common/canvas.h"
#include "common/colour.h"
#include "common/export.h"

class TGUIGroup;
class TGUIObject;

class COMMON_API TPageDrawing {
 public:
  // What the last pass drew.
  enum class TPass { kNothing, kChanged, kWhole };

  TPageDrawing();
  ~TPageDrawing();
  TPageDrawing(const TPageDrawing&) = delete;
  TPageDrawing& operator=(const TPageDrawing&) = delete;

  // The bitmaps (of one size) and the page colour; then the objects, in
  // drawing order (a zoom or another page gives them again). Both forget
  // what was drawn: the next pass draws the whole page.
  void SetCanvases(TCanvas* foreground, TCanvas* background, TColor colour);
  void SetObjects(TGUIObject* const* objects, unsigned count);

  // Whole redraws: the background and then the foreground, the background
  // alone (the foreground then equals it), the foreground from the
  // background. Inside a pass they wait for its end. After new canvases
  // the background, which no window shows, is drawn when first needed.
  void Redraw();
  void DrawBackground();
  void DrawForeground();

  // A pass holds the foreground; passes do not nest.
  void BeginPass();
  bool InPass() const { return inPass_; }
  // An object (or a group's child) that reported a change during the pass.
  void NoteChange(TGUIObject* object);
  // Ends the pass and draws what changed, or everything when `whole`.
  // True when anything was drawn.
  bool EndPass(bool whole);

  TPass LastPass() const { return lastPass_; }
  // The objects whose drawing changed in the last pass that drew them alone.
  unsigned LastPassChanges() const { return lastChanges_; }
  // How often the whole foreground was drawn.
  unsigned WholeForegroundDraws() const { return wholeForegroundDraws_; }

 private:
  // What decides an object's drawing, as far as the base class knows it.
  struct TState {
    int mode = 0;
    TColor colour = 0;
    int width = 0;
    int fadeState = 0;
    int fadeStep = 0;
    int fillMode = 0;
    uint32_t fillColour = 0;
    bool visible = false;
    bool on = false;
    bool enabled = false;
    uint64_t children = 0;  // the same of a group's objects, folded
    bool operator==(const TState&) const = default;
  };
  // One object as it was last drawn.
  struct TEntry {
    TGUIObject* object = nullptr;
    const TGUIGroup* group = nullptr;  // the object when it is a group
    int kind = 0;
    bool drawn = false;
    bool background = false;
    QRect extent;
    uint64_t signature = 0;
    TState state;
  };

  static TState StateOf(const TGUIObject& object, const TGUIGroup* group);
  // Where the object draws now and how (a widget is painted on the probe).
  void Measure(const TEntry& entry, QRect& extent, uint64_t& signature);
  void Record(TEntry& entry);
  // Paints the objects of one layer onto the foreground over the whole
  // bitmap and records how each was drawn; the background layer starts
  // from the page colour.
  void PaintLayer(bool background);
  // Draws the background from the objects as they are; false when it
  // cannot be drawn now.
  bool MakeBackground();
  // Draws one layer again inside `region` (of that layer's bitmap); false
  // when the region is better drawn whole.
  bool DrawRegion(bool background, const QRegion& region);
  bool Mark(TGUIObject* object);

  TCanvas* foreground_ = nullptr;
  TCanvas* background_ = nullptr;
  TColor colour_ = 0;
  std::vector<TEntry> entries_;
  // Every object, a group's too, to the entry that draws it.
  std::unordered_map<const TGUIObject*, unsigned> index_;
  std::vector<char> marked_;
  bool backgroundDrawn_ = false;
  bool foregroundDrawn_ = false;
  // New bitmaps: the background waits until it is first needed.
  bool backgroundLate_ = true;
  bool inPass_ = false;
  bool whole_ = false;
  TPass lastPass_ = TPass::kNothing;
  unsigned lastChanges_ = 0;
  unsigned wholeForegroundDraws_ = 0;
  TCanvas probeCanvas_;
  TCanvas scratch_;
  TDrawingProbe probe_;
};
