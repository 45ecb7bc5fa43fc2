// The drawable objects of a diagram page: the abstract base `TGUIObject`
// (geometry, colours, hover fade, links and nets, hit test, draw), the
// shared fade timer `TProximityTimer`, and the composite `TGUIGroup`.
// The plug-in derives from `TGUIObject` and calls it on objects the host
// made, so its fields and the order of its 25 virtual operations are one
// definition for both.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>

#include "common/colour.h"
#include "common/export.h"

class QTimer;
class TCanvas;
class TGUIObject;

struct TPointF {
  float x;
  float y;
};

// Placed coordinates stay within this distance of the origin: far beyond
// any canvas, yet small enough that the drawing code's int conversions and
// sums cannot overflow. A file's huge number, transform or zoom would.
inline constexpr float kMaxPlacedCoordinate = 1.0e6f;
inline float ClampCoordinate(float value) {
  if (value != value) return 0;  // NaN (inf * 0 of a transform)
  return std::clamp(value, -kMaxPlacedCoordinate, kMaxPlacedCoordinate);
}
// A coordinate or length from a file, or worked out from one, as whole
// pixels (truncated): inside the placed range, NaN as 0. A plain int() of
// 3e9 or inf is undefined.
inline int CoordinatePixels(double value) {
  if (value != value) return 0;
  return int(std::clamp(value, -double(kMaxPlacedCoordinate), double(kMaxPlacedCoordinate)));
}
// A pointer position beyond every placed coordinate: no object is under it.
inline constexpr int kPointerNowhere = -2 * int(kMaxPlacedCoordinate);

// Event codes handed to an object's event callback.
enum : int {
  kEventHoverEnded = 0,
  kEventLit = 2,  // also: a widget's value or position changed
  kEventEntered = 3,
  kEventLeft = 4,
  kEventStateChanged = 5,
};

// Fade states.
enum : int {
  kFadeIdle = 0,
  kFadeEntered = 1,
  kFadeLit = 2,
  kFadeOutPending = 3,
  kFadeRampA = 4,
  kFadeRampB = 5,
};

typedef void (*TGUIEventCallback)(void* user, TGUIObject* object, int event);

// Steps the fades of its objects every 20 ms while any fade runs.
class COMMON_API TProximityTimer {
 public:
  static constexpr unsigned kMaxObjects = 128;

  TProximityTimer();
  ~TProximityTimer();
  TProximityTimer(const TProximityTimer&) = delete;
  TProximityTimer& operator=(const TProximityTimer&) = delete;

  // Appends while fewer than 128 are held (no duplicate test).
  void AddObject(TGUIObject* object);
  // Stops the timer and forgets every object (before they are deleted).
  void Clear();
  // One tick, as the timer runs it; tests call it directly.
  void Tick();
  // Re-arms the timer: `StartFade` uses it with 1 ms.
  void Arm(int intervalMs);

  int Interval() const { return interval_; }
  bool Enabled() const { return enabled_; }
  unsigned Count() const { return count_; }
  TGUIObject* Object(unsigned i) const { return i < count_ ? objects_[i] : nullptr; }

 private:
  void Apply();

  QTimer* timer_;
  int interval_ = 20;
  bool enabled_ = false;
  TGUIObject* objects_[kMaxObjects] = {};
  unsigned count_ = 0;
};

class COMMON_API TGUIObject {
 public:
  static constexpr unsigned kMaxPoints = 16;
  static constexpr unsigned kMaxLinks = 16;
  static constexpr unsigned kMaxNets = 16;
  static constexpr unsigned kMaxNetMembers = 16;

  struct TNet {
    int number;
    unsigned memberCount;
    TGUIObject* members[kMaxNetMembers];
  };

  TGUIObject(int width, TColor colour);
  TGUIObject(const TGUIObject&) = delete;
  TGUIObject& operator=(const TGUIObject&) = delete;

