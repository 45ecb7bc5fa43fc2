// The "Register Inspector" on the offscreen platform: changed bits, bit
// clicks, value entry, page and book clamping, the information panel and
// the export text.
#include <gtest/gtest.h>

#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QToolButton>

#include "registers/register_inspector.h"
#include "quillbus/quillbus.h"
#include "tests/link/link_fixture.h"
#include "tests/registers/board_harness.h"
#include "tests/registers/ui_support.h"
#include "tests/support/test_support.h"

using Lines = std::vector<std::string>;

namespace {

const QColor kRed(255, 0, 0), kBlack(0, 0, 0), kDarkRed(136, 0, 0), kGrey(136, 136, 136);

// Bit b of a register is drawn in column 12 - b.
int BitColumn(int bit) { return 12 - bit; }

// An inspector over an image of its own, recording the access calls.
class Inspector : public ::testing::Test {
 protected:
  void SetUp() override {
    SetDialogs(&dialogs_);
    inspector_ = std::make_unique<TRegisterInspector>(nullptr);
    inspector_->SetCallbacks(this, Access, nullptr);
    inspector_->show();
  }
  void TearDown() override {
    inspector_.reset();
    SetDialogs(nullptr);
  }
  static void Access(void* user, int address, int book, int page, int reg, int mode) {
    static_cast<Inspector*>(user)->accesses.push_back("mode " + std::to_string(mode) + ": " +
                                                      std::to_string(address) + " " + std::to_string(book) + " " +
                                                      std::to_string(page) + " " + std::to_string(reg));
  }
  void Update(int edited = -1) { inspector_->UpdateGrid(0x30, image_.data(), edited, unsigned(image_.size())); }
  void Click(int reg, int column) {
    QTableWidget* grid = inspector_->RegisterGrid;
    grid->scrollToItem(grid->item(reg, column));
    const QRect cell = grid->visualItemRect(grid->item(reg, column));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
  }
  // Types into a data cell of register `reg` and ends with `key`.
  void Type(int reg, int column, const QString& text, Qt::Key key) {
    QTableWidget* grid = inspector_->RegisterGrid;
    grid->setCurrentCell(reg, column);
    grid->editItem(grid->item(reg, column));
    auto* editor = qobject_cast<QLineEdit*>(grid->indexWidget(grid->model()->index(reg, column)));
    ASSERT_NE(editor, nullptr);
    editor->selectAll();
    QTest::keyClicks(editor, text);
    QTest::keyClick(editor, key);
    // The view commits an edit ended with Enter once the editor has seen the key.
    regtest::PumpEvents();
  }

