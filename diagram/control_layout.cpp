#include "diagram/control_layout.h"

#include <QApplication>
#include <QCheckBox>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QLineEdit>
#include <QPainter>
#include <QProxyStyle>
#include <QRadioButton>
#include <QStyleFactory>
#include <QStyleOption>
#include <algorithm>
#include <cmath>
#include <map>
#include <utility>

namespace {

// The style of the controls below full size: the application's style with
// check marks of one size, laid out as a style sheet that sets only the
// indicator's size lays them out (the caption right after the mark and its
// spacing), and edits with a thin border in the palette's mid colour and no
// padding. One instance serves every control of that size.
class TControlStyle : public QProxyStyle {
 public:
  TControlStyle(int checkSize, int radioSize)
      : QProxyStyle(QStyleFactory::create(QApplication::style()->name())), check(checkSize), radio(radioSize) {}

  int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override {
    switch (metric) {
      case PM_IndicatorWidth:
      case PM_IndicatorHeight:
        return check;
      case PM_ExclusiveIndicatorWidth:
      case PM_ExclusiveIndicatorHeight:
        return radio;
      case PM_DefaultFrameWidth:
        if (qobject_cast<const QLineEdit*>(widget)) return 1;
        break;
      default:
        break;
    }
    return QProxyStyle::pixelMetric(metric, option, widget);
  }

  void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
    if (qobject_cast<const QLineEdit*>(widget) && (element == PE_PanelLineEdit || element == PE_FrameLineEdit)) {
      if (element == PE_FrameLineEdit) return;  // the panel draws it
      painter->fillRect(option->rect.adjusted(1, 1, -1, -1), option->palette.base());
      painter->setPen(option->palette.color(QPalette::Mid));
      painter->setBrush(Qt::NoBrush);
      painter->drawRect(option->rect.adjusted(0, 0, -1, -1));
      return;
    }
    QProxyStyle::drawPrimitive(element, option, painter, widget);
  }

  // The base style lays out its own parts with its own rectangles; these go
  // through ours.
  void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                   const QWidget* widget) const override {
    const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option);
    if (!button || (element != CE_CheckBox && element != CE_RadioButton))
      return QProxyStyle::drawControl(element, option, painter, widget);
    const bool isRadio = element == CE_RadioButton;
    QStyleOptionButton part = *button;
    part.rect = subElementRect(isRadio ? SE_RadioButtonIndicator : SE_CheckBoxIndicator, button, widget);
    drawPrimitive(isRadio ? PE_IndicatorRadioButton : PE_IndicatorCheckBox, &part, painter, widget);
    part.rect = subElementRect(isRadio ? SE_RadioButtonContents : SE_CheckBoxContents, button, widget);
    drawControl(isRadio ? CE_RadioButtonLabel : CE_CheckBoxLabel, &part, painter, widget);
    if (button->state & State_HasFocus) {
      QStyleOptionFocusRect focus;
      focus.QStyleOption::operator=(*button);
      focus.rect = subElementRect(isRadio ? SE_RadioButtonFocusRect : SE_CheckBoxFocusRect, button, widget);
      drawPrimitive(PE_FrameFocusRect, &focus, painter, widget);
    }
  }

  QRect subElementRect(SubElement element, const QStyleOption* option, const QWidget* widget) const override {
    const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option);
    switch (element) {
      case SE_CheckBoxIndicator:
      case SE_RadioButtonIndicator: {
        // Centred with the odd pixel above, as the sheet placed it.
        const int side = element == SE_RadioButtonIndicator ? radio : check;
        const QRect r(option->rect.x(), option->rect.y() + (option->rect.height() - side + 1) / 2, side, side);
        return visualRect(option->direction, option->rect, r);
      }
      case SE_CheckBoxContents:
      case SE_RadioButtonContents: {
        const bool isRadio = element == SE_RadioButtonContents;
        const QRect mark = visualRect(option->direction, option->rect,
                                      subElementRect(isRadio ? SE_RadioButtonIndicator : SE_CheckBoxIndicator,
                                                     option, widget));
        const int spacing = Spacing(isRadio, widget);
        const QRect r(mark.left() + mark.width() + spacing, option->rect.y(),
                      option->rect.width() - mark.width() - spacing, option->rect.height());
        return visualRect(option->direction, option->rect, r);
      }
      case SE_RadioButtonFocusRect:
      case SE_RadioButtonClickRect:
        // A radio button's sheet made all of it the focus frame and the place a click takes.
        return option->rect;
      case SE_CheckBoxFocusRect: {
        if (!button) break;
        if (button->icon.isNull() && button->text.isEmpty())
          return subElementRect(SE_CheckBoxIndicator, option, widget).adjusted(1, 1, -1, -1);
        const QRect contents =
            visualRect(button->direction, button->rect, subElementRect(SE_CheckBoxContents, button, widget));
        QRect r = itemTextRect(option->fontMetrics, contents,
                               Qt::AlignAbsolute | Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic,
                               button->state & State_Enabled, button->text);
        r.adjust(-3, -2, 3, 2);
        return visualRect(button->direction, button->rect, r.intersected(button->rect));
      }
      case SE_CheckBoxClickRect:
        return subElementRect(SE_CheckBoxFocusRect, option, widget) |
               subElementRect(SE_CheckBoxIndicator, option, widget);
      default:
        break;
    }
    return QProxyStyle::subElementRect(element, option, widget);
  }

  QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                         const QWidget* widget) const override {
    if (type != CT_CheckBox && type != CT_RadioButton)
      return QProxyStyle::sizeFromContents(type, option, size, widget);
    const bool isRadio = type == CT_RadioButton;
    const int side = isRadio ? radio : check;
    return QSize(size.width() + side + Spacing(isRadio, widget), std::max(size.height(), side));
  }

 private:
  int Spacing(bool isRadio, const QWidget* widget) const {
    return pixelMetric(isRadio ? PM_RadioButtonLabelSpacing : PM_CheckBoxLabelSpacing, nullptr, widget);
  }

  int check, radio;
};

