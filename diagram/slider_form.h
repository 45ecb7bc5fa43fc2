// The pop-up vertical slider window of a gain stage (and of the coefficient
// slider): a value text, an inverted track bar (top = maximum), and Mute and
// Lock boxes that the owner shows when it needs them. Every change, click
// and (de)activation is handed to the owner's one callback.
#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QSlider;
class TSliderForm;

typedef void (*TSliderCallback)(TSliderForm* form, void* user);

class TSliderForm : public QWidget {
 public:
  static constexpr int kClientWidth = 49;
  static constexpr int kClientHeight = 185;
  // With the Lock box shown.
  static constexpr int kLockedHeight = 235;

  explicit TSliderForm(QWidget* owner = nullptr);

  void SetChangeCallback(void* user, TSliderCallback callback);
  TSliderCallback GetChangeCallback() const { return callback; }
  // The range and the value, counted from the bottom: `position` and `max`
  // are kept inside 0..max (and min..max).
  void SetRange(int position, int min, int max);
  void SetPosition(int value);
  int GetPosition() const;
  int GetMin() const;
  int GetMax() const;

  // Handlers of the controls and of the window.
  void VolumeChange();
  void FormActivate();
  void FormDeactivate();
  void LockClick();

  QLabel* VolumeText;
  QSlider* Volume;
  QCheckBox* Mute;
  QCheckBox* Lock;

 protected:
  bool event(QEvent* event) override;

 private:
  void Notify();

  TSliderCallback callback = nullptr;
  void* user = nullptr;
};