  regtest::TestDialogs dialogs_;
  std::vector<uint8_t> image_ = std::vector<uint8_t>(0x8000, 0);
  std::vector<std::string> accesses;
  std::unique_ptr<TRegisterInspector> inspector_;
};

TEST_F(Inspector, GridColumnsAndWidths) {
  QTableWidget* grid = inspector_->RegisterGrid;
  EXPECT_EQ(grid->rowCount() + 1, TRegisterInspector::kRows);
  EXPECT_EQ(grid->columnCount(), 14);
  const int widths[] = {25, 30, 370, 30, 30, 12, 12, 12, 12, 12, 12, 12, 12};
  for (int c = 0; c < 13; ++c) EXPECT_EQ(grid->columnWidth(c), widths[c]) << c;
  EXPECT_EQ(grid->rowHeight(0), 16);
  EXPECT_EQ(inspector_->CellText(2, 0), "description");
  EXPECT_EQ(inspector_->CellText(5, 0), "7");
  EXPECT_EQ(inspector_->CellText(12, 0), "0");
  EXPECT_EQ(inspector_->CellText(0, 128), "127");
  EXPECT_EQ(inspector_->CellText(1, 128), "0x7F");
  EXPECT_EQ(inspector_->windowTitle(), "Register Inspector");
  EXPECT_EQ(inspector_->width(), 632);
  EXPECT_TRUE(inspector_->BookGroup->isHidden());
  inspector_->resize(632, 700);
  EXPECT_EQ(inspector_->Info->height(), 270);
}

TEST_F(Inspector, DescriptionsAreKeptForBookZeroRowsOnly) {
  inspector_->SetDescription(0, 2, 5, "Gain", 0x0F);
  inspector_->SetDescription(1, 2, 6, "Other book", 0x00);
  inspector_->SetDescription(0, 0, 200, "No such register", 0x00);
  inspector_->SetDescription(0, 300, 1, "No such page", 0x00);
  EXPECT_EQ(inspector_->Description(2, 5), "Gain");
  EXPECT_EQ(inspector_->WritableMask(2, 5), 0x0F);
  EXPECT_EQ(inspector_->Description(2, 6), "Reserved");
  EXPECT_EQ(inspector_->WritableMask(2, 6), 0xFF);
  EXPECT_EQ(inspector_->Description(1, 72), "Reserved");  // where page 0 register 200 would have gone
  inspector_->EditPage->setText("2");
  Update();
  EXPECT_EQ(inspector_->CellText(2, 6), "Gain");
}

TEST_F(Inspector, NothingHappensBeforeTheFirstImage) {
  Click(5, BitColumn(3));
  Type(5, 3, "12", Qt::Key_Return);
  EXPECT_TRUE(accesses.empty());
  EXPECT_EQ(inspector_->CellText(3, 6), "");  // no value to show, and the typed text was not taken
  EXPECT_TRUE(inspector_->Info->toPlainText().isEmpty());
}

struct ColourCase {
  int bit;
  QColor colour;
};

// Mask 0x05: bits 0 and 2 writable; the value goes from 0x00 to 0x03.
class Colours : public Inspector, public ::testing::WithParamInterface<ColourCase> {};

TEST_P(Colours, FollowWritableAndChanged) {
  inspector_->SetDescription(0, 0, 5, "Five", 0x05);
  Update();
  image_[5] = 0x03;
  Update();
  EXPECT_EQ(inspector_->RegisterGridTextColour(BitColumn(GetParam().bit), 6), GetParam().colour) << GetParam().bit;
}

INSTANTIATE_TEST_SUITE_P(Inspector, Colours,
                         ::testing::Values(ColourCase{0, kRed}, ColourCase{1, kDarkRed}, ColourCase{2, kBlack},
                                           ColourCase{3, kGrey}));

TEST_F(Inspector, BitClicksFlipWritableBitsOnly) {
  inspector_->SetDescription(0, 0, 7, "ReadOnlyLow", 0xF0);
  Update();
  Click(7, BitColumn(3));
  EXPECT_EQ(image_[7], 0x00);
  EXPECT_TRUE(accesses.empty());

  inspector_->SetDescription(0, 0, 7, "AllWritable", 0xFF);
  Click(7, BitColumn(3));
  EXPECT_EQ(image_[7], 0x08);
  EXPECT_EQ(accesses, Lines{"mode 0: 48 0 0 7"});
  EXPECT_EQ(inspector_->CellText(BitColumn(3), 8), "1");
  Click(7, BitColumn(3));
  EXPECT_EQ(image_[7], 0x00);
  EXPECT_EQ(accesses.size(), 2u);
  // The click selects the row's first five cells.
  EXPECT_EQ(inspector_->SelectedRegister(), 7);
  EXPECT_EQ(inspector_->RegisterGrid->selectedItems().size(), 5);
}

struct EntryCase {
  uint8_t mask;
  int column;
  const char* text;
  uint8_t before, after;
  bool written;
};

class ValueEntry : public Inspector, public ::testing::WithParamInterface<EntryCase> {};

TEST_P(ValueEntry, WritesOnlyTheWritableBits) {
  const EntryCase& c = GetParam();
  inspector_->SetDescription(0, 0, 9, "Nine", c.mask);
  image_[9] = c.before;
  Update();
  Type(9, c.column, c.text, Qt::Key_Return);
  EXPECT_EQ(image_[9], c.after) << c.text;
  EXPECT_EQ(accesses.size(), c.written ? 1u : 0u) << c.text;
}

INSTANTIATE_TEST_SUITE_P(Inspector, ValueEntry,
                         ::testing::Values(EntryCase{0x0F, 3, "255", 0x00, 0x0F, true},
                                           EntryCase{0xFF, 4, "0x5A", 0x00, 0x5A, true},
                                           EntryCase{0xF0, 3, "0x5A", 0x0F, 0x5F, true},
                                           // Not a byte, not a number: nothing is written.
                                           EntryCase{0xFF, 3, "300", 0x11, 0x11, false},
                                           EntryCase{0xFF, 3, "x", 0x11, 0x11, false},
                                           EntryCase{0xFF, 4, "-1", 0x11, 0x11, false}));

TEST_F(Inspector, AnEntryShowsTheValueWritten) {
  inspector_->SetDescription(0, 0, 9, "Nine", 0x0F);
  Update();
  Type(9, 3, "255", Qt::Key_Return);
  EXPECT_EQ(image_[9], 0x0F);
  EXPECT_EQ(inspector_->CellText(3, 10), "15");
  EXPECT_EQ(inspector_->CellText(4, 10), "0x0F");
  EXPECT_EQ(inspector_->CellText(12, 10), "1");
  Type(9, 4, "0x3", Qt::Key_Enter);
  EXPECT_EQ(inspector_->CellText(4, 10), "0x03");
  EXPECT_EQ(inspector_->CellText(3, 10), "3");
  // Leaving the cell without Enter writes nothing and leaves the value shown.
  Type(9, 3, "0", Qt::Key_Tab);
  EXPECT_EQ(image_[9], 0x03);
  EXPECT_EQ(accesses.size(), 2u);
  EXPECT_EQ(inspector_->CellText(3, 10), "3");
}

TEST_F(Inspector, EnterOnAnUnchangedCellWritesAgain) {
  image_[9] = 0x21;
  Update();
  for (int column : {3, 4}) {
    Type(9, column, "", Qt::Key_Return);  // the editor holds the cell's own text
    EXPECT_EQ(accesses.back(), "mode 0: 48 0 0 9") << column;
  }
  EXPECT_EQ(accesses.size(), 2u);
  EXPECT_EQ(image_[9], 0x21);
}

// The number columns keep their widths, yet every digit can be read: no
// ellipsis and no text running into the cell's edge.
TEST_F(Inspector, NarrowNumberColumnsShowTheWholeNumber) {
  QTableWidget* grid = inspector_->RegisterGrid;
  image_[0x7E] = 0xFE;
  image_[0x7F] = 0xFF;
  Update();
  grid->scrollToBottom();
  regtest::PumpEvents();
  const QImage shot = grid->viewport()->grab().toImage();
  for (int column : {0, 1, 3, 4}) {
    QImage cells[2];
    for (int i = 0; i < 2; ++i) {
      const QRect rect = grid->visualItemRect(grid->item(0x7E + i, column));
      ASSERT_TRUE(shot.rect().contains(rect)) << column;
      cells[i] = shot.copy(rect);
      // The rightmost dark (text) pixel stays off the cell's last two pixel columns.
      int right = -1;
      for (int y = 0; y < cells[i].height(); ++y)
        for (int x = 0; x < cells[i].width(); ++x)
          if (qGray(cells[i].pixel(x, y)) < 128) right = std::max(right, x);
      EXPECT_GT(right, 0) << column;
      EXPECT_LT(right, cells[i].width() - 2) << "column " << column << ": the text reaches the cell's edge";
    }
    // "0x7E" and "0x7F", 254 and 255 differ only in their last digit.
    EXPECT_NE(cells[0], cells[1]) << "column " << column << " does not show the last digit";
  }
}

struct PageCase {
  const char* text;
  const char* shown;
  int page;
};

class PageEdit : public Inspector, public ::testing::WithParamInterface<PageCase> {};

TEST_P(PageEdit, Clamps) {
  Update();
  inspector_->EditPage->setText("7");
  inspector_->EditPage->setText(GetParam().text);
  EXPECT_EQ(inspector_->EditPage->text().toStdString(), GetParam().shown);
  EXPECT_EQ(inspector_->Page(), GetParam().page);
}

INSTANTIATE_TEST_SUITE_P(Inspector, PageEdit,
                         ::testing::Values(PageCase{"300", "255", 255}, PageCase{"-1", "255", 255},
                                           PageCase{"x", "7", 7}, PageCase{"", "7", 7}, PageCase{"12", "12", 12}));

TEST_F(Inspector, PageEditByKeysAndUpDown) {
  Update();
  inspector_->EditPage->selectAll();
  QTest::keyClicks(inspector_->EditPage, "300");
  EXPECT_EQ(inspector_->EditPage->text(), "255");
  inspector_->EditPage->setText("3");
  QTest::mouseClick(inspector_->PageUpDown->Up, Qt::LeftButton);
  EXPECT_EQ(inspector_->Page(), 4);
  EXPECT_EQ(inspector_->EditPage->text(), "4");
  image_[4 * 128 + 2] = 0x42;
  QTest::mouseClick(inspector_->PageUpDown->Down, Qt::LeftButton);
  QTest::mouseClick(inspector_->PageUpDown->Up, Qt::LeftButton);
  EXPECT_EQ(inspector_->CellText(4, 3), "0x42");
}

TEST_F(Inspector, AnUnpagedDeviceShowsPageZeroOnly) {
  std::vector<uint8_t> small(128, 0);
  small[3] = 0x33;
  inspector_->UpdateGrid(0x70, small.data(), -1, 128);
  inspector_->EditPage->setText("5");
  EXPECT_EQ(inspector_->EditPage->text(), "0");
  EXPECT_EQ(inspector_->Page(), 0);
  QTest::mouseClick(inspector_->PageUpDown->Up, Qt::LeftButton);
  EXPECT_EQ(inspector_->Page(), 0);
  EXPECT_EQ(inspector_->CellText(4, 4), "0x33");
  EXPECT_EQ(inspector_->DeviceAddress->text(), "0x70");
}

TEST_F(Inspector, BooksAreLimitedToTheImageAndTrackNoChanges) {
  std::vector<uint8_t> books(4 * 0x8000, 0);
  inspector_->SetBookCount(4);
  EXPECT_FALSE(inspector_->BookGroup->isHidden());
  inspector_->UpdateGrid(0x30, books.data(), -1, unsigned(books.size()));
  books[2 * 0x8000 + 5] = 0x05;
  inspector_->EditBook->setText("2");
  EXPECT_EQ(inspector_->CellText(2, 6), "Book: 2, Register: 5");
  EXPECT_EQ(inspector_->CellText(4, 6), "0x05");
  EXPECT_EQ(inspector_->RegisterGridTextColour(BitColumn(0), 6), kBlack);
  inspector_->EditBook->setText("9");
  EXPECT_EQ(inspector_->EditBook->text(), "3");
  EXPECT_EQ(inspector_->Book(), 3);
  Click(5, BitColumn(1));
  EXPECT_EQ(books[3 * 0x8000 + 5], 0x02);
  EXPECT_EQ(accesses, Lines{"mode 0: 48 3 0 5"});

  inspector_->SetBookCount(0);
  EXPECT_TRUE(inspector_->BookGroup->isHidden());
  inspector_->EditBook->setText("0");
  Update();  // an image of one book
  inspector_->EditBook->setText("2");
  EXPECT_EQ(inspector_->EditBook->text(), "0");
}

TEST_F(Inspector, ExportWritesTheFixedColumns) {
  testsupport::TempDir dir;
  inspector_->SetDescription(0, 0, 5, "Volume", 0xFF);
  image_[5] = 0x05;
  image_[100] = 0xC8;
  Update();
  dialogs_.saveFile = dir.File("grid");
  inspector_->Export->click();
  EXPECT_EQ(accesses, Lines{"mode 1: 48 0 0 0"});
  EXPECT_EQ(dialogs_.filters, Lines{"Text Files|*.txt"});
  const std::string text = testsupport::ReadFile(dir.File("grid.txt"));
  std::vector<std::string> lines;
  for (size_t from = 0; from < text.size();) {
    const size_t end = text.find("\n\r\r\n", from);
    ASSERT_NE(end, std::string::npos);
    lines.push_back(text.substr(from, end - from));
    from = end + 4;
  }
  ASSERT_EQ(lines.size(), 129u);
  EXPECT_EQ(lines[0], "addr, addr, data, data, 7, 6, 5, 4, 3, 2, 1, 0, description");
  EXPECT_EQ(lines[6], "5,    0x05, 5,    0x05, 0, 0, 0, 0, 0, 1, 0, 1, Volume");
  EXPECT_EQ(lines[101], "100,  0x64, 200,  0xC8, 1, 1, 0, 0, 1, 0, 0, 0, Reserved");

  dialogs_.saveFile.clear();
  inspector_->Export->click();
  EXPECT_EQ(accesses.size(), 2u);
}

// An emulated board behind the inspector, as a board window binds it.
class InspectorOnBoard : public LinkFixture {
 protected:
  void SetUp() override {
    LinkFixture::SetUp();
    link_->AddDevice(0x30, 0, 256);
    harness_.link = link_.get();
    inspector_ = std::make_unique<TRegisterInspector>(nullptr);
    harness_.refreshInspector = [this](int address) { Refresh(address); };
    inspector_->SetCallbacks(&harness_, regtest::BoardHarness::InspectorAccess,
                             regtest::BoardHarness::InspectorDescribe);
  }
  void TearDown() override {
    inspector_.reset();
    LinkFixture::TearDown();
  }
  void Refresh(int address) {
    inspector_->UpdateGrid(address, link_->GetRegisterImage(unsigned(address), 0, 0, 0), -1,
                           link_->GetImageSize(unsigned(address)));
  }
  // Whether any pixel of the cell's text is pure red.
  bool DrawnRed(int reg, int column) {
    QTableWidget* grid = inspector_->RegisterGrid;
    inspector_->show();
    regtest::PumpEvents();
    const QRect cell = grid->visualItemRect(grid->item(reg, column));
    const QImage shot = grid->viewport()->grab(cell).toImage();
    for (int y = 0; y < shot.height(); ++y)
      for (int x = 0; x < shot.width(); ++x) {
        const QColor c = shot.pixelColor(x, y);
        if (c.red() > 200 && c.green() < 60 && c.blue() < 60) return true;
      }
    return false;
  }