// The style of the controls at `factor` below full size, made once for each size.
QStyle* ControlStyle(float factor) {
  // A page's controls ask for one factor after another.
  static float lastFactor = 0;
  static QStyle* last = nullptr;
  if (last && factor == lastFactor) return last;
  static std::map<std::pair<int, int>, QStyle*> styles;
  QStyle* app = QApplication::style();
  const std::pair<int, int> sizes(ScaledControlPixels(app->pixelMetric(QStyle::PM_IndicatorWidth), factor),
                                  ScaledControlPixels(app->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth), factor));
  QStyle*& style = styles[sizes];
  if (!style) {
    style = new TControlStyle(sizes.first, sizes.second);
    // The application ends its styles with itself, after the windows.
    style->setParent(qApp);
  }
  lastFactor = factor;
  return last = style;
}

}  // namespace

float ControlSizeFactor(float scale) {
  if (!(scale > 0)) return 1.0f / 64;
  return std::clamp(scale / kFullSizeScale, 1.0f / 64, 1.0f);
}

int ScaledControlPixels(int pixels, float factor) {
  const int scaled = int(std::lround(float(pixels) * factor));
  return pixels > 0 ? std::max(scaled, 1) : scaled;
}

int ScaledControlPoints(int points, float factor) {
  // The smallest font in points, rounded up (96 pixels to 72 points).
  const int smallest = (kSmallestControlFontPixels * 72 + 95) / 96;
  return std::min(points, std::max(smallest, int(std::lround(float(points) * factor))));
}

QFont ScaledControlFont(const QFont& design, float factor) {
  QFont font = design;
  if (factor < 1) {
    // A page's controls ask for a few designs over and over.
    static QFont lastDesign, lastApplication;
    static int lastPixels = -1;
    const QFont application = QApplication::font();
    if (lastPixels < 0 || design != lastDesign || application != lastApplication) {
      lastDesign = design;
      lastApplication = application;
      // The design font as a control shows it: what it leaves open comes
      // from the application's font.
      lastPixels = QFontInfo(design.resolve(application)).pixelSize();
    }
    const int pixels = lastPixels;
    font.setPixelSize(std::min(pixels, std::max(kSmallestControlFontPixels, ScaledControlPixels(pixels, factor))));
  }
  return font;
}

void FitControl(QWidget* control, const QFont& font, float factor) {
  if (!control) return;
  if (control->font() != font) control->setFont(font);
  if (!qobject_cast<QLineEdit*>(control) && !qobject_cast<QCheckBox*>(control) &&
      !qobject_cast<QRadioButton*>(control))
    return;
  QStyle* style = factor < 1 ? ControlStyle(factor) : QApplication::style();
  if (control->style() != style) control->setStyle(style == QApplication::style() ? nullptr : style);
}

int EditWidthFor(const QLineEdit* edit, const QString& text) {
  if (!edit) return 0;
  const QStyle* style = edit->style();
  const bool frame = edit->hasFrame();
  // The last answer serves the many edits of one range and font on a page.
  struct Answer {
    const QStyle* style = nullptr;
    bool frame = false;
    QFont font;
    QString text;
    int width = -1;
  };
  static Answer last;
  if (last.width < 0 || last.style != style || last.frame != frame || last.text != text || last.font != edit->font()) {
    // QLineEdit keeps this margin either side of its text, and a pixel
    // between the text and the cursor.
    constexpr int kTextMargin = 2;
    const int border = frame ? style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, edit) : 0;
    const int cursor = style->pixelMetric(QStyle::PM_TextCursorWidth, nullptr, edit);
    const int advance = qRound(QFontMetricsF(edit->font()).horizontalAdvance(text));
    last = {style, frame, edit->font(), text, advance + 1 + cursor + 2 * kTextMargin + 2 * border};
  }
  const QMargins margins = edit->textMargins();
  return last.width + margins.left() + margins.right();
}

void PlaceBoxBeside(QWidget* box, float x, float y, int below, float scale, TControlFit& fit) {
  if (!box) return;
  const float f = ControlSizeFactor(scale);
  if (fit.Refit(f)) FitControl(box, ScaledControlFont(QFont(), f), f);
  // An outline of 1 pixel is 3 wide while lit, one pixel either side of its row.
  constexpr int kUnderOutline = 3;
  const QPoint at(int(x) + ScaledControlPixels(10, f), int(y) + kUnderOutline + ScaledControlPixels(below, f));
  box->setGeometry(QRect(at, QSize(box->sizeHint().width(), ScaledControlPixels(16, f))));
}
