// The network dialog: the board server's name and port for the watcher's
// network connect.
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

class TTCPConnectForm : public QDialog {
  Q_OBJECT
 public:
  explicit TTCPConnectForm(QWidget* owner = nullptr);

  void ConnectClick();
  void CancelClick();

  QLineEdit* ServerName;
  QLineEdit* Port;
  QLabel* StaticText1;
  QLabel* StaticText2;
  QPushButton* Connect;
  QPushButton* Cancel;

  // Read after an OK: the last port and server name connected.
  int port = 0;
  char server[264] = {};

 protected:
  void showEvent(QShowEvent* event) override;
};

extern TTCPConnectForm* TCPConnectForm;

// The class library's decimal string-to-integer conversion: optional blanks
// around an optionally signed decimal number; false on anything else.
bool StrToInt(const std::string& text, int& value);