  regtest::BoardHarness harness_;
  std::unique_ptr<TRegisterInspector> inspector_;
};

TEST_F(InspectorOnBoard, AChangeBehindItsBackIsRedOnceThenBlack) {
  Refresh(0x30);
  EXPECT_EQ(inspector_->Changed(0, 5), 0);
  QuillbusSetRegister(0, 0x30, 0, 0, 5, 0x05);
  inspector_->Refresh->click();
  EXPECT_EQ(inspector_->CellText(4, 6), "0x05");
  EXPECT_EQ(inspector_->Changed(0, 5), 0x05);
  EXPECT_EQ(inspector_->RegisterGridTextColour(BitColumn(0), 6), kRed);
  EXPECT_EQ(inspector_->RegisterGridTextColour(BitColumn(2), 6), kRed);
  EXPECT_EQ(inspector_->RegisterGridTextColour(BitColumn(1), 6), kBlack);
  EXPECT_TRUE(DrawnRed(5, BitColumn(0)));
  EXPECT_FALSE(DrawnRed(5, BitColumn(1)));

  inspector_->Refresh->click();
  EXPECT_EQ(inspector_->RegisterGridTextColour(BitColumn(0), 6), kBlack);
  EXPECT_EQ(inspector_->RegisterGridTextColour(BitColumn(2), 6), kBlack);
  EXPECT_FALSE(DrawnRed(5, BitColumn(0)));
}

TEST_F(InspectorOnBoard, BitClicksReachTheBoardAndTheInfoPanelDescribes) {
  ASSERT_TRUE(link_->LoadRegisterMap(std::string(PALISAR_SOURCE_DIR) + "/boards/QMX7XXX/QMX7XXX.xml", 0x30));
  Refresh(0x30);
  inspector_->RegisterGridSelectCell(BitColumn(0), 2);
  EXPECT_EQ(QuillbusGetRegister(0, 0x30, 0, 0, 1), 0x01);
  EXPECT_EQ(inspector_->Info->toPlainText().toStdString(),
            "Page: 0, Register: 1, SoftwareReset:\n  Reset: D0-D0\n    b0: Normal\n   *b1: Reset");
}

}  // namespace
