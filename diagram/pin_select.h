// The pin function selector: one of a group of drop-down boxes (ids 5200,
// 6200, 7200, 8200, 9200), each naming the function of one multi-purpose
// pin. The group keeps the choices exclusive, writes each pin's function
// code and the chosen function's mode register, and sets the linked
// direction arrows.
#pragma once

#include <QComboBox>
#include <QPointer>
#include <QStringList>
#include <QWidget>
#include <string>

#include "diagram/bit_widgets.h"
#include "diagram/bound_shape.h"

class TPinSelect : public TBoundShape<TGUIRectangle>, public TArrowClickListener {
 public:
  static constexpr int kPins = 5;
  static constexpr int kFirstPinID = 5200;
  // The block it edits, writes and watches: the pin codes at 31 and 32 up
  // to the last mode register, 58.
  static constexpr int kFirstRegister = 31;
  static constexpr int kLastRegister = 58;
  // The box's full size.
  static constexpr int kComboWidth = 64, kComboHeight = 22;

  TPinSelect(QWidget* owner, const float* rect, int width = 1, TColor colour = 0);
  ~TPinSelect() override;

  void Place(float scale, int dx, int dy) override;
  bool Click(int x, int y) override;
  void AfterLoad() override;
  void SetVisible(bool flag) override;
  void Draw(TCanvas*) override {}
  void Refresh() override;
  void ArrowClicked(TIOArrow* arrow) override;

  // The combo's change event.
  void Changed();
  void RebuildItems();
  // 0: no mode, 1: input, 2: output, as the mode registers say.
  int GetDirection(const std::string& function) const;
  void ApplyFunction(const std::string& function, int direction);

  QComboBox* GetCombo() const { return combo.data(); }
  const std::string& GetSelection() const { return selection; }
  static const QStringList& Functions();

 protected:
  uint8_t& Reg(int reg) { return data[reg - kFirstRegister]; }
  uint8_t Reg(int reg) const { return data[reg - kFirstRegister]; }
  void WriteReg(int reg);
  // The field of `reg` from bit `high` down to bit `low`.
  int Field(int reg, int high, int low) const;
  void SetField(int reg, int high, int low, int value);
  void ChangedBody();
  std::string Text() const;
  void Show(const std::string& text);
  TGUIObject* Companion();

  TColor netColour = 0;
  std::string selection;
  QPointer<QComboBox> combo;
  TControlFit fit;  // of the combo
  TPinSelect* pins[kPins] = {};
};
