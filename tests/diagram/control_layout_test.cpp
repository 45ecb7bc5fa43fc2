// The controls of a page drawn smaller than full size: each kind draws as
// a style sheet of its size drew it (check mark, caption, thin edit
// border), in every state; back at full size a control draws as a fresh
// one; no font grows as the page is drawn smaller; and sizes are
// scaled and rounded to whole pixels.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QFontInfo>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QRadioButton>
#include <QStyleOption>
#include <climits>
#include <memory>

#include "diagram/control_layout.h"

namespace {

// What the style draws of a check box or radio button in `state`.
QImage Drawn(QAbstractButton& button, QStyle::State state) {
  QImage image(button.size(), QImage::Format_ARGB32);
  image.fill(0);
  QStyleOptionButton option;
  option.initFrom(&button);
  option.text = button.text();
  option.state |= state;
  QPainter painter(&image);
  const bool radio = qobject_cast<QRadioButton*>(&button);
  button.style()->drawControl(radio ? QStyle::CE_RadioButton : QStyle::CE_CheckBox, &option, &painter, &button);
  return image;
}

// The style sheet such a control had below full size.
QString Sheet(const QWidget& control, float factor) {
  if (qobject_cast<const QLineEdit*>(&control)) return "QLineEdit { border: 1px solid palette(mid); padding: 0px; }";
  const bool box = qobject_cast<const QCheckBox*>(&control);
  const int size = ScaledControlPixels(
      QApplication::style()->pixelMetric(box ? QStyle::PM_IndicatorWidth : QStyle::PM_ExclusiveIndicatorWidth), factor);
  return QString("%1::indicator { width: %2px; height: %2px; }").arg(box ? "QCheckBox" : "QRadioButton").arg(size);
}

TEST(ControlLayoutTest, BelowFullSizeEachControlDrawsAsAStyleSheetOfItsSizeDrewIt) {
  for (float factor : {0.3f, 0.5f, 0.64f, 0.8f, 0.95f}) {
    SCOPED_TRACE(factor);
    const QFont font = ScaledControlFont(QFont(), factor);
    std::vector<std::pair<std::unique_ptr<QAbstractButton>, std::unique_ptr<QAbstractButton>>> buttons;
    for (const char* caption : {"", "Active"})
      buttons.emplace_back(std::make_unique<QCheckBox>(caption), std::make_unique<QCheckBox>(caption));
    buttons.emplace_back(std::make_unique<QRadioButton>("Volume Control Only"),
                         std::make_unique<QRadioButton>("Volume Control Only"));
    for (auto& [sheeted, fitted] : buttons) {
      SCOPED_TRACE(fitted->text().toStdString());
      sheeted->setFont(font);
      sheeted->setStyleSheet(Sheet(*sheeted, factor));
      FitControl(fitted.get(), font, factor);
      ASSERT_EQ(fitted->sizeHint(), sheeted->sizeHint());
      sheeted->resize(sheeted->sizeHint() + QSize(4, 6));
      fitted->resize(sheeted->size());
      // Where a click takes.
      const bool radio = qobject_cast<QRadioButton*>(fitted.get());
      const QStyle::SubElement click = radio ? QStyle::SE_RadioButtonClickRect : QStyle::SE_CheckBoxClickRect;
      QStyleOptionButton option;
      option.initFrom(fitted.get());
      option.text = fitted->text();
      EXPECT_EQ(fitted->style()->subElementRect(click, &option, fitted.get()),
                sheeted->style()->subElementRect(click, &option, sheeted.get()));
      for (QStyle::State on : {QStyle::State(QStyle::State_Off), QStyle::State(QStyle::State_On)})
        for (QStyle::State more : {QStyle::State(QStyle::State_None), QStyle::State(QStyle::State_HasFocus),
                                   QStyle::State_HasFocus | QStyle::State_KeyboardFocusChange,
                                   QStyle::State_MouseOver | QStyle::State_Sunken})
          EXPECT_EQ(Drawn(*fitted, on | more), Drawn(*sheeted, on | more))
              << "state " << int(on | more);
    }
    QLineEdit sheeted("-63.5"), fitted("-63.5");
    sheeted.setFont(font);
    sheeted.setStyleSheet(Sheet(sheeted, factor));
    FitControl(&fitted, font, factor);
    sheeted.resize(ScaledControlPixels(30, factor) + 8, ScaledControlPixels(18, factor));
    fitted.resize(sheeted.size());
    EXPECT_EQ(fitted.grab().toImage(), sheeted.grab().toImage());
  }
}

// On a page's background, as the board window's paint box has it.
TEST(ControlLayoutTest, BackAtFullSizeAControlDrawsAsAFreshOne) {
  QWidget page;
  QPalette palette = page.palette();
  palette.setColor(QPalette::Window, QColor(0xD2, 0xD2, 0xD7));
  page.setPalette(palette);
  const QFont arial(QStringLiteral("Arial"));
  auto fresh = [&](QWidget* control) {
    control->setParent(&page);
    FitControl(control, ScaledControlFont(arial, 1), 1);
    control->resize(40, 18);
    return control;
  };
  for (auto [zoomed, control] : {std::pair<QWidget*, QWidget*>{new QCheckBox("Mute"), new QCheckBox("Mute")},
                                 {new QRadioButton("Mute"), new QRadioButton("Mute")},
                                 {new QLineEdit("-63.5"), new QLineEdit("-63.5")}}) {
    fresh(control);
    fresh(zoomed);
    for (float factor : {0.5f, 0.8f, 1.0f}) FitControl(zoomed, ScaledControlFont(arial, factor), factor);
    EXPECT_EQ(zoomed->style(), QApplication::style()) << control->metaObject()->className();
    EXPECT_EQ(zoomed->font(), control->font()) << control->metaObject()->className();
    EXPECT_EQ(zoomed->grab().toImage(), control->grab().toImage()) << control->metaObject()->className();
  }
}

// A font below full size is the one the control shows at full size,
// scaled: Arial that names no size shows in the application's size.
TEST(ControlLayoutTest, NoFontGrowsAsThePageIsDrawnSmaller) {
  QWidget page;
  for (const QFont& design : {QFont(QStringLiteral("Arial")), QFont()}) {
    SCOPED_TRACE(design.toString().toStdString());
    int previous = INT_MAX;
    for (int percent = 100; percent >= 10; --percent) {
      const float factor = float(percent) / 100;
      QLineEdit edit(&page);
      FitControl(&edit, ScaledControlFont(design, factor), factor);
      const int pixels = QFontInfo(edit.font()).pixelSize();
      EXPECT_LE(pixels, previous) << "at " << factor;
      previous = pixels;
    }
    EXPECT_EQ(previous, kSmallestControlFontPixels);
  }
}

}  // namespace

// Rounded, not truncated: a box of 14 pixels at 0.75 is 11 (10.5), one of 64
// at 0.9 is 58 (57.6); a size of a pixel or more never vanishes.
TEST(ControlLayoutTest, ScaledPixelsAreRoundedAndStayAtLeastOne) {
  const struct {
    int pixels;
    float factor;
    int scaled;
  } cases[] = {
      {14, 0.75f, 11}, {64, 0.9f, 58}, {3, 0.5f, 2}, {16, 0.6f, 10}, {100, 0.333f, 33},
      {16, 1.0f, 16},  {1, 0.01f, 1},  {2, 1.0f / 64, 1}, {0, 0.5f, 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ScaledControlPixels(c.pixels, c.factor), c.scaled) << c.pixels << " at " << c.factor;
}
