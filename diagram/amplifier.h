// The gain stage of a diagram: a triangle bound to one register field, with
// a gain edit box beside it, optional Mute and Power boxes and a pop-up
// slider window. It converts between a gain in dB and the field by one of
// several gain laws or by a table of gains, keeps the amplifiers it links
// to ganged while its slider window's Lock box is checked, and follows the
// register image.
//
// A page holds many of them, so the real controls are built late: the edit
// and the boxes when the page first shows the widget, the slider window at
// the first click (or when asked for). Until then the widget keeps what they
// would show, and a control built late starts from it.
#pragma once

#include <QCheckBox>
#include <QLineEdit>
#include <QPointer>
#include <QWidget>
#include <vector>

#include "diagram/bound_shape.h"
#include "diagram/control_layout.h"
#include "diagram/slider_form.h"

class TAmplifier : public TBoundShape<TGUITriangle> {
 public:
  // The laws besides the linear ones (0: from min, 1: attenuation, 2: 2 - g,
  // 3: signed field).
  static constexpr int kLawTwoRegisters = 18701;
  static constexpr int kLawThreeSteps = 32621;
  static constexpr int kLawFromOne = 32622;
  // The two-register law keeps its second bit this many registers above.
  static constexpr int kSecondRegisterOffset = 34;
  // Amplifiers that first switch the board's routing device.
  static constexpr int kRoutedIDs[3] = {301001, 301002, 301003};
  static constexpr int kPairedID = 301002;

  TAmplifier(QWidget* owner, float initialGain, float min, float max, float step, int device, int page, int reg,
             uint8_t mask, uint8_t shift, int gainLaw, const float* gainTable, unsigned tableCount, float textX,
             float textY, const float* triangle, bool showMute, bool showPower, int width = 1, TColor colour = 0);
  ~TAmplifier() override;

  // The field code of a gain and the gain of a code; codes stay inside
  // the field (a signed field's negative codes in its two's complement).
  int GainToCode(float gain) const;
  float CodeToGain(int code) const;

  void SetGain(float gain, bool write);
  void RegisterChanged();
  void Refresh() override { RegisterChanged(); }
  static void SliderChange(TSliderForm* form, void* self);
  void GainKeyPress(int key);
  void MuteClick();

  void Place(float scale, int dx, int dy) override;
  bool Click(int x, int y) override;
  int Request(int code, void* data) override;
  void SetVisible(bool flag) override;
  void Draw(TCanvas* canvas) override;

  float GetGain() const { return gain; }
  // The controls, built at this call when they are not yet.
  TSliderForm* GetSlider() { return Slider(); }
  QLineEdit* GetEdit() { return BuildControls(), edit.data(); }
  QCheckBox* GetMuteBox() { return BuildControls(), muteBox.data(); }
  QCheckBox* GetPowerBox() { return BuildControls(), powerBox.data(); }
  // Whether they are built yet.
  bool HasSlider() const { return slider != nullptr; }
  bool HasControls() const { return edit != nullptr; }
  float GetMin() const { return min; }
  float GetMax() const { return max; }
  float GetStep() const { return step; }
  uint8_t GetMask() const { return mask; }
  uint8_t GetShift() const { return shift; }
  int GetGainLaw() const { return gainLaw; }
  const std::vector<float>& GetGainTable() const { return gainTable; }
  TPointF GetTextLocation() const { return textLocation; }
  bool GetShowMute() const { return showMute; }
  bool GetShowPower() const { return showPower; }
  bool GetLock() const { return lock; }
  // The widest text the edit shows for a gain of the range.
  QString WidestGainText() const;

 protected:
  // The largest code of the field.
  int FieldMax() const { return mask >> shift; }
  // trunc((gain - min) / step), kept inside the slider's range.
  int SliderPosition(float value) const;
  bool Muted() const { return muted; }
  // The gain a slider position stands for.
  float PositionGain(int position) const;
  // The image byte the two-register law keeps its low bit in (none unless
  // the window points into a page that holds it).
  uint8_t* SecondByte() const;
  // The controls sit on the owner only; headless there is nothing to show.
  bool Shown() const { return owner != nullptr; }
  // Builds the edit and the boxes (once) from the widget's state.
  void BuildControls();
  TSliderForm* Slider();
  // Moves the built controls to where Place put the edit.
  void PlaceControls();
  // The edit shows the gain unless muted, the boxes what the file asks for.
  void ShowControls();
  // The slider's position and texts, with its callback held off.
  void SetSliderPosition(int position);
  void SetLockBox(bool checked);

  // The controls' full sizes, so that placing and drawing need no control
  // (the edit grows to what its widest gain needs).
  static constexpr int kEditWidth = 30, kEditHeight = 18, kBoxWidth = 14, kBoxHeight = 16;

  QPointer<TSliderForm> slider;
  QPointer<QLineEdit> edit;
  QPointer<QCheckBox> muteBox;
  QPointer<QCheckBox> powerBox;
  // What the controls show, kept while they are not built.
  QString gainText;  // empty until a gain was shown
  int sliderPosition = 0;
  bool lockBox = false;
  bool muted = false;
  // Where Place put the edit, and the controls' size factor there.
  int editLeft = 0, editTop = 0;
  float sizeFactor = 1;
  TControlFit fit;     // of the built controls
  int editWidth = 0;   // what the widest gain needs in the edit's font
  // Where the edit (0), the Mute box (1) and the Power box (2) go.
  QRect ControlRect(int control) const;
  bool settingGain = false;
  bool lock = false;
  float gain;
  float min, max, step;
  TPointF textLocation;
  uint8_t mask, shift;
  int gainLaw;
  QWidget* owner;
  std::vector<float> gainTable;
  bool showMute, showPower;
};
