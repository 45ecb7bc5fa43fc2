// The about box: program name and version, and the firmware version and ID
// of the board whose window last reported them.
#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

class TAboutBox : public QDialog {
  Q_OBJECT
 public:
  explicit TAboutBox(QWidget* owner = nullptr);

  QFrame* Panel1;
  QLabel* ProgramIcon;
  QLabel* ProductName;
  QLabel* Version;
  QLabel* Comments;
  QLabel* Firmware;
  QLabel* Label1;
  QLabel* ID;
  QPushButton* OKButton;

 protected:
  void showEvent(QShowEvent* event) override;
};

extern TAboutBox* AboutBox;
