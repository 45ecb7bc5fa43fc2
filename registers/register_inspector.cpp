#include "registers/register_inspector.h"

#include <QApplication>
#include <QEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <fstream>

#include "platform/gui/dialogs.h"
#include "platform/log.h"

namespace {

constexpr int kWidths[TRegisterInspector::kColumns] = {25, 30, 370, 30, 30, 12, 12, 12, 12, 12, 12, 12, 12, 12};
constexpr const char* kHeaders[TRegisterInspector::kColumns] = {"addr", "addr", "description", "data", "data",
                                                                 "7",    "6",    "5",           "4",    "3",
                                                                 "2",    "1",    "0",           ""};

// A number typed by the user: decimal, or hexadecimal after "0x".
bool ParseNumber(const std::string& text, int& value) {
  const char* first = text.data();
  const char* last = first + text.size();
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    first += 2;
    base = 16;
  }
  if (first == last) return false;
  auto [end, error] = std::from_chars(first, last, value, base);
  return error == std::errc() && end == last;
}

QString Hex2(int v) { return QString::asprintf("0x%02X", v & 0xFF); }

}  // namespace

// ---- TUpDown ----------------------------------------------------------------------

TUpDown::TUpDown(QWidget* parent, int minimum, int maximum) : QWidget(parent), minimum_(minimum), maximum_(maximum) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  Up = new QToolButton(this);
  Up->setObjectName("Up");
  Up->setArrowType(Qt::UpArrow);
  Down = new QToolButton(this);
  Down->setObjectName("Down");
  Down->setArrowType(Qt::DownArrow);
  for (QToolButton* b : {Up, Down}) {
    b->setFixedSize(16, 11);
    layout->addWidget(b);
  }
  connect(Up, &QToolButton::clicked, this, [this] { Step(1); });
  connect(Down, &QToolButton::clicked, this, [this] { Step(-1); });
}

void TUpDown::SetPosition(int position) { position_ = std::clamp(position, minimum_, maximum_); }

void TUpDown::Step(int delta) {
  const int next = std::clamp(position_ + delta, minimum_, maximum_);
  if (next == position_) return;
  position_ = next;
  if (onChanging) onChanging(position_);
}

// ---- the grid's drawing and key handling -------------------------------------------------

class TRegisterInspector::Delegate : public QStyledItemDelegate {
 public:
  explicit Delegate(TRegisterInspector* inspector) : QStyledItemDelegate(inspector), inspector_(inspector) {}

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    const int column = index.column();
    if (Narrow(column)) {
      const QStyleOptionViewItem narrow = NarrowOption(option, index);
      const QWidget* view = option.widget;
      (view ? view->style() : QApplication::style())->drawControl(QStyle::CE_ItemViewItem, &narrow, painter, view);
      return;
    }
    if (column < 5 || column > 12) {
      QStyledItemDelegate::paint(painter, option, index);
      return;
    }
    painter->save();
    painter->fillRect(option.rect, option.palette.base());
    if (inspector_) painter->setPen(inspector_->RegisterGridTextColour(column, index.row() + 1));
    painter->setFont(option.font);
    painter->drawText(option.rect.adjusted(kBitIndent, 3, 0, 0), Qt::AlignLeft | Qt::AlignTop, index.data().toString());
    painter->restore();
  }

  // What the cell needs as drawn above: the narrowed font's text in the
  // number columns, the indented digit in the bit columns.
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    const int column = index.column();
    if (Narrow(column)) {
      const QStyleOptionViewItem narrow = NarrowOption(option, index);
      const QWidget* view = option.widget;
      return (view ? view->style() : QApplication::style())
          ->sizeFromContents(QStyle::CT_ItemViewItem, &narrow, QSize(), view);
    }
    if (column >= 5 && column <= 12) {
      const QFontMetrics metrics(option.font);
      return QSize(kBitIndent + metrics.horizontalAdvance(index.data().toString()), metrics.height());
    }
    return QStyledItemDelegate::sizeHint(option, index);
  }

  // The editor's keys reach this filter before the edit commits on Enter.
  bool eventFilter(QObject* editor, QEvent* event) override {
    if (event->type() == QEvent::KeyPress && inspector_) inspector_->RegisterGridKeyPress(static_cast<QKeyEvent*>(event)->key());
    return QStyledItemDelegate::eventFilter(editor, event);
  }

  // The edit goes to the inspector, not into the cell: an entry is written
  // even when its text did not change, and the cell then shows the value.
  void setModelData(QWidget* editor, QAbstractItemModel*, const QModelIndex& index) const override {
    auto* edit = qobject_cast<QLineEdit*>(editor);
    if (inspector_)
      inspector_->RegisterGridSetEditText(index.column(), index.row() + 1, edit ? edit->text().toStdString() : "");
  }

  // An editor open while the window goes commits on its way out: to nobody.
  void Detach() { inspector_ = nullptr; }

 private:
  static constexpr int kBitIndent = 2;

  static bool Narrow(int column) { return column <= 4 && column != 2; }

  // The number columns are narrow ("0xFF" in 30 pixels): a smaller font
  // rather than an ellipsis.
  QStyleOptionViewItem NarrowOption(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QStyleOptionViewItem narrow = option;
    initStyleOption(&narrow, index);
    narrow.textElideMode = Qt::ElideNone;
    const QWidget* view = option.widget;
    const QStyle* style = view ? view->style() : QApplication::style();
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;
    const int room = option.rect.width() - 2 * margin - 1;
    for (int step = 0; step < 12 && QFontMetrics(narrow.font).horizontalAdvance(narrow.text) > room; ++step) {
      if (narrow.font.pointSizeF() > 0) narrow.font.setPointSizeF(narrow.font.pointSizeF() * 0.92);
      else narrow.font.setPixelSize(std::max(1, narrow.font.pixelSize() - 1));
    }
    narrow.fontMetrics = QFontMetrics(narrow.font);
    return narrow;
  }

  TRegisterInspector* inspector_;
};

