// The "Register Inspector" window: the 128 registers of one page (and book)
// of one codec device from the link's register image, with decimal and hex
// values and one column per bit. Bits that changed since the previous
// refresh are drawn red, writable bits can be flipped with a click, a value
// typed into a data cell is written on Enter, the selected register's
// description is shown below, and the grid exports as fixed-column text.
// Reads and writes go through the owner's access callback; the inspector
// itself never talks to the board.
#pragma once

#include <QColor>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;
class QToolButton;

// mode 0: write that register from the image to the board; mode 1: read the
// whole page from the board into the image and refresh the inspector.
typedef void (*TRegisterInspectorAccessCallback)(void* user, int address, int book, int page, int reg, int mode);
typedef void (*TRegisterInspectorDescribeCallback)(void* user, std::vector<std::string>& lines, int address,
                                                   int page, int reg, int value);

// An up-down control: two arrow buttons over a position.
class TUpDown : public QWidget {
 public:
  TUpDown(QWidget* parent, int minimum, int maximum);
  int Position() const { return position_; }
  void SetPosition(int position);
  // Called with the new position after a click changed it.
  std::function<void(int)> onChanging;
  QToolButton* Up;
  QToolButton* Down;

 private:
  void Step(int delta);
  int minimum_, maximum_, position_ = 0;
};

class TRegisterInspector : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kRows = 129;  // the header row and registers 0..127
  static constexpr int kColumns = 14;
  static constexpr int kEntries = 256 * 128;  // book 0: page x 128 + register

  explicit TRegisterInspector(QWidget* owner);
  ~TRegisterInspector() override;

  void SetCallbacks(void* user, TRegisterInspectorAccessCallback access, TRegisterInspectorDescribeCallback describe);
  void SetName(const std::string& name) { name_ = name; }
  const std::string& Name() const { return name_; }
  // Cut to 256; the Page (Book) group is visible when not 0.
  void SetPageCount(int n);
  void SetBookCount(int n);
  // Book 0 only: the register's description and writable bits.
  void SetDescription(int book, int page, int reg, const std::string& text, int writableMask);
  // The same as a callback, `user` being the inspector.
  static void SetDescriptionCallback(void* user, int book, int page, int reg, const std::string& text,
                                     int writableMask);
  // The refresh: `image` is the device's image at book 0, page 0, register 0
  // and `imageSize` its size in bytes; nothing outside it is read or written.
  // `edited` is the register whose typed value stays in its row, or -1.
  void UpdateGrid(int address, uint8_t* image, int edited, unsigned imageSize);
  void ShowInfo();

  // Handlers; rows count as in the form, 0 being the header row.
  void FormCreate();
  void RegisterGridSelectCell(int column, int row);
  QColor RegisterGridTextColour(int column, int row) const;
  void RegisterGridSetEditText(int column, int row, const std::string& text);
  void RegisterGridKeyPress(int key);
  void RegisterGridExit();
  void RefreshClick();
  void ExportClick();
  void EditPageChange();
  void PageUpDownChanging(int position);
  void EditBookChange();
  void BookUpDownChanging(int position);
  void FormResize();

  // The text of a grid cell (row 0 = the header row).
  std::string CellText(int column, int row) const;
  // The export text, line by line (each ending in "\n\r").
  std::vector<std::string> ExportLines() const;

  int Address() const { return address_; }
  int Book() const { return book_; }
  int Page() const { return page_; }
  int SelectedRegister() const { return selected_; }
  uint8_t Changed(int page, int reg) const { return changed_[size_t(page * 128 + reg)]; }
  uint8_t WritableMask(int page, int reg) const { return writable_[size_t(page * 128 + reg)]; }
  const std::string& Description(int page, int reg) const { return descriptions_[size_t(page * 128 + reg)]; }

  QPushButton* Refresh;
  QPushButton* Export;
  QGroupBox* PageGroup;
  QLineEdit* EditPage;
  TUpDown* PageUpDown;
  QGroupBox* BookGroup;
  QLineEdit* EditBook;
  TUpDown* BookUpDown;
  QLabel* DeviceAddressCaption;
  QLabel* DeviceAddress;
  QTableWidget* RegisterGrid;
  QPlainTextEdit* Info;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  class Delegate;

  // Pages and books the image holds (1 page for an unpaged device).
  int ImagePages() const;
  int ImageBooks() const;
  // Where (book, page, register) lies in the image, or -1 outside it.
  long Offset(int reg) const;
  void SetCell(int column, int row, const QString& text);
  // Takes an edit's number as the page or book (false when it does not convert).
  bool TakeNumber(QLineEdit* edit, int& target, int limit, TUpDown* upDown);

  // Fields, in the order of the original window.
  int address_ = 0x30;
  uint8_t* image_ = nullptr;
  unsigned imageSize_ = 0;
  int book_ = 0;
  int page_ = 0;
  int selected_ = 0;
  int pageCount_ = 256;
  int bookCount_ = 0;
  std::string name_;
  TRegisterInspectorAccessCallback access_ = nullptr;
  TRegisterInspectorDescribeCallback describe_ = nullptr;
  void* user_ = nullptr;
  bool enterPressed_ = false;
  std::vector<uint8_t> previous_;
  std::vector<uint8_t> writable_;
  std::vector<uint8_t> changed_;
  std::vector<std::string> descriptions_;

  bool updating_ = false;  // the grid is being filled, not edited
  Delegate* delegate_ = nullptr;
};