  // Virtual operations, in their slot order.
  virtual ~TGUIObject();                                                         // 0
  virtual void StartFade(int state);                                             // 1
  virtual void Place(float scale, int dx, int dy);                               // 2
  virtual bool HitTest(int x, int y) = 0;                                        // 3
  virtual bool Click(int x, int y);                                              // 4
  virtual void MouseMove(int x, int y);                                          // 5
  virtual void OnHighlighted();                                                  // 6
  virtual void OnUnhighlighted();                                                // 7
  virtual void SetCallback(void* user, TGUIEventCallback callback);              // 8
  virtual void SetHighlightColour(TColor colour);                                // 9
  virtual void SetOnColour(TColor colour);                                       // 10
  virtual void Propagate(bool recolour);                                         // 11
  virtual void AfterLoad();                                                      // 12
  virtual void Transform(float a, float b, float c, float d, float e, float f);  // 13
  virtual void Translate(float dx, float dy);                                    // 14
  virtual void Scale(float sx, float sy);                                        // 15
  virtual bool HasNet(int net);                                                  // 16
  virtual void SetState(bool on);                                                // 17
  virtual void SetActiveObjects(bool flag);                                      // 18
  virtual void SetEnabled(bool flag);                                            // 19
  virtual bool GetState();                                                       // 20
  virtual bool GetSavedState(int net);                                           // 21
  virtual int Request(int code, void* data);                                     // 22
  virtual void SetVisible(bool flag);                                            // 23
  virtual void Draw(TCanvas* canvas) = 0;                                        // 24

  // Drawing entry of the window, the group and the timer. On a held canvas
  // the paint is only noted there (the canvas is still remembered).
  void Paint(TCanvas* canvas);
  // Paints as Paint does onto `canvas` while later paints (fade, refresh)
  // still go to the canvas of the last Paint: for measuring a drawing.
  void PaintAside(TCanvas* canvas);
  int SetMode(int mode, TProximityTimer* timer);
  // One timer step: 20 while the fade goes on, 0 when it has ended.
  int FadeStep();
  // The pointer has left the view: the hover ends as a move off the object
  // within the page would end it.
  void PointerLeft() { MouseMove(kPointerNowhere, kPointerNowhere); }
  // Ends a hover, or a fade on its way, at once, as the fade-out's last step
  // would: drawn as before the hover, `OnUnhighlighted`, event 0.
  void EndHover();
  bool ClickTest(int x, int y);

  int GetID() const { return id; }
  int GetMode() const { return mode; }
  TColor GetOnColour() const { return onColour; }

  // Links and nets.
  void AddLinkTo(int id, int value);
  int GetLinkToCount() const { return linkToCount; }
  int GetLinkToID(int i) const;
  int GetLinkToValue(int i) const;
  void Link(TGUIObject* target, int value);
  TGUIObject* FindByID(int id);
  void AddNet(int number);
  void AddNetMember(TGUIObject* object, unsigned recordIndex);
  void SetNetState(unsigned recordIndex, bool state, TColor colour);
  TGUIObject* FindNetMemberOn(unsigned recordIndex);

  // Setters of the loader.
  void SetID(int id) { this->id = id; }
  void SetFunctionName(const std::string& name) { functionName = name; }
  void SetHintText(const std::string& text) { hintText = text; }
  void SetColour(TColor colour) { normalColour = currentColour = colour; }
  void SetWidth(int width) { normalWidth = currentWidth = width; }
  void SetOnWidth(int width) { onWidth = width; }
  void SetHighlightWidth(int width) { highlightWidth = width; }
  void SetBackgroundColour(TColor colour) { backgroundColour = colour; }
  void SetShadow(bool flag) { shadow = flag; }
  void SetGradient(bool flag) { gradient = flag; }
  void SetStyle(int fillMode, uint32_t fillColour, int strokeMode, uint32_t strokeColour);

  // Plain accessors.
  const std::string& GetFunctionName() const { return functionName; }
  const std::string& GetHintText() const { return hintText; }
  float GetScale() const { return scale; }
  TCanvas* GetCanvas() const { return canvas; }
  TProximityTimer* GetProximityTimer() const { return proximityTimer; }
  int GetFadeState() const { return fadeState; }
  int GetFadeStep() const { return fadeStep; }
  int GetCurrentWidth() const { return currentWidth; }
  int GetNormalWidth() const { return normalWidth; }
  int GetOnWidth() const { return onWidth; }
  int GetHighlightWidth() const { return highlightWidth; }
  TColor GetCurrentColour() const { return currentColour; }
  TColor GetNormalColour() const { return normalColour; }
  TColor GetBackgroundColour() const { return backgroundColour; }
  TColor GetHighlightColour() const { return highlightColour; }
  unsigned GetPointCount() const { return pointCount; }
  TPointF GetSourcePoint(unsigned i) const { return i < kMaxPoints ? sourcePoints[i] : TPointF{0, 0}; }
  TPointF GetPlacedPoint(unsigned i) const { return i < kMaxPoints ? placedPoints[i] : TPointF{0, 0}; }
  void GetBoundingBox(int& left, int& top, int& right, int& bottom) const;
  bool IsOn() const { return on; }
  bool IsEnabled() const { return enabled; }
  bool IsVisible() const { return visible; }
  bool GetActiveObjects() const { return activeObjects; }
  bool GetShadow() const { return shadow; }
  bool GetGradient() const { return gradient; }
  int GetFillMode() const { return fillMode; }
  uint32_t GetFillColour() const { return fillColour; }
  int GetStrokeMode() const { return strokeMode; }
  uint32_t GetStrokeColour() const { return strokeColour; }
  unsigned GetTargetCount() const { return targetCount; }
  unsigned GetSourceCount() const { return sourceCount; }
  TGUIObject* GetTarget(unsigned i) const { return i < targetCount ? targets[i] : nullptr; }
  TGUIObject* GetSource(unsigned i) const { return i < sourceCount ? sources[i] : nullptr; }
  int GetSourceValue(unsigned i) const { return i < sourceCount ? sourceValues[i] : 0; }
  unsigned GetNetCount() const { return netCount; }
  const TNet* GetNet(unsigned i) const { return i < netCount ? &nets[i] : nullptr; }
  TGUIEventCallback GetEventCallback() const { return eventCallback; }
  void* GetCallbackUser() const { return callbackUser; }