// ---- TRegisterInspector -------------------------------------------------------------------

TRegisterInspector::TRegisterInspector(QWidget* owner) : QWidget(owner, Qt::Tool | Qt::WindowStaysOnTopHint) {
  setObjectName("RegisterInspector");
  setWindowTitle("Register Inspector");
  setFixedWidth(632);
  setMinimumHeight(540);

  Refresh = new QPushButton("Refresh", this);
  Refresh->setObjectName("Refresh");
  Export = new QPushButton("Export", this);
  Export->setObjectName("Export");

  PageGroup = new QGroupBox("Page", this);
  PageGroup->setObjectName("PageGroup");
  EditPage = new QLineEdit("0", PageGroup);
  EditPage->setObjectName("EditPage");
  EditPage->setMaxLength(3);
  PageUpDown = new TUpDown(PageGroup, 0, 255);
  PageUpDown->setObjectName("PageUpDown");

  BookGroup = new QGroupBox("Book", this);
  BookGroup->setObjectName("BookGroup");
  EditBook = new QLineEdit("0", BookGroup);
  EditBook->setObjectName("EditBook");
  EditBook->setMaxLength(3);
  BookUpDown = new TUpDown(BookGroup, 0, 255);
  BookUpDown->setObjectName("BookUpDown");
  BookGroup->hide();

  DeviceAddressCaption = new QLabel("Device Address:", this);
  DeviceAddressCaption->setObjectName("DeviceAddressCaption");
  DeviceAddress = new QLabel("0x30", this);
  DeviceAddress->setObjectName("DeviceAddress");

  RegisterGrid = new QTableWidget(kRows - 1, kColumns, this);
  RegisterGrid->setObjectName("RegisterGrid");
  RegisterGrid->verticalHeader()->hide();
  RegisterGrid->horizontalHeader()->setMinimumSectionSize(1);
  RegisterGrid->verticalHeader()->setMinimumSectionSize(16);
  RegisterGrid->verticalHeader()->setDefaultSectionSize(16);
  RegisterGrid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  RegisterGrid->setSelectionMode(QAbstractItemView::ContiguousSelection);
  RegisterGrid->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  RegisterGrid->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                                QAbstractItemView::AnyKeyPressed);
  delegate_ = new Delegate(this);
  RegisterGrid->setItemDelegate(delegate_);
  RegisterGrid->installEventFilter(this);

  Info = new QPlainTextEdit(this);
  Info->setObjectName("Info");
  Info->setReadOnly(true);

  connect(Refresh, &QPushButton::clicked, this, [this] { RefreshClick(); });
  connect(Export, &QPushButton::clicked, this, [this] { ExportClick(); });
  connect(EditPage, &QLineEdit::textChanged, this, [this] { EditPageChange(); });
  connect(EditBook, &QLineEdit::textChanged, this, [this] { EditBookChange(); });
  connect(RegisterGrid, &QTableWidget::cellPressed, this,
          [this](int row, int column) { RegisterGridSelectCell(column, row + 1); });
  connect(RegisterGrid, &QTableWidget::currentCellChanged, this, [this](int row, int column, int, int) {
    // Keyboard moves select the row; only a click flips a bit. Only the data
    // cells take the focus.
    if (updating_ || row < 0) return;
    if (column != 3 && column != 4) {
      updating_ = true;
      RegisterGrid->setCurrentCell(row, column > 4 ? 4 : 3, QItemSelectionModel::NoUpdate);
      updating_ = false;
    }
    selected_ = row;
    ShowInfo();
  });

  FormCreate();
  resize(632, 540);
  FormResize();
}

