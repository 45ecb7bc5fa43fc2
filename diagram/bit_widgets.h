// Bit and field widgets: lever switch, amplifier switch, direction arrow,
// N-position toggle, three-way impedance select, check box. Each is its
// rectangle with its register window (one register): a click edits the
// image byte and writes it; a register change reaches the widget through
// the window's Refresh (writes suspended), which leads to the widget's own
// refresh operation. The switches, arrows and toggles carry the signal-path
// highlighting across their nets.
#pragma once

#include <QCheckBox>
#include <QPointer>
#include <QWidget>

#include "diagram/bound_shape.h"
#include "diagram/control_layout.h"

class TIOArrow;

// The widget a control of the diagram sits on: the content of a scroll
// area scrolls with the page, its viewport does not. None without an owner.
QWidget* DiagramControlParent(QWidget* owner);

// The second target of an arrow on a page without registers (the pin
// select): told when the arrow's direction was clicked.
class TArrowClickListener {
 public:
  virtual void ArrowClicked(TIOArrow* arrow) = 0;

 protected:
  ~TArrowClickListener() = default;
};

// Common to the six: the one image byte and its write.
class TBitWidget : public TBoundShape<TGUIRectangle> {
 public:
  using TBoundShape::TBoundShape;

  // The widget's refresh from the register image.
  void Refresh() override { UpdateFromRegister(); }
  virtual void UpdateFromRegister() = 0;

  uint8_t GetImageByte() const { return data ? *data : 0; }

 protected:
  // The bit of `bit`; none for a bit outside the byte.
  static uint8_t BitMask(int bit) { return bit >= 0 && bit <= 7 ? uint8_t(1u << bit) : uint8_t(0); }
  bool BitSet(int bit) const { return data && (*data & BitMask(bit)) != 0; }
  void SetBit(int bit, bool set) {
    if (data) *data = set ? uint8_t(*data | BitMask(bit)) : uint8_t(*data & ~BitMask(bit));
  }
  // The field (byte AND mask) >> shift, and a value put into it; a value
  // that does not fit the mask is cut to it rather than spill over.
  static int Field(uint8_t byte, int mask, int shift);
  void SetField(int mask, int shift, int value);
  // The register window's write of its one register, when bound.
  void WriteRegister() {
    if (write) write(user, device, page, firstRegister, count);
  }
  void PlaceBody(float s, int dx, int dy) { PlacePoints(s, dx, dy); }

  // The light a lever's own pass over its nets gave it. It goes when the
  // lever leaves that connection: the off pass of a net it has left no
  // longer reaches it (it answers HasNet for the nets it connects now), so
  // without this it would keep the light the registers no longer give it.
  // A neighbour's pass decides the light anew.
  void KeepOwnLight(bool wasOn) {
    if (on && !wasOn) ownLight = true;
  }
  void DropOwnLight() {
    if (ownLight) TGUIObject::SetState(false);
    ownLight = false;
  }
  void NoteNeighbourPass() {
    if (!settingNetState) ownLight = false;
  }

 private:
  bool ownLight = false;
};

class TSwitch : public TBitWidget {
 public:
  TSwitch(void* diagram, int bit, int device, int page, int reg, const float* rect, int width = 1, TColor colour = 0);

  bool Click(int x, int y) override;
  void AfterLoad() override;
  bool HasNet(int net) override;
  void SetState(bool on) override;
  bool GetState() override;
  bool GetSavedState(int net) override;
  int Request(int code, void* data) override;
  void Draw(TCanvas* canvas) override;
  void UpdateFromRegister() override;
  // The state change with path propagation.
  virtual void SetSwitch(uint8_t value);

  int GetBit() const { return bit; }
  void* GetDiagram() const { return diagram; }
  uint8_t GetSwitchState() const { return switchState; }

 protected:
  void* diagram;
  int bit;
  uint8_t switchState = 0;
};

// An amplifier's on/off: a source that never breaks the path.
class TAmpSwitch : public TSwitch {
 public:
  using TSwitch::TSwitch;

  bool GetState() override { return true; }
  void SetSwitch(uint8_t value) override;
  void Draw(TCanvas* canvas) override;
};

