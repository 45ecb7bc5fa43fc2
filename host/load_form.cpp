#include "host/load_form.h"

#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

#include "host/window_util.h"

TLoadForm* LoadForm = nullptr;

TLoadForm::TLoadForm(QWidget* owner)
    : QWidget(owner, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
  setObjectName("LoadForm");
  EVM = NamedLabel(this, "EVM", "EVM:");
  Loading = NamedLabel(this, "Loading", "Loading:");
  ProgressBar = new QProgressBar(this);
  ProgressBar->setObjectName("ProgressBar");
  ProgressBar->setRange(0, 100);
  ProgressBar->setValue(0);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(EVM);
  layout->addWidget(Loading);
  layout->addWidget(ProgressBar);
  resize(360, 100);
}

void TLoadForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  CentreOnScreen(this);
}
