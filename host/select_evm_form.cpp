#include "host/select_evm_form.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "host/window_util.h"

TSelectEVMForm* SelectEVMForm = nullptr;

TSelectEVMForm::TSelectEVMForm(QWidget* owner) : QDialog(owner) {
  setObjectName("SelectEVMForm");
  setWindowTitle("Select EVM");

  EVMList = new QListWidget(this);
  EVMList->setObjectName("EVMList");
  EVMList->installEventFilter(this);
  connect(EVMList, &QListWidget::itemDoubleClicked, this, [this] { EVMListDblClick(); });

  Select = new QPushButton("Select", this);
  Select->setObjectName("Select");
  Select->setDefault(true);
  connect(Select, &QPushButton::clicked, this, [this] { SelectClick(); });

  Cancel = new QPushButton("Cancel", this);
  Cancel->setObjectName("Cancel");
  connect(Cancel, &QPushButton::clicked, this, &QDialog::reject);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(Select);
  buttons->addWidget(Cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(EVMList);
  layout->addLayout(buttons);
  resize(320, 300);
}

void TSelectEVMForm::AddEVM(const std::string& name, pugi::xml_node node) {
  EVMList->addItem(Q(name));
  nodes_.push_back(node);
}

pugi::xml_node TSelectEVMForm::GetEVM(int index) const {
  if (index < 0 || index >= static_cast<int>(nodes_.size())) return {};
  return nodes_[static_cast<size_t>(index)];
}

void TSelectEVMForm::SelectClick() { done(QDialog::Accepted); }

void TSelectEVMForm::EVMListDblClick() { Select->click(); }

void TSelectEVMForm::EVMListKeyPress(char key) {
  if (key == 13) SelectClick();
}

void TSelectEVMForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  Select->setFocus();
}

bool TSelectEVMForm::eventFilter(QObject* watched, QEvent* event) {
  // The list would otherwise keep Enter for its own item activation.
  if (watched == EVMList && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      EVMListKeyPress(13);
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}