// A direction arrow on device 0x30; a linked arrow shows the opposite way.
class TIOArrow : public TSwitch {
 public:
  TIOArrow(void* diagram, int bit, int page, int reg, const float* rect, int width = 1, TColor colour = 0);

  bool Click(int x, int y) override;
  void AfterLoad() override;
  void SetState(bool on) override;
  bool GetState() override { return on; }
  bool GetSavedState(int net) override;
  void Draw(TCanvas* canvas) override;
  void SetSwitch(uint8_t value) override;

  TColor GetPathColour() const { return TColor(pathColour); }

 protected:
  int pathColour = 0;
  // Two arrows that are each other's first target would call each other's
  // SetSwitch without end.
  bool settingSwitch = false;
};

// An N-position lever over a register field; its targets are toggles that
// follow its position.
class TToggle : public TBitWidget {
 public:
  static constexpr int kMinPositions = 2;
  // Record `positions` is the common side and must be one of the 16 nets.
  static constexpr int kMaxPositions = 15;
  // The one toggle whose field values run 1, 2, 0 for positions 0, 1, 2.
  static constexpr int kRotatedFieldID = 6001;

  // `positions` outside 2..15 is kept inside (the loader rejects such files).
  TToggle(void* diagram, int mask, int shift, int device, int page, int reg, const float* rect, int positions,
          int width = 1, TColor colour = 0);

  bool Click(int x, int y) override;
  void Propagate(bool recolour) override;
  bool HasNet(int net) override;
  void SetState(bool on) override;
  // On, or lighting its nets: a mixer on a net it lights counts it before
  // the pass has reached the toggle itself.
  bool GetState() override { return on || lighting; }
  bool GetSavedState(int net) override;
  void Draw(TCanvas* canvas) override;
  void UpdateFromRegister() override;
  void SetPosition(int position);

  int GetMask() const { return mask; }
  int GetShift() const { return shift; }
  int GetPositions() const { return positions; }
  int GetPosition() const { return position; }
  void* GetDiagram() const { return diagram; }

 protected:
  void* diagram;
  int mask;
  int shift;
  int position = 0;
  int positions;
  uint8_t settingPosition = 0;
  bool lighting = false;
};

// Three ways over a field holding 1, 2 or 3; off clears the field.
class TImpedanceSelect : public TBitWidget {
 public:
  TImpedanceSelect(void* diagram, int mask, int shift, int page, int reg, const float* rect, int width = 1,
                   TColor colour = 0);

  bool Click(int x, int y) override;
  void SetState(bool on) override;
  void Draw(TCanvas* canvas) override;
  void UpdateFromRegister() override;

  int GetMask() const { return mask; }
  int GetShift() const { return shift; }
  int GetPosition() const { return position; }
  void* GetDiagram() const { return diagram; }

 protected:
  void* diagram;
  int mask;
  int shift;
  int position = 0;
};

// A check box control on the diagram's scroll box with its caption drawn
// beside it. When the owner is a scroll area the control sits on its
// content widget, so that it scrolls with the page.
class TPlCheckBox : public TBitWidget {
 public:
  TPlCheckBox(QWidget* owner, int device, int page, int reg, const std::string& caption, int bit, const float* rect);
  ~TPlCheckBox() override;

  void Place(float scale, int dx, int dy) override;
  bool HitTest(int, int) override { return false; }
  bool Click(int, int) override { return false; }
  void SetVisible(bool flag) override;
  void Draw(TCanvas* canvas) override;
  void UpdateFromRegister() override;
  // The control's click: the check mark into the bit, then the write.
  void CheckClick();

  const std::string& GetCaption() const { return caption; }
  int GetBit() const { return bit; }
  QCheckBox* GetControl() const;
  // The box's full size.
  static constexpr int kBoxWidth = 14, kBoxHeight = 16;

 protected:
  // Guarded: the owner deletes its children when it goes first.
  QPointer<QCheckBox> control;
  std::string caption;
  uint8_t bit;
  QPointer<QWidget> owner;
  float sizeFactor = 1;  // of the box and its caption, at the last placement
  TControlFit fit;        // of the box
};
