// The loading splash shown while a board window is built.
#pragma once

#include <QWidget>

class QLabel;
class QProgressBar;

class TLoadForm : public QWidget {
  Q_OBJECT
 public:
  explicit TLoadForm(QWidget* owner = nullptr);

  QProgressBar* ProgressBar;
  QLabel* EVM;
  QLabel* Loading;

 protected:
  void showEvent(QShowEvent* event) override;
};

extern TLoadForm* LoadForm;
