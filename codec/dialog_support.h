// What the codec's set-up dialogs share: the register window that refreshes
// its form, the decimal texts, and the tool-window base that lights the
// diagram object that opened it.
#pragma once

#include <QWidget>

#include <cstdint>
#include <functional>
#include <string>

#include "codec/decimal_text.h"
#include "common/i2c_object.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QSlider;
#include <QRect>
#include <QStringList>
class TGUIObject;

// A register window of a dialog (device 0x30): its Refresh runs the form's.
class TFormI2C : public TI2CObject {
 public:
  TFormI2C(int page, int firstRegister, int count, std::function<void()> refresh)
      : TI2CObject(0x30, page, firstRegister, count, nullptr), refresh_(std::move(refresh)) {}
  ~TFormI2C() = default;
  void Refresh() override {
    if (refresh_) refresh_();
  }

  // Whether `reg` is one of the window's registers.
  bool Holds(int reg) const { return reg >= firstRegister && reg < firstRegister + count; }
  // The byte of register `reg`; until the host binds the window that is its
  // own private image. A register outside the window reads a scratch byte.
  uint8_t& Reg(int reg) {
    if (!Holds(reg)) {
      scratch_ = 0;
      return scratch_;
    }
    return data[reg - firstRegister];
  }
  // Sends `n` registers from `reg` when a write callback is bound.
  void Send(int reg, int n) {
    if (write && Holds(reg) && Holds(reg + n - 1)) write(user, device, page, reg, n);
  }
  // The field `mask` of `reg` := `value` (already in place), then sent.
  void SetField(int reg, uint8_t mask, uint8_t value) {
    Reg(reg) = uint8_t((Reg(reg) & ~mask) | (value & mask));
    Send(reg, 1);
  }
  // The host pointed the window into its register image.
  bool Bound() const { return data != PrivateData(); }
  // Moves the window (the right DAC channel's volume register).
  void SetFirstRegister(int reg) { firstRegister = reg; }
  void* User() const { return user; }

 private:
  std::function<void()> refresh_;
  uint8_t scratch_ = 0;
};

// A tool window that stays on top. While it is active it lights the
// diagram object that opened it; deactivated or hidden, it returns it to
// hover mode.
class TCodecDialog : public QWidget {
 public:
  TCodecDialog(const char* caption, int width, int height);
  ~TCodecDialog() override;

  void SetHostObject(TGUIObject* object) { hostObject = object; }
  TGUIObject* HostObject() const { return hostObject; }

  void FormActivate();
  void FormDeactivate();

 protected:
  void changeEvent(QEvent* event) override;
  void hideEvent(QHideEvent* event) override;

  // A label at (x, y).
  QLabel* Text(const char* text, int x, int y, int width = 120);

  // Set while a register window refreshes the controls: the change
  // handlers then update texts only, never the image.
  bool loading = false;
  TGUIObject* hostObject = nullptr;
  // Whether this dialog lights objects at all.
  bool lights = true;
};

// Controls placed at `at`: a track bar (vertical ones keep the minimum at
// the top), a group of radio buttons with ids 0, 1, ... (the first checked),
// a combo box and a check box, each named `name`.
QSlider* Slider(QWidget* parent, Qt::Orientation orientation, int min, int max, int position, QRect at);
QButtonGroup* RadioGroup(QWidget* parent, const char* name, const char* caption, QStringList items, QRect at);
QComboBox* Combo(QWidget* parent, const char* name, QStringList items, QRect at);
QCheckBox* Check(QWidget* parent, const char* name, const char* caption, QRect at);

// Moves a track bar as a register refresh does: its change handler runs
// even when the position stays, so that its text follows the register.
void SetPosition(QSlider* slider, int position);

// Runs `refresh` with the form's change handlers held to texts only.
template <class F>
void Loading(bool& loading, F refresh) {
  const bool was = loading;
  loading = true;
  refresh();
  loading = was;
}