TRegisterInspector::~TRegisterInspector() { delegate_->Detach(); }

void TRegisterInspector::FormCreate() {
  updating_ = true;
  QStringList headers;
  for (int c = 0; c < kColumns; ++c) {
    RegisterGrid->setColumnWidth(c, kWidths[c]);
    headers << kHeaders[c];
  }
  RegisterGrid->setHorizontalHeaderLabels(headers);
  // "addr" over 25 pixels: the titles in a compact font of their own.
  QFont titles(QStringLiteral("Arial"));
  titles.setPointSizeF(7.5);
  RegisterGrid->horizontalHeader()->setFont(titles);
  for (int r = 0; r < kRows - 1; ++r) {
    for (int c = 0; c < kColumns; ++c) {
      auto* item = new QTableWidgetItem();
      Qt::ItemFlags flags = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
      if (c == 3 || c == 4) flags |= Qt::ItemIsEditable;
      item->setFlags(flags);
      RegisterGrid->setItem(r, c, item);
    }
    RegisterGrid->item(r, 0)->setText(QString::number(r));
    RegisterGrid->item(r, 1)->setText(Hex2(r));
  }
  updating_ = false;
  previous_.assign(kEntries, 0);
  writable_.assign(kEntries, 0xFF);
  changed_.assign(kEntries, 0);
  descriptions_.assign(kEntries, "Reserved");
  PageUpDown->onChanging = [this](int position) { PageUpDownChanging(position); };
  BookUpDown->onChanging = [this](int position) { BookUpDownChanging(position); };
}

void TRegisterInspector::SetCallbacks(void* user, TRegisterInspectorAccessCallback access,
                                      TRegisterInspectorDescribeCallback describe) {
  user_ = user;
  access_ = access;
  describe_ = describe;
}

void TRegisterInspector::SetPageCount(int n) {
  pageCount_ = std::clamp(n, 0, 256);
  PageGroup->setVisible(pageCount_ != 0);
}

void TRegisterInspector::SetBookCount(int n) {
  bookCount_ = std::clamp(n, 0, 256);
  BookGroup->setVisible(bookCount_ != 0);
}

void TRegisterInspector::SetDescription(int book, int page, int reg, const std::string& text, int writableMask) {
  // Entries of a register list outside the image's pages and registers have no row.
  if (book != 0 || page < 0 || page > 255 || reg < 0 || reg > 127) return;
  descriptions_[size_t(page * 128 + reg)] = text;
  writable_[size_t(page * 128 + reg)] = uint8_t(writableMask & 0xFF);
}

void TRegisterInspector::SetDescriptionCallback(void* user, int book, int page, int reg, const std::string& text,
                                                int writableMask) {
  static_cast<TRegisterInspector*>(user)->SetDescription(book, page, reg, text, writableMask);
}

int TRegisterInspector::ImagePages() const {
  if (!image_) return 256;
  return imageSize_ >= 0x8000 ? 256 : int(imageSize_ / 128);
}

int TRegisterInspector::ImageBooks() const {
  if (!image_) return 256;
  return std::max(1, int(imageSize_ / 0x8000));
}

long TRegisterInspector::Offset(int reg) const {
  const long offset = long(book_) * 0x8000 + long(page_) * 128 + reg;
  return image_ && reg >= 0 && reg < 128 && offset < long(imageSize_) ? offset : -1;
}

void TRegisterInspector::SetCell(int column, int row, const QString& text) {
  QTableWidgetItem* item = RegisterGrid->item(row - 1, column);
  if (item->text() != text) item->setText(text);
}

std::string TRegisterInspector::CellText(int column, int row) const {
  if (column < 0 || column >= kColumns || row < 0 || row >= kRows) return "";
  if (row == 0) return kHeaders[column];
  return RegisterGrid->item(row - 1, column)->text().toStdString();
}

