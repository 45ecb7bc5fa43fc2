// What the board window's source files share, and no other file uses.
#pragma once

#include <QLabel>
#include <QProgressBar>

#include <string>

#include "common/colour.h"
#include "host/diagram_form.h"
#include "host/load_form.h"

// 0xD7D2D2 as the original colour value: red in the low byte.
constexpr TColor kDiagramColour = 0xD7D2D2;

// The load window as the pages' progress sink.
class TDiagramForm::LoadProgress : public TLoadProgress {
 public:
  void SetText(const std::string& text) override {
    if (LoadForm) LoadForm->Loading->setText(QString::fromStdString(text));
  }
  void SetPosition(int position) override {
    if (LoadForm) LoadForm->ProgressBar->setValue(position);
  }
  void Repaint() override {
    if (LoadForm) LoadForm->repaint();
  }
};