 protected:
  // The body of `Place` shared by the point shapes.
  void PlacePoints(float s, int dx, int dy);
  void SendEvent(int event);

  float scale = 1.0f;
  TCanvas* canvas = nullptr;
  TProximityTimer* proximityTimer = nullptr;
  int fadeState = 0;
  int fadeStep = 0;
  int currentWidth;
  int normalWidth;
  int onWidth;
  int highlightWidth;
  TColor currentColour;
  TColor backgroundColour = kSystemWindowColour;
  TColor normalColour;
  TColor highlightColour = 255;
  TColor onColour = 0;
  TPointF sourcePoints[kMaxPoints] = {};
  TPointF placedPoints[kMaxPoints] = {};
  unsigned pointCount = 0;
  int id = 0;
  int mode = 0;
  TGUIEventCallback eventCallback = nullptr;
  void* callbackUser = nullptr;
  bool on = false;
  bool activeObjects = false;
  bool propagating = false;
  bool settingNetState = false;
  bool enabled = true;
  bool savedState = false;
  bool searchingNet = false;
  bool visible = true;
  bool shadow = false;
  bool gradient = false;
  std::string functionName;
  std::string hintText;
  int offsetX = 0;
  int offsetY = 0;
  int boxLeft = 0;
  int boxTop = 0;
  int boxRight = 0;
  int boxBottom = 0;
  int linkToCount = 0;
  int linkToValues[kMaxLinks] = {};
  int linkToIDs[kMaxLinks] = {};
  unsigned targetCount = 0;
  unsigned sourceCount = 0;
  TGUIObject* targets[kMaxLinks] = {};
  TGUIObject* sources[kMaxLinks] = {};
  int sourceValues[kMaxLinks] = {};
  unsigned netCount = 0;
  TNet nets[kMaxNets] = {};
  int fillMode = 0;
  uint32_t fillColour = 0x808080;
  int strokeMode = 2;
  uint32_t strokeColour = 0x808080;

  friend class TGUIGroup;
  friend struct TGUIObjectLayout;
};

// A `g` element: draws, places and forwards to its children. It owns them
// (nothing else frees objects inside a group).
class COMMON_API TGUIGroup : public TGUIObject {
 public:
  static constexpr unsigned kMaxChildren = 128;

  // Keeps the first 128 children and deletes any beyond them.
  TGUIGroup(TGUIObject* const* children, unsigned count);
  ~TGUIGroup() override;

  void StartFade(int state) override;
  void Place(float scale, int dx, int dy) override;
  bool HitTest(int x, int y) override;
  bool Click(int x, int y) override;
  void MouseMove(int x, int y) override;
  void SetCallback(void* user, TGUIEventCallback callback) override;
  void SetHighlightColour(TColor colour) override;
  void SetOnColour(TColor colour) override;
  void AfterLoad() override;
  void Transform(float a, float b, float c, float d, float e, float f) override;
  void Translate(float dx, float dy) override;
  void Scale(float sx, float sy) override;
  void SetState(bool on) override;
  void SetEnabled(bool flag) override;
  void Draw(TCanvas* canvas) override;

  unsigned GetChildCount() const { return childCount; }
  TGUIObject* GetChild(unsigned i) const { return i < childCount && i < kMaxChildren ? children[i] : nullptr; }

 private:
  TGUIObject* children[kMaxChildren] = {};
  unsigned childCount = 0;

  friend struct TGUIObjectLayout;
};
