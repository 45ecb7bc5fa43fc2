// The "Processing Blocks" tool window of a board window: the codec's 25
// processing-block variants, bound through its register window to bits
// 4..0 of register 60 of page 0 of device 0x30 (bits 7..5 are kept).
#pragma once

#include <QWidget>

#include "common/i2c_object.h"

class QListWidget;
class TPBForm;

class TPB : public TI2CObject {
 public:
  static constexpr int kDevice = 0x30;
  static constexpr int kRegister = 60;
  static constexpr int kBlocks = 25;

  explicit TPB(TPBForm* owner) : TI2CObject(kDevice, 0, kRegister, 1, nullptr), owner(owner) {}
  ~TPB() = default;

  // Selects the list entry of the register's block number.
  void Refresh() override;
  // Writes block `number` (0: none) into the register.
  void SelectBlock(int number);

 private:
  TPBForm* owner;
};

class TPBForm : public QWidget {
 public:
  static const char* const kEntries[TPB::kBlocks];

  explicit TPBForm(QWidget* owner);

  // Entries the codec named `codecName` does not have read "NN: reserved".
  void ReserveForCodec(const std::string& codecName);
  void PBListBoxClick();

  TPB& Window() { return PB; }
  QListWidget* PBListBox;

 private:
  TPB PB;
};