void TRegisterInspector::UpdateGrid(int address, uint8_t* image, int edited, unsigned imageSize) {
  if (!image || imageSize < 128) return;
  if (!image_ && book_ == 0) {
    // The first refresh shows nothing as changed; only the pages the image has exist.
    const size_t bytes = std::min<size_t>(imageSize, kEntries);
    std::copy(image, image + bytes, previous_.begin());
  }
  image_ = image;
  imageSize_ = imageSize;
  address_ = address;
  DeviceAddress->setText(Hex2(address));

  // A smaller image than the view asks for: show what it has.
  if (page_ >= ImagePages() || book_ >= ImageBooks()) {
    page_ = std::min(page_, ImagePages() - 1);
    book_ = std::min(book_, ImageBooks() - 1);
    const QSignalBlocker blockPage(EditPage), blockBook(EditBook);
    EditPage->setText(QString::number(page_));
    EditBook->setText(QString::number(book_));
    PageUpDown->SetPosition(page_);
    BookUpDown->SetPosition(book_);
  }

  updating_ = true;
  for (int r = 0; r < 128; ++r) {
    const int row = r + 1;
    const uint8_t v = image_[Offset(r)];
    if (book_ == 0) {
      const size_t i = size_t(page_ * 128 + r);
      changed_[i] = uint8_t(v ^ previous_[i]);
      previous_[i] = v;
      SetCell(2, row, QString::fromStdString(descriptions_[i]));
    } else {
      SetCell(2, row, QString("Book: %1, Register: %2").arg(book_).arg(r));
    }
    if (r != edited) {
      SetCell(3, row, QString::number(v));
      SetCell(4, row, Hex2(v));
    }
    for (int b = 0; b < 8; ++b) SetCell(5 + b, row, (v >> (7 - b)) & 1 ? "1" : "0");
  }
  updating_ = false;
  RegisterGrid->viewport()->update();
  ShowInfo();
}

void TRegisterInspector::ShowInfo() {
  if (!image_ || book_ != 0) return;
  std::vector<std::string> lines;
  const long offset = Offset(selected_);
  if (describe_ && offset >= 0) describe_(user_, lines, address_, page_, selected_, image_[offset]);
  QStringList text;
  for (const std::string& line : lines) text << QString::fromStdString(line);
  Info->setPlainText(text.join('\n'));
}

QColor TRegisterInspector::RegisterGridTextColour(int column, int row) const {
  if (column < 5 || column > 12 || row < 1 || row > 128) return QColor(0, 0, 0);
  const uint8_t bit = uint8_t(1u << (12 - column));
  const size_t i = size_t(page_ * 128 + row - 1);
  const bool writable = writable_[i] & bit;
  const bool changed = (changed_[i] & bit) && book_ == 0;
  if (writable) return changed ? QColor(255, 0, 0) : QColor(0, 0, 0);
  return changed ? QColor(136, 0, 0) : QColor(136, 136, 136);
}

void TRegisterInspector::RegisterGridSelectCell(int column, int row) {
  if (row < 1 || row > 128) return;
  const int r = row - 1;
  {
    // The row's first five cells are the selection; only the data cells take the focus.
    updating_ = true;
    RegisterGrid->clearSelection();
    RegisterGrid->setCurrentCell(r, column == 4 ? 4 : 3, QItemSelectionModel::NoUpdate);
    RegisterGrid->setRangeSelected(QTableWidgetSelectionRange(r, 0, r, 4), true);
    updating_ = false;
  }
  if (column >= 5 && column <= 12 && image_) {
    const uint8_t bit = uint8_t(1u << (12 - column));
    const long offset = Offset(r);
    if ((writable_[size_t(page_ * 128 + r)] & bit) && offset >= 0) {
      if (CellText(column, row) == "1") image_[offset] &= uint8_t(~bit);
      else image_[offset] |= bit;
      if (access_) access_(user_, address_, book_, page_, r, 0);
    }
  }
  UpdateGrid(address_, image_, -1, imageSize_);
  selected_ = r;
  ShowInfo();
}

void TRegisterInspector::RegisterGridKeyPress(int key) { enterPressed_ = key == Qt::Key_Return || key == Qt::Key_Enter; }

void TRegisterInspector::RegisterGridSetEditText(int column, int row, const std::string& text) {
  // Without Enter the edit is dropped; the cell never took the typed text.
  if (!enterPressed_ || (column != 3 && column != 4) || row < 1 || row > 128 || !image_) return;
  enterPressed_ = false;
  const int r = row - 1;
  const long offset = Offset(r);
  int value;
  // A byte only: a larger number would be cut to a value nobody typed.
  if (offset < 0 || !ParseNumber(QString::fromStdString(text).trimmed().toStdString(), value) || value < 0 || value > 255) {
    UpdateGrid(address_, image_, -1, imageSize_);
    return;
  }
  const uint8_t mask = writable_[size_t(page_ * 128 + r)];
  image_[offset] = uint8_t((image_[offset] & ~mask) | (value & mask));
  if (access_) access_(user_, address_, book_, page_, r, 0);
  // The row shows what was written (the writable bits of the typed value), not the text.
  UpdateGrid(address_, image_, -1, imageSize_);
}

