// The "EVM Applications" editor: reads the application image from a board's
// EEPROM into a tree of applications and scripts, lets the user add, delete,
// rename, reorder and record scripts, writes the image back ("Update EVM"),
// sets the board controller's auto-load flag, and saves the image as a C
// header and an Intel HEX file. Each script added here records its register
// writes through a command window used as a recorder: its writes become
// records, nothing reaches a board. The tree is the working copy; the board
// changes only on "Update EVM" and on the auto-load box.
#pragma once

#include <QDialog>
#include <QTreeWidget>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "registers/command_script.h"
#include "registers/evm_applications_image.h"

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QTimer;
class TI2CCommand;
class TUSBI2C;

// One script of the tree: its recorded block, and for scripts added in the
// editor the command window that records it.
class TEVMScript {
 public:
  TEVMScript();
  virtual ~TEVMScript();
  TEVMScript(const TEVMScript&) = delete;
  TEVMScript& operator=(const TEVMScript&) = delete;

  // The recorder's transfer callback: writes become records; reads are
  // answered, never recorded (see Run).
  static int RecordTransfer(void* user, int device, ScriptPlace& place, int reg, uint8_t* data, int count,
                            bool isRead, bool last);
  // Shows the recorder modally under `parent` with the script's file name as
  // caption, then takes name and extension back from the caption. Its modal result.
  int Edit(QWidget* parent);
  // Records the recorder's script afresh; false without a recorder. A
  // recording that passes the record area is refused: the previous records
  // stay. Reads are answered from the script's own writes, else from
  // `board`'s register image (the board window's) at the page and book the
  // script has selected, so that a bit change records the write it makes;
  // a register known to neither is not answered. Nothing reaches the board
  // or its image.
  bool Run(TUSBI2C* board = nullptr);
  // Whether the last Run was refused for its size.
  bool Overflowed() const { return overflowed; }

  void SetName(const std::string& text) { name = text; }
  const std::string& GetName() const { return name; }
  bool HasRecorder() const { return recorder != nullptr; }
  // Scripts read from a board are not recorded again.
  void DropRecorder();
  TI2CCommand* Recorder() const { return recorder; }
  EVMScriptImage& GetImage() { return image; }
  const EVMScriptImage& GetImage() const { return image; }
  int GetLength() const { return image.Length(); }
  int GetCount() const { return image.Count(); }

 private:
  TI2CCommand* recorder = nullptr;
  std::string name = "Script";
  std::string directory = "C:\\";
  std::string extension = ".cfg";
  // One recording's view of the registers, at the book and page the script selected.
  void PlaceOf(int device, ScriptPlace& place) const;
  // The script wrote `count` bytes from `reg`: they answer later reads.
  void Remember(int device, const ScriptPlace& at, int reg, const uint8_t* data, int count);
  // A read of the recording: the transfer result (kTransferLastKnown when answered).
  int Answer(int device, const ScriptPlace& at, int reg, uint8_t* data, int count);
  static uint32_t Key(int device, const ScriptPlace& at, int reg);

  EVMScriptImage image;
  bool overflowed = false;
  TUSBI2C* board = nullptr;
  std::map<uint32_t, uint8_t> written;
};

class TEVMApplicationsForm;

// The tree: drags stay inside it and are placed by the form's rules.
class TEVMApplicationsTree : public QTreeWidget {
  Q_OBJECT
 public:
  TEVMApplicationsTree(TEVMApplicationsForm* form, QWidget* parent);

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  TEVMApplicationsForm* form;
};

class TEVMApplicationsForm : public QDialog {
  Q_OBJECT
 public:
  // Images of the tree nodes.
  enum { kApplicationImage = 0, kRecordedScriptImage = 1, kBoardScriptImage = 2 };
  // The node's image index is kept in this role; a script node's TEVMScript in Qt::UserRole.
  static constexpr int kImageRole = Qt::UserRole + 1;

  explicit TEVMApplicationsForm(QWidget* owner);
  ~TEVMApplicationsForm() override;

  // Binds the board, sets the auto-load box from the board and shows the editor modally.
  void ShowEVMApplications(TUSBI2C* link);
  // Reads the board's image into the tree.
  void ReadImage(TUSBI2C* link);
  // Lays the tree out as an image; false (the image unchanged, the reason
  // in BuildError) when it does not fit.
  bool BuildImage();
  const std::string& BuildError() const { return buildError; }
  const std::vector<uint8_t>& Image() const { return imageBuffer; }
  int ImageLength() const { return int(imageBuffer.size()); }
  TUSBI2C* Link() const { return link; }

  static TEVMScript* ScriptOf(const QTreeWidgetItem* node);
  static int ImageOf(const QTreeWidgetItem* node);

  // Handlers.
  void ReadEVMTimerTimer();
  void UpdateEVMClick();
  void SaveClick();
  void AutoLoadClick();
  void AddApplication1Click();
  void AddScript1Click();
  void Delete1Click();
  void TreeViewDblClick();
  void TreeViewClick();
  void TreeViewChange();
  // Whether `dragged` may be dropped on `target`; drags from other widgets never.
  bool TreeViewDragOver(QObject* source, QTreeWidgetItem* dragged, QTreeWidgetItem* target) const;
  void TreeViewDragDrop(QTreeWidgetItem* dragged, QTreeWidgetItem* target);

  // Controls, named as in the form.
  QPushButton* UpdateEVM;
  TEVMApplicationsTree* TreeView;
  QMenu* PopupMenu1;
  QAction* AddApplication1;
  QAction* AddScript1;
  QAction* Delete1;
  QLabel* CommandsText;
  QLabel* LengthText;
  QLabel* ImageText;
  QLabel* EEPROMText;
  QProgressBar* ProgressBar;
  QPushButton* Save;
  QCheckBox* AutoLoad;
  QLineEdit* StartAddress;
  QTimer* ReadEVMTimer;

 private:
  QTreeWidgetItem* AddApplicationNode(const std::string& name);
  QTreeWidgetItem* AddScriptNode(QTreeWidgetItem* application, const std::string& text, TEVMScript* script,
                                 int image);
  // Frees the node with its children, and their scripts.
  void DeleteNode(QTreeWidgetItem* node);
  void ClearTree();
  void ShowCounters(QTreeWidgetItem* node);
  void SetProgress(int application, int applications, int script, int scripts, int record, int records);
  // An application node, or the application of a script node.
  static QTreeWidgetItem* ApplicationOf(QTreeWidgetItem* node);
  void Tell(const std::string& text);

  TUSBI2C* link = nullptr;
  std::vector<uint8_t> imageBuffer = {0x00};
  std::string buildError;
  // A read of the board's image failed: writing this tree would overwrite
  // applications that were never read.
  bool readFailed = false;
};

// The editor that the program creates at start-up.
extern TEVMApplicationsForm* EVMApplicationsForm;
