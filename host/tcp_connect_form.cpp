#include "host/tcp_connect_form.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <charconv>
#include <cstring>

#include "platform/gui/dialogs.h"
#include "platform/text.h"
#include "host/window_util.h"

TTCPConnectForm* TCPConnectForm = nullptr;

bool StrToInt(const std::string& text, int& value) {
  size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return false;
  size_t end = text.find_last_not_of(" \t") + 1;
  const char* first = text.data() + begin;
  const char* last = text.data() + end;
  const bool plus = *first == '+';
  if (plus) ++first;  // from_chars takes '-' but not '+'
  if (first == last || (plus && *first == '-')) return false;
  int parsed = 0;
  auto [ptr, ec] = std::from_chars(first, last, parsed, 10);
  if (ec != std::errc() || ptr != last) return false;
  value = parsed;
  return true;
}

TTCPConnectForm::TTCPConnectForm(QWidget* owner) : QDialog(owner) {
  setObjectName("TCPConnectForm");
  setWindowTitle("Network Connect");

  StaticText1 = NamedLabel(this, "StaticText1", "Server:");
  StaticText2 = NamedLabel(this, "StaticText2", "Port:");
  ServerName = new QLineEdit("127.0.0.1", this);
  ServerName->setObjectName("ServerName");
  Port = new QLineEdit("80", this);
  Port->setObjectName("Port");

  Connect = new QPushButton("Connect", this);
  Connect->setObjectName("Connect");
  Connect->setDefault(true);
  connect(Connect, &QPushButton::clicked, this, [this] { ConnectClick(); });
  Cancel = new QPushButton("Cancel", this);
  Cancel->setObjectName("Cancel");
  connect(Cancel, &QPushButton::clicked, this, [this] { CancelClick(); });

  auto* grid = new QGridLayout;
  grid->addWidget(StaticText1, 0, 0);
  grid->addWidget(ServerName, 0, 1);
  grid->addWidget(StaticText2, 1, 0);
  grid->addWidget(Port, 1, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(Connect);
  buttons->addWidget(Cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addLayout(buttons);
}

void TTCPConnectForm::ConnectClick() {
  // A port that is no number keeps the dialog open: an OK with the previous
  // port would connect somewhere the user did not ask for.
  int parsed = 0;
  const std::string portText = S(Port->text());
  if (!StrToInt(portText, parsed)) {
    Dialogs().Warning(this, "Network Connect", "'" + platform::Cut(portText) + "' is not a valid integer value");
    return;
  }
  const QByteArray name = ServerName->text().toLocal8Bit();
  const size_t length = std::min<size_t>(static_cast<size_t>(name.size()), sizeof server - 1);
  std::memcpy(server, name.constData(), length);
  server[length] = 0;
  port = parsed;
  done(QDialog::Accepted);
}

void TTCPConnectForm::CancelClick() { reject(); }

void TTCPConnectForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  Connect->setFocus();
}