void TRegisterInspector::RegisterGridExit() { UpdateGrid(address_, image_, -1, imageSize_); }

bool TRegisterInspector::eventFilter(QObject* watched, QEvent* event) {
  if (watched == RegisterGrid && event->type() == QEvent::FocusOut) RegisterGridExit();
  return QWidget::eventFilter(watched, event);
}

void TRegisterInspector::RefreshClick() {
  if (access_) access_(user_, address_, book_, page_, 0, 1);
}

bool TRegisterInspector::TakeNumber(QLineEdit* edit, int& target, int limit, TUpDown* upDown) {
  int value;
  const QSignalBlocker block(edit);
  if (!ParseNumber(edit->text().toStdString(), value)) {
    edit->setText(QString::number(target));
    return false;
  }
  if (value >= 256 || value < 0) {
    value = 255;
    edit->setText("255");
  }
  // Nothing past the device's image: an unpaged device has page 0 only.
  if (value > limit) {
    value = limit;
    edit->setText(QString::number(value));
  }
  target = value;
  upDown->SetPosition(value);
  return true;
}

void TRegisterInspector::EditPageChange() {
  if (TakeNumber(EditPage, page_, ImagePages() - 1, PageUpDown)) UpdateGrid(address_, image_, -1, imageSize_);
}

void TRegisterInspector::EditBookChange() {
  if (TakeNumber(EditBook, book_, ImageBooks() - 1, BookUpDown)) UpdateGrid(address_, image_, -1, imageSize_);
}

void TRegisterInspector::PageUpDownChanging(int position) {
  page_ = std::clamp(position, 0, ImagePages() - 1);
  PageUpDown->SetPosition(page_);
  const QSignalBlocker block(EditPage);
  EditPage->setText(QString::number(page_));
  UpdateGrid(address_, image_, -1, imageSize_);
}

void TRegisterInspector::BookUpDownChanging(int position) {
  book_ = std::clamp(position, 0, ImageBooks() - 1);
  BookUpDown->SetPosition(book_);
  const QSignalBlocker block(EditBook);
  EditBook->setText(QString::number(book_));
  UpdateGrid(address_, image_, -1, imageSize_);
}

std::vector<std::string> TRegisterInspector::ExportLines() const {
  static constexpr int kOrder[13] = {0, 1, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 2};
  static constexpr size_t kStops[12] = {6, 12, 18, 24, 27, 30, 33, 36, 39, 42, 45, 48};
  std::vector<std::string> lines;
  for (int row = 0; row < kRows; ++row) {
    std::string line;
    for (int i = 0; i < 13; ++i) {
      line += CellText(kOrder[i], row);
      if (i < 12) {
        line += ",";
        if (line.size() < kStops[i]) line.append(kStops[i] - line.size(), ' ');
      }
    }
    lines.push_back(line + "\n\r");
  }
  return lines;
}

void TRegisterInspector::ExportClick() {
  RefreshClick();
  std::string name = Dialogs().SaveFile(this, "Export", "Text Files|*.txt");
  if (name.empty()) return;
  const size_t slash = name.find_last_of('/');
  if (name.find('.', slash == std::string::npos ? 0 : slash + 1) == std::string::npos) name += ".txt";
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  // Each line is followed by the platform's line break, CR LF.
  for (const std::string& line : ExportLines()) out << line << "\r\n";
  if (!out) platform::LogLine("Cannot write " + name);
}

void TRegisterInspector::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  FormResize();
}

void TRegisterInspector::FormResize() {
  Refresh->setGeometry(8, 12, 75, 25);
  Export->setGeometry(88, 12, 75, 25);
  PageGroup->setGeometry(172, 0, 84, 46);
  EditPage->setGeometry(8, 18, 40, 22);
  PageUpDown->setGeometry(50, 18, 16, 22);
  BookGroup->setGeometry(262, 0, 84, 46);
  EditBook->setGeometry(8, 18, 40, 22);
  BookUpDown->setGeometry(50, 18, 16, 22);
  DeviceAddressCaption->setGeometry(360, 16, 100, 20);
  DeviceAddress->setGeometry(462, 16, 60, 20);
  RegisterGrid->setGeometry(0, 50, 632, 334);
  Info->setGeometry(0, 388, 632, std::max(0, height() - 430));
}
