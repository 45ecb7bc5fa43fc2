#include "diagram/processing_blocks.h"

#include <QKeyEvent>
#include <QListWidget>
#include <QVBoxLayout>
#include <cstdio>

namespace {

// The list box: a row chosen with the keyboard writes as a click does.
class TPBListBox : public QListWidget {
 public:
  explicit TPBListBox(TPBForm* form) : QListWidget(form), form(form) {}

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    const int before = currentRow();
    QListWidget::keyPressEvent(event);
    if (currentRow() != before) form->PBListBoxClick();
  }

 private:
  TPBForm* form;
};

}  // namespace

const char* const TPBForm::kEntries[TPB::kBlocks] = {
    "01: Stereo-DAC with Interpolation-8x + 3 Programmable Biquads(adaptive)",
    "02: Stereo-DAC with Interpolation-8x + 1 Programmable First Order IIR (adaptive) + 6 Programmable "
    "Biquads(adaptive) + DRC",
    "03: Stereo-DAC with Interpolation-8x + 1 Programmable First Order IIR (adaptive) + 6 Programmable "
    "Biquads(adaptive)",
    "04: Mono-DAC with Interpolation-8x + 3 Programmable Biquads(adaptive)",
    "05: Mono-DAC with Interpolation-8x + 1 Programmable First Order IIR (adaptive) + 6 Programmable "
    "Biquads(adaptive) + DRC",
    "06: Mono-DAC with Interpolation-8x + 1 Programmable First Order IIR (adaptive) + 6 Programmable "
    "Biquads(adaptive)",
    "07: Stereo-DAC with Interpolation-4x + 1 Programmable First Order IIR (adaptive)",
    "08: Stereo-DAC with Interpolation-4x + 4 Programmable Biquads(adaptive) + DRC",
    "09: Stereo-DAC with Interpolation-4x + 4 Programmable Biquads(adaptive)",
    "10: Stereo-DAC with Interpolation-4x + 1 Programmable First Order IIR (adaptive) + 6 Programmable "
    "Biquads(adaptive) + DRC",
    "11: Stereo-DAC with Interpolation-4x + 1 Programmable First Order IIR (adaptive) + 6 Programmable "
    "Biquads(adaptive)",
    "12: Mono-DAC with Interpolation-4x + 1 Programmable First Order IIR (adaptive)",
    "13: Mono-DAC with Interpolation-4x + 4 Programmable Biquads(adaptive) + DRC",
    "14: Mono-DAC with Interpolation-4x + 4 Programmable Biquads(adaptive)",
    "15: Mono-DAC with Interpolation-4x + 1 Programmable First Order IIR (adaptive) + 6 Programmable "
    "Biquads(adaptive) + DRC",
    "16: Mono-DAC with Interpolation-4x + 1 Programmable First Order IIR (adaptive) + 6 Programmable "
    "Biquads(adaptive)",
    "17: Stereo-DAC with Interpolation-2x + 1 Programmable First Order IIR (adaptive)",
    "18: Stereo-DAC with Interpolation-2x + 1 Programmable First Order IIR (adaptive) + 4 Programmable "
    "Biquads(adaptive) + DRC",
    "19: Stereo-DAC with Interpolation-2x + 1 Programmable First Order IIR (adaptive) + 4 Programmable "
    "Biquads(adaptive)",
    "20: Mono-DAC with Interpolation-2x + 1 Programmable First Order IIR (adaptive)",
    "21: Mono-DAC with Interpolation-2x + 1 Programmable First Order IIR (adaptive) + 4 Programmable "
    "Biquads(adaptive) + DRC",
    "22: Mono-DAC with Interpolation-2x + 1 Programmable First Order IIR (adaptive) + 4 Programmable "
    "Biquads(adaptive)",
    "23: Stereo-DAC with Interpolation-8x + 2 Programmable Biquads(adaptive) + 3D filter",
    "24: Stereo-DAC with Interpolation-8x + 5 Programmable Biquads(adaptive) + 3D filter + DRC",
    "25: Stereo-DAC with Interpolation-8x + 5 Programmable Biquads(adaptive) + 3D filter + DRC + Beep Generator",
};

void TPB::Refresh() {
  if (!data || !owner) return;
  const int v = *data & 0x1F;
  owner->PBListBox->setCurrentRow(v >= 1 && v <= kBlocks ? v - 1 : -1);
}

void TPB::SelectBlock(int number) {
  if (!data) return;
  *data = uint8_t((*data & 0xE0) | (number & 0x1F));
  if (write) write(user, kDevice, page, firstRegister, count);
}

TPBForm::TPBForm(QWidget* owner) : QWidget(owner, Qt::Tool | Qt::WindowStaysOnTopHint), PB(this) {
  setObjectName("PBForm");
  setWindowTitle("Processing Blocks");
  PBListBox = new TPBListBox(this);
  PBListBox->setObjectName("PBListBox");
  for (const char* entry : kEntries) PBListBox->addItem(QString::fromLatin1(entry));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(PBListBox);
  resize(560, 400);
  QObject::connect(PBListBox, &QListWidget::itemClicked, this, [this] { PBListBoxClick(); });
}

void TPBForm::PBListBoxClick() { PB.SelectBlock(PBListBox->currentRow() + 1); }

void TPBForm::ReserveForCodec(const std::string& codecName) {
  auto reserve = [&](const char* contains) {
    for (int i = 0; i < PBListBox->count(); ++i) {
      if (!PBListBox->item(i)->text().contains(QLatin1String(contains))) continue;
      char text[24];
      std::snprintf(text, sizeof text, "%02d: reserved", i + 1);
      PBListBox->item(i)->setText(text);
    }
  };
  if (codecName.find("7530") != std::string::npos) reserve("Stereo");
  if (codecName.find("DAC") != std::string::npos) reserve("ADC");
}
