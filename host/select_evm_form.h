// The board picker: the board kinds of "EVM.xml", each item carrying its
// element.
#pragma once

#include <QDialog>
#include <pugixml.hpp>
#include <string>
#include <vector>

class QListWidget;
class QPushButton;

class TSelectEVMForm : public QDialog {
  Q_OBJECT
 public:
  explicit TSelectEVMForm(QWidget* owner = nullptr);

  // Appends an item with its element.
  void AddEVM(const std::string& name, pugi::xml_node node);
  // The element of item `index`; an empty node for an index out of range.
  pugi::xml_node GetEVM(int index) const;

  void SelectClick();
  void EVMListDblClick();
  void EVMListKeyPress(char key);

  QListWidget* EVMList;
  QPushButton* Select;
  QPushButton* Cancel;

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::vector<pugi::xml_node> nodes_;
};

extern TSelectEVMForm* SelectEVMForm;
