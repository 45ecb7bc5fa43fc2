#include "tests/host/text_fit.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPaintEngine>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QRegion>
#include <QStyle>
#include <QStyleOption>
#include <QTabWidget>
#include <QTableView>
#include <QTextDocumentFragment>
#include <QToolButton>
#include <QAbstractScrollArea>

#include <climits>
#include <cmath>
#include <functional>
#include <optional>
#include <sstream>
#include <typeinfo>

#include "common/canvas.h"
#include "common/gui_object.h"
#include "common/shapes.h"
#include "diagram/amplifier.h"
#include "diagram/block_diagram.h"
#include "host/diagram_form.h"

namespace hosttest {
namespace {

// A text as its control draws it: where it goes (it sticks out of `room`
// when it does not fit) and the rectangle the control has for it, both in
// the control's coordinates.
struct DrawnText {
  QString text;
  QRect drawn;
  QRect room;
};

std::string S(const QString& text) { return text.toStdString(); }

std::string Path(const QWidget* w, const QWidget* window) {
  std::string path;
  for (const QWidget* p = w; p && p != window; p = p->parentWidget()) {
    std::string name = S(p->objectName());
    if (name.empty()) name = p->metaObject()->className();
    path = path.empty() ? name : name + "/" + path;
  }
  return path.empty() ? S(window->objectName()) : path;
}

// The free pixels a text keeps from a neighbouring control and from a frame:
// a text with none between them touches.
constexpr int kClearance = 1;

QRegion Grown(const QRegion& region, int by = kClearance) {
  QRegion grown;
  for (const QRect& r : region) grown += r.adjusted(-by, -by, by, by);
  return grown;
}

std::string Size(QSize s) { return std::to_string(s.width()) + "x" + std::to_string(s.height()); }
std::string Place(QRect r) { return Size(r.size()) + " at " + std::to_string(r.x()) + "," + std::to_string(r.y()); }

QString Plain(const QString& text, Qt::TextFormat format) {
  if (format == Qt::RichText || (format == Qt::AutoText && Qt::mightBeRichText(text)))
    return QTextDocumentFragment::fromHtml(text).toPlainText();
  return text;
}

std::optional<DrawnText> LabelText(const QLabel* label) {
  if (label->text().isEmpty() || !label->pixmap().isNull()) return std::nullopt;
  const QFontMetrics fm(label->font());
  QRect room = label->contentsRect();
  const int m = label->margin();
  room.adjust(m, m, -m, -m);
  int indent = label->indent();
  if (indent < 0) indent = label->frameWidth() > 0 ? fm.horizontalAdvance(QLatin1Char('x')) / 2 : 0;
  const Qt::Alignment align = QStyle::visualAlignment(label->layoutDirection(), label->alignment());
  if (indent > 0) {
    if (align & Qt::AlignLeft) room.setLeft(room.left() + indent);
    if (align & Qt::AlignRight) room.setRight(room.right() - indent);
    if (align & Qt::AlignTop) room.setTop(room.top() + indent);
    if (align & Qt::AlignBottom) room.setBottom(room.bottom() - indent);
  }
  const QString text = Plain(label->text(), label->textFormat());
  const int mnemonic = label->buddy() ? Qt::TextShowMnemonic : 0;
  const QSize need = label->wordWrap()
                         ? fm.boundingRect(QRect(0, 0, std::max(room.width(), 1), 1 << 20),
                                           Qt::TextWordWrap | mnemonic, text)
                               .size()
                         : fm.size(mnemonic, text);
  return DrawnText{text, QStyle::alignedRect(Qt::LeftToRight, align, need, room), room};
}

std::optional<DrawnText> ButtonText(const QAbstractButton* button) {
  if (button->text().isEmpty()) return std::nullopt;
  const QFontMetrics fm(button->font());
  QSize need = fm.size(Qt::TextShowMnemonic, button->text());
  if (auto* tool = qobject_cast<const QToolButton*>(button)) {
    // Tool buttons are laid out by their bars at their size hints.
    const QRect room = tool->rect();
    const QSize hint = tool->sizeHint();
    const QSize drawn(std::max(hint.width(), 0), std::min(hint.height(), room.height()));
    return DrawnText{button->text(), QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, drawn, room), room};
  }
  QStyleOptionButton option;
  option.initFrom(button);
  option.text = button->text();
  option.icon = button->icon();
  option.iconSize = button->iconSize();
  QStyle::SubElement element = QStyle::SE_PushButtonContents;
  Qt::Alignment align = Qt::AlignCenter;
  if (qobject_cast<const QCheckBox*>(button)) {
    element = QStyle::SE_CheckBoxContents;
    align = Qt::AlignLeft | Qt::AlignVCenter;
  } else if (qobject_cast<const QRadioButton*>(button)) {
    element = QStyle::SE_RadioButtonContents;
    align = Qt::AlignLeft | Qt::AlignVCenter;
  } else if (auto* push = qobject_cast<const QPushButton*>(button)) {
    if (push->isFlat()) option.features |= QStyleOptionButton::Flat;
    if (push->menu()) option.features |= QStyleOptionButton::HasMenu;
    if (push->autoDefault()) option.features |= QStyleOptionButton::AutoDefaultButton;
    if (push->isDefault()) option.features |= QStyleOptionButton::DefaultButton;
  }
  if (!option.icon.isNull()) need.rwidth() += option.iconSize.width() + 4;
  QRect room = button->style()->subElementRect(element, &option, button);
  if (element == QStyle::SE_PushButtonContents) {
    // The style's own margin beside the bevel, as its size hint counts it.
    const int margin = button->style()->pixelMetric(QStyle::PM_ButtonMargin, &option, button) / 2;
    room.adjust(margin, 0, -margin, 0);
  }
  return DrawnText{button->text(), QStyle::alignedRect(Qt::LeftToRight, align, need, room), room};
}

QStyleOptionGroupBox GroupOption(const QGroupBox* box) {
  QStyleOptionGroupBox option;
  option.initFrom(box);
  option.text = box->title();
  option.lineWidth = 1;
  option.midLineWidth = 0;
  option.textAlignment = box->alignment();
  option.subControls = QStyle::SC_GroupBoxFrame;
  if (!box->title().isEmpty()) option.subControls |= QStyle::SC_GroupBoxLabel;
  if (box->isCheckable()) option.subControls |= QStyle::SC_GroupBoxCheckBox;
  option.features = box->isFlat() ? QStyleOptionFrame::Flat : QStyleOptionFrame::None;
  return option;
}

// The line a group box draws around its children, in its own coordinates.
QRegion GroupFrame(const QGroupBox* box) {
  const QStyleOptionGroupBox option = GroupOption(box);
  const QRect frame = box->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxFrame, box);
  QRegion ring = QRegion(frame) - QRegion(frame.adjusted(2, 2, -2, -2));
  if (!box->title().isEmpty())
    ring -= box->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, box);
  return ring;
}

std::optional<DrawnText> GroupTitle(const QGroupBox* box) {
  if (box->title().isEmpty()) return std::nullopt;
  const QStyleOptionGroupBox option = GroupOption(box);
  const QRect title = box->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, box);
  return DrawnText{box->title(), title, box->rect()};
}

// An edit's text as the edit lays it out: on the line inside its contents
// and margins, with a pixel and the cursor after it (a text that needs more
// than the line scrolls, its start out of sight); it is seen where its ink
// lies inside the contents.
std::optional<DrawnText> EditText(const QLineEdit* edit) {
  const QString text = edit->displayText();
  if (text.isEmpty()) return std::nullopt;
  QStyleOptionFrame option;
  option.initFrom(edit);
  option.rect = edit->rect();
  option.lineWidth = edit->hasFrame() ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit) : 0;
  option.midLineWidth = 0;
  option.state |= QStyle::State_Sunken;
  const QRect contents =
      edit->style()->subElementRect(QStyle::SE_LineEditContents, &option, edit).marginsRemoved(edit->textMargins());
  // The edit's own margin beside its text.
  constexpr int kHorizontalMargin = 2;
  const QRect line = contents.adjusted(kHorizontalMargin, 0, -kHorizontalMargin, 0);
  const QFontMetrics fm(edit->font());
  const int lineHeight = std::max(fm.boundingRect(text).height(), fm.height());
  const int top = contents.y() + (contents.height() - lineHeight + 1) / 2;
  const int cursor = edit->style()->pixelMetric(QStyle::PM_TextCursorWidth, nullptr, edit);
  const int used = qRound(QFontMetricsF(edit->font()).horizontalAdvance(text)) + 1 + cursor;
  const QRect ink = fm.tightBoundingRect(text).translated(line.x(), top + fm.ascent());
  const QRect drawn(line.x(), ink.top(), used, ink.height());
  return DrawnText{text, drawn, QRect(line.x(), contents.y(), line.width(), contents.height())};
}

// The one text a control draws for itself (grids are checked cell by cell).
std::optional<DrawnText> TextOf(const QWidget* w) {
  if (auto* label = qobject_cast<const QLabel*>(w)) return LabelText(label);
  if (auto* edit = qobject_cast<const QLineEdit*>(w)) return EditText(edit);
  if (auto* button = qobject_cast<const QAbstractButton*>(w)) return ButtonText(button);
  if (auto* box = qobject_cast<const QGroupBox*>(w)) return GroupTitle(box);
  return std::nullopt;
}

bool Shown(const QWidget* w) { return w->isVisible() && !w->isWindow(); }

std::vector<QWidget*> ShownChildren(const QWidget* parent) {
  std::vector<QWidget*> out;
  for (QObject* o : parent->children())  // in stacking order, the topmost last
    if (auto* w = qobject_cast<QWidget*>(o); w && Shown(w)) out.push_back(w);
  return out;
}

// A plain widget that paints nothing of its own (a page's control layer is
// one, though of a class of its own without a meta-object).
bool BareContainer(const QWidget* w) {
  return w->metaObject() == &QWidget::staticMetaObject && !w->autoFillBackground();
}

// What a control paints besides its texts, in its parent's coordinates,
// its children included: a label its picture or frame, a box its indicator
// or frame, a bare container only its children, anything else its whole
// rectangle.
QRegion Body(const QWidget* w) {
  const QRect rect = w->rect();
  QRegion region;
  auto children = [&] {
    for (QWidget* c : ShownChildren(w)) region += Body(c) & rect;
  };
  if (auto* label = qobject_cast<const QLabel*>(w)) {
    if (label->frameShape() != QFrame::NoFrame || label->autoFillBackground()) return QRegion(w->geometry());
    if (!label->pixmap().isNull())
      region += QStyle::alignedRect(Qt::LeftToRight, label->alignment(),
                                    label->pixmap().deviceIndependentSize().toSize(), label->contentsRect());
  } else if (qobject_cast<const QCheckBox*>(w) || qobject_cast<const QRadioButton*>(w)) {
    QStyleOptionButton option;
    option.initFrom(w);
    const bool check = qobject_cast<const QCheckBox*>(w);
    region += w->style()->subElementRect(check ? QStyle::SE_CheckBoxIndicator : QStyle::SE_RadioButtonIndicator,
                                         &option, w);
  } else if (auto* box = qobject_cast<const QGroupBox*>(w)) {
    const QStyleOptionGroupBox option = GroupOption(box);
    const QRect frame = box->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxFrame, box);
    region += QRegion(frame) - QRegion(frame.adjusted(2, 2, -2, -2));
    children();
  } else if (BareContainer(w)) {
    children();
  } else {
    region += rect;
  }
  return region.translated(w->pos());
}

// A text as it is seen: the part of it inside its control and the
// control's ancestors, in the coordinates of `w`'s parent.
struct SeenText {
  const QWidget* control;
  QString text;
  QRegion region;
};

// The texts of `w` and of its shown descendants.
void Texts(const QWidget* w, std::vector<SeenText>& out) {
  const QRect rect = w->rect();
  const size_t first = out.size();
  if (auto t = TextOf(w)) out.push_back({w, t->text, QRegion(t->drawn & rect)});
  for (QWidget* c : ShownChildren(w)) Texts(c, out);
  for (size_t i = first; i < out.size(); ++i) out[i].region = (out[i].region & rect).translated(w->pos());
}

// Everything a control paints, texts included (for the page's texts under it).
QRegion Occupied(const QWidget* w) {
  QRegion region = Body(w);
  std::vector<SeenText> texts;
  Texts(w, texts);
  for (const SeenText& t : texts) region += t.region;
  return region;
}

// What a widget paints by itself, recorded as it paints it: the ink of its
// texts and the outlines of the rectangles it strokes (its frames), in its
// own coordinates.
struct Painted {
  struct Text {
    QString text;
    QRect ink;
  };
  std::vector<Text> texts;
  std::vector<QRegion> frames;
};

class TRecordingEngine : public QPaintEngine {
 public:
  explicit TRecordingEngine(Painted& out) : QPaintEngine(QPaintEngine::AllFeatures), out_(out) {}
  bool begin(QPaintDevice*) override { return true; }
  bool end() override { return true; }
  void updateState(const QPaintEngineState&) override {}
  Type type() const override { return QPaintEngine::User; }
  void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
  void drawImage(const QRectF&, const QImage&, const QRectF&, Qt::ImageConversionFlags) override {}
  void drawPath(const QPainterPath&) override {}
  void drawPolygon(const QPointF*, int, PolygonDrawMode) override {}
  void drawPolygon(const QPoint*, int, PolygonDrawMode) override {}
  void drawLines(const QLineF*, int) override {}
  void drawLines(const QLine*, int) override {}
  void drawEllipse(const QRectF&) override {}
  void drawPoints(const QPointF*, int) override {}
  void drawTiledPixmap(const QRectF&, const QPixmap&, const QPointF&) override {}

  void drawTextItem(const QPointF& p, const QTextItem& item) override {
    const QFontMetricsF metrics(item.font(), paintDevice());
    const QRectF ink = metrics.tightBoundingRect(item.text()).translated(p);
    out_.texts.push_back({item.text(), painter()->deviceTransform().mapRect(ink).toAlignedRect()});
  }
  void drawRects(const QRect* rects, int count) override {
    for (int i = 0; i < count; ++i) {
      const QRectF r(rects[i]);
      drawRects(&r, 1);
    }
  }
  void drawRects(const QRectF* rects, int count) override {
    const QPen pen = painter()->pen();
    if (pen.style() == Qt::NoPen) return;  // a fill
    // The pixels an outline of `pen` covers: from x to x + width for one
    // pixel, spread about that line for wider pens.
    const int width = std::max(1, qRound(pen.widthF()));
    for (int i = 0; i < count; ++i) {
      const QRectF r = painter()->deviceTransform().mapRect(rects[i]);
      const QRect outer = QRectF(r.left() - (width - 1) / 2.0, r.top() - (width - 1) / 2.0, r.width() + width,
                                 r.height() + width)
                              .toRect();
      out_.frames.push_back(QRegion(outer) - QRegion(outer.adjusted(width, width, -width, -width)));
    }
  }

 private:
  Painted& out_;
};

class TRecorder : public QPaintDevice {
 public:
  TRecorder(QSize size, const QWidget* like)
      : size_(size), dpiX_(like->logicalDpiX()), dpiY_(like->logicalDpiY()), engine_(painted) {}
  QPaintEngine* paintEngine() const override { return &engine_; }
  Painted painted;

 protected:
  int metric(PaintDeviceMetric m) const override {
    switch (m) {
      case PdmWidth: return size_.width();
      case PdmHeight: return size_.height();
      case PdmDpiX: case PdmPhysicalDpiX: return dpiX_;
      case PdmDpiY: case PdmPhysicalDpiY: return dpiY_;
      case PdmDevicePixelRatio: return 1;
      case PdmDevicePixelRatioScaled: return int(QPaintDevice::devicePixelRatioFScale());
      case PdmDepth: return 32;
      case PdmNumColors: return INT_MAX;
      case PdmWidthMM: return size_.width() * 254 / (10 * dpiX_);
      case PdmHeightMM: return size_.height() * 254 / (10 * dpiY_);
      default: return 0;
    }
  }

 private:
  QSize size_;
  int dpiX_, dpiY_;
  mutable TRecordingEngine engine_;
};

// A control of a class of this program's own (a plot, a paint box): what it
// paints is no style's, so its texts are checked as it paints them.
bool OwnPainting(const QWidget* w) {
  // A scroll area's viewport is painted by its view.
  if (qobject_cast<const QAbstractScrollArea*>(w->parentWidget())) return false;
  return w->metaObject() == &QWidget::staticMetaObject || w->metaObject()->className()[0] != 'Q';
}

struct Checker {
  const QWidget* window;
  std::vector<TextFault> faults;

  void Add(const QWidget* w, const QString& text, const std::string& why) {
    faults.push_back({Path(w, window), S(text), why});
  }

  // Whether `a` is a scroll area's viewport: what lies outside it scrolls.
  static bool IsViewport(const QWidget* a) {
    auto* area = a->parentWidget() ? qobject_cast<const QAbstractScrollArea*>(a->parentWidget()) : nullptr;
    return area && area->viewport() == a;
  }

  void Fit(const QWidget* w) {
    auto t = TextOf(w);
    if (!t) return;
    if (!t->room.contains(t->drawn)) {
      Add(w, t->text, "needs " + Size(t->drawn.size()) + ", has " + Size(t->room.size()));
      return;
    }
    // Seen only where every ancestor shows it.
    QRect drawn(w->mapTo(window, t->drawn.topLeft()), t->drawn.size());
    for (const QWidget* a = w->parentWidget(); a && !IsViewport(a); a = a->parentWidget()) {
      const QRect area(a->mapTo(window, QPoint(0, 0)), a->size());
      // Wholly beyond the window's edge is a part the window keeps out of
      // sight by its size (a collapsed panel); anything else cut is lost.
      if (a == window && !area.intersects(drawn)) return;
      if (!area.contains(drawn)) {
        Add(w, t->text, "cut by " + Path(a, window) + " (" + Place(drawn) + " in " + Place(area) + ")");
        return;
      }
      if (a == window) break;
    }
    // Clear of the frame of every group it is in.
    for (const QWidget* a = w->parentWidget(); a && a != window; a = a->parentWidget()) {
      auto* box = qobject_cast<const QGroupBox*>(a);
      if (!box) continue;
      const QRegion frame = GroupFrame(box).translated(a->mapTo(window, QPoint(0, 0)));
      if (frame.intersects(drawn))
        Add(w, t->text, "crosses the frame of " + Path(a, window));
      else if (Grown(frame).intersects(drawn))
        Add(w, t->text, "touches the frame of " + Path(a, window));
    }
  }

  // Painted texts of `w` (in a box of `size`): inside the box, clear of the
  // frames painted with them and of each other.
  void PaintedTexts(const QWidget* w, QSize size, const Painted& painted) {
    const QRect box(QPoint(0, 0), size);
    for (size_t i = 0; i < painted.texts.size(); ++i) {
      const Painted::Text& t = painted.texts[i];
      if (!box.contains(t.ink)) {
        Add(w, t.text, "painted outside its box (" + Place(t.ink) + " in " + Size(size) + ")");
        continue;
      }
      for (const QRegion& frame : painted.frames) {
        if (frame.intersects(t.ink))
          Add(w, t.text, "painted across a frame (" + Place(frame.boundingRect()) + ")");
        else if (Grown(frame).intersects(t.ink))
          Add(w, t.text, "painted touching a frame (" + Place(frame.boundingRect()) + ")");
      }
      for (size_t j = i + 1; j < painted.texts.size(); ++j)
        if (Grown(QRegion(t.ink)).intersects(painted.texts[j].ink))
          Add(w, t.text, "painted over or against \"" + S(painted.texts[j].text) + "\"");
    }
  }

  // The texts a control of its own paints as it paints them.
  void OwnTexts(QWidget* w) {
    if (!OwnPainting(w)) return;
    TRecorder recorder(w->size(), w);
    w->render(&recorder, QPoint(), QRegion(), {});
    PaintedTexts(w, w->size(), recorder.painted);
  }

  void Grid(const QTableView* view) {
    const QAbstractItemModel* model = view->model();
    if (!model) return;
    const QModelIndex root = view->rootIndex();
    if (const QHeaderView* header = view->horizontalHeader(); header && header->isVisible()) {
      for (int l = 0; l < header->count(); ++l) {
        if (header->isSectionHidden(l)) continue;
        const QString text = model->headerData(l, Qt::Horizontal, Qt::DisplayRole).toString();
        if (text.isEmpty()) continue;
        QFont font = header->font();
        const QVariant role = model->headerData(l, Qt::Horizontal, Qt::FontRole);
        if (role.canConvert<QFont>()) font = qvariant_cast<QFont>(role);
        // A fully selected column's title is drawn bold.
        if (header->highlightSections() && view->selectionModel() && model->rowCount(root) > 0 &&
            view->selectionModel()->isColumnSelected(l, root))
          font.setBold(true);
        QStyleOptionHeader option;
        option.initFrom(header);
        option.rect = QRect(header->sectionViewportPosition(l), 0, header->sectionSize(l), header->height());
        option.section = l;
        option.text = text;
        option.textAlignment = header->defaultAlignment();
        const QRect room = header->style()->subElementRect(QStyle::SE_HeaderLabel, &option, header);
        const QSize need = QFontMetrics(font).size(0, text);
        if (need.width() > room.width() || need.height() > room.height())
          Add(header, text,
              "column " + std::to_string(l) + " title needs " + Size(need) + ", has " + Size(room.size()));
      }
    }
    for (int r = 0; r < model->rowCount(root); ++r) {
      if (view->isRowHidden(r)) continue;
      for (int c = 0; c < model->columnCount(root); ++c) {
        if (view->isColumnHidden(c)) continue;
        const QModelIndex index = model->index(r, c, root);
        if (view->indexWidget(index)) continue;
        const QString text = index.data(Qt::DisplayRole).toString();
        if (text.isEmpty()) continue;
        QFont font = view->font();
        const QVariant role = index.data(Qt::FontRole);
        if (role.canConvert<QFont>()) font = qvariant_cast<QFont>(role);
        const QRect cell = view->visualRect(index);
        // The width as the cell's delegate lays the text out (margins
        // included), the height of a line of its font.
        QStyleOptionViewItem option;
        option.initFrom(view);
        option.widget = view;
        option.font = view->font();
        option.fontMetrics = QFontMetrics(option.font);
        option.rect = cell;
        option.displayAlignment = Qt::AlignLeft | Qt::AlignVCenter;
        const QSize need(view->itemDelegateForIndex(index)->sizeHint(option, index).width(),
                         QFontMetrics(font).height());
        if (need.width() > cell.width() || need.height() > cell.height())
          Add(view, text,
              "cell " + std::to_string(r) + "," + std::to_string(c) + " needs " + Size(need) + ", has " +
                  Size(cell.size()));
      }
    }
  }

  // Texts (of the children or deeper) over texts of a sibling, and texts
  // under (or over) what a sibling paints.
  void Siblings(const QWidget* parent) {
    const std::vector<QWidget*> children = ShownChildren(parent);
    std::vector<std::vector<SeenText>> texts(children.size());
    std::vector<QRegion> bodies;
    for (size_t i = 0; i < children.size(); ++i) {
      Texts(children[i], texts[i]);
      bodies.push_back(Body(children[i]));
    }
    for (size_t i = 0; i < children.size(); ++i) {
      for (const SeenText& t : texts[i]) {
        for (size_t j = 0; j < children.size(); ++j) {
          if (j == i) continue;
          if (j > i)
            for (const SeenText& u : texts[j]) {
              if (t.region.intersects(u.region))
                Add(t.control, t.text, "overlaps the text of " + Path(u.control, window));
              else if (Grown(t.region).intersects(u.region))
                Add(t.control, t.text, "touches the text of " + Path(u.control, window));
            }
          if (t.region.intersects(bodies[j]))
            Add(t.control, t.text, std::string(j > i ? "under " : "over ") + Path(children[j], window));
          else if (Grown(t.region).intersects(bodies[j]))
            Add(t.control, t.text, "touches " + Path(children[j], window));
        }
      }
    }
  }

  // A control's rectangle in the window's coordinates.
  QRect InWindow(const QWidget* w) const { return QRect(w->mapTo(window, QPoint(0, 0)), w->size()); }

  // The part of a control its ancestors let be seen, in the window's
  // coordinates (a part out of its parent is clipped, not over anything).
  QRect Seen(const QWidget* w) const {
    QRect seen = InWindow(w);
    for (const QWidget* a = w->parentWidget(); a && a != window; a = a->parentWidget()) seen &= InWindow(a);
    return seen;
  }

  static void Subtree(QWidget* w, std::vector<QWidget*>& out) {
    out.push_back(w);
    for (QWidget* c : ShownChildren(w)) Subtree(c, out);
  }

  // A control inside a group lies wholly inside the group's frame.
  void InOwnGroup(const QWidget* w) {
    if (BareContainer(w)) return;
    for (const QWidget* a = w->parentWidget(); a && a != window; a = a->parentWidget()) {
      auto* box = qobject_cast<const QGroupBox*>(a);
      if (!box) continue;
      const QStyleOptionGroupBox option = GroupOption(box);
      const QRect frame =
          box->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxFrame, box);
      const QRect inside(a->mapTo(window, frame.topLeft() + QPoint(2, 2)), frame.size() - QSize(4, 4));
      if (!inside.contains(InWindow(w))) {
        const auto t = TextOf(w);
        Add(w, t ? t->text : QString(), "lies partly out of its group " + Path(a, window));
      }
      return;
    }
  }

  // No control lies over a group that it is not in: a control of one
  // child of `parent` (or deeper) over a group of another.
  void OverGroups(const QWidget* parent) {
    const std::vector<QWidget*> children = ShownChildren(parent);
    std::vector<std::vector<QWidget*>> trees(children.size());
    for (size_t i = 0; i < children.size(); ++i) Subtree(children[i], trees[i]);
    for (size_t j = 0; j < children.size(); ++j) {
      for (const QWidget* g : trees[j]) {
        if (!qobject_cast<const QGroupBox*>(g)) continue;
        const QRect group = InWindow(g);
        for (size_t i = 0; i < children.size(); ++i) {
          if (i == j) continue;
          for (const QWidget* c : trees[i]) {
            // Two groups over each other are one fault.
            if (BareContainer(c) || (qobject_cast<const QGroupBox*>(c) && i > j)) continue;
            if (!Seen(c).intersects(group)) continue;
            const auto t = TextOf(c);
            Add(c, t ? t->text : QString(), "lies over the group " + Path(g, window));
          }
        }
      }
    }
  }

  void Walk(QWidget* w) {
    if (auto* tabs = qobject_cast<QTabWidget*>(w)) {
      // Every page of the tabs, each while it is the current one.
      const int current = tabs->currentIndex();
      for (int i = 0; i < tabs->count(); ++i) {
        tabs->setCurrentIndex(i);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        Walk(tabs->widget(i));
      }
      tabs->setCurrentIndex(current);
      return;
    }
    for (QWidget* c : ShownChildren(w)) {
      Fit(c);
      InOwnGroup(c);
      OwnTexts(c);
      if (auto* view = qobject_cast<QTableView*>(c)) Grid(view);
      Walk(c);
    }
    Siblings(w);
    OverGroups(w);
  }
};

// The amplifiers of a page, those inside groups too.
void CollectAmplifiers(TGUIObject* object, std::vector<TAmplifier*>& out) {
  if (auto* amplifier = dynamic_cast<TAmplifier*>(object)) out.push_back(amplifier);
  if (auto* group = dynamic_cast<TGUIGroup*>(object))
    for (unsigned i = 0; i < group->GetChildCount(); ++i) CollectAmplifiers(group->GetChild(i), out);
}

// The text objects of a page, those inside groups too.
void CollectTexts(TGUIObject* object, std::vector<TGUIText*>& texts) {
  if (auto* text = dynamic_cast<TGUIText*>(object)) texts.push_back(text);
  if (auto* group = dynamic_cast<TGUIGroup*>(object))
    for (unsigned i = 0; i < group->GetChildCount(); ++i) CollectTexts(group->GetChild(i), texts);
}

// The placed block of a text object, as it lays out its lines.
QRectF TextBlock(const TGUIText* text) {
  const QFontMetricsF metrics(DiagramFont(text->GetPlacedFontSize()));
  const TPointF at = text->GetPlacedPosition();
  const float half = float(metrics.height()) / 2;
  float y = float(int(at.y));
  float top = y - half, bottom = y + half, width = 0;
  for (int i = 0; i < text->GetLineCount(); ++i) {
    width = std::max(width, float(metrics.horizontalAdvance(QString::fromStdString(text->GetLine(i)))));
    top = std::min(top, y - half);
    bottom = std::max(bottom, y + half);
    if (i + 1 < text->GetLineCount()) y = float(int(y + float(text->GetLineOffset(i + 1)) * text->GetScale()));
  }
  return QRectF(at.x - width / 2, top, width, bottom - top);
}

std::string TextOfObject(const TGUIText* text) {
  std::string all;
  for (int i = 0; i < text->GetLineCount(); ++i) all += (i ? " " : "") + text->GetLine(i);
  return all;
}

bool Differs(QRgb a, QRgb b) {
  return std::abs(qRed(a) - qRed(b)) > 8 || std::abs(qGreen(a) - qGreen(b)) > 8 || std::abs(qBlue(a) - qBlue(b)) > 8;
}

}  // namespace

std::vector<TextFault> TextFaults(QWidget* window) {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
  Checker checker{window, {}};
  checker.Walk(window);
  return checker.faults;
}

std::vector<TextFault> PaintedTextFaults(const QWidget* control, QSize size,
                                         const std::function<void(QPaintDevice&)>& paint) {
  TRecorder recorder(size, control);
  paint(recorder);
  Checker checker{control->window(), {}};
  checker.PaintedTexts(control, size, recorder.painted);
  return checker.faults;
}

std::vector<TextFault> PageTextFaults(TDiagramForm* form) {
  QWidget* paintBox = form->BlockDiagramPaintBox;
  Checker checker{form, {}};
  checker.Walk(paintBox);
  TBlockDiagram* page = form->CurrentPage();
  if (!page || !form->Foreground()) return checker.faults;

  std::vector<TGUIText*> texts;
  for (unsigned i = 0; i < page->ObjectCount(); ++i) CollectTexts(page->Object(i), texts);
  form->Redraw();
  const QImage full = form->Foreground()->Image().convertToFormat(QImage::Format_RGB32);
  const QRect bitmap = full.rect();
  // The controls on the page, in bitmap coordinates (the paint box shows
  // the bitmap at its origin).
  std::vector<std::pair<QWidget*, QRegion>> controls;
  for (QWidget* c : ShownChildren(paintBox)) {
    if (!BareContainer(c)) {
      controls.emplace_back(c, Occupied(c));
      continue;
    }
    // The page's control layer: its controls, each on its own.
    for (QWidget* control : ShownChildren(c)) controls.emplace_back(control, Occupied(control).translated(c->pos()));
  }

  for (TGUIText* text : texts) {
    if (!text->IsVisible()) continue;
    const std::string what = TextOfObject(text);
    const QRectF block = TextBlock(text);
    if (!QRectF(bitmap).contains(block)) {
      checker.faults.push_back({"page text", what, "lies outside the page bitmap"});
      continue;
    }
    // Its ink: the text alone on white, where it is dark.
    TCanvas alone;
    alone.SetSize(full.width(), full.height(), 0xFFFFFF);
    {
      TCanvasLock lock(alone);
      text->Draw(&alone);
    }
    const QImage ink = alone.Image().convertToFormat(QImage::Format_RGB32);
    text->SetVisible(false);
    form->Redraw();
    const QImage without = form->Foreground()->Image().convertToFormat(QImage::Format_RGB32);
    text->SetVisible(true);

    int inkCount = 0, unseen = 0;
    std::vector<int> underControl(controls.size(), 0);
    const QRect box = block.toAlignedRect() & bitmap;
    for (int y = box.top(); y <= box.bottom(); ++y) {
      for (int x = box.left(); x <= box.right(); ++x) {
        if (qGray(ink.pixel(x, y)) > 0x90) continue;
        ++inkCount;
        if (!Differs(full.pixel(x, y), without.pixel(x, y))) ++unseen;
        for (size_t c = 0; c < controls.size(); ++c)
          if (controls[c].second.contains(QPoint(x, y))) ++underControl[c];
      }
    }
    // A line may cross a label; a text is lost when much of it is.
    if (inkCount > 0 && unseen * 10 > inkCount)
      checker.faults.push_back(
          {"page text", what, "painted over: " + std::to_string(unseen * 100 / inkCount) + "% of it is not seen"});
    for (size_t c = 0; c < controls.size(); ++c)
      if (underControl[c] > 0) checker.faults.push_back({"page text", what, "under " + Path(controls[c].first, form)});
  }
  form->Redraw();
  return checker.faults;
}

std::vector<TextFault> WidestEditFaults(TDiagramForm* form) {
  Checker checker{form, {}};
  TBlockDiagram* page = form->CurrentPage();
  if (!page) return checker.faults;
  std::vector<TAmplifier*> amplifiers;
  for (unsigned i = 0; i < page->ObjectCount(); ++i) CollectAmplifiers(page->Object(i), amplifiers);
  for (TAmplifier* amplifier : amplifiers) {
    if (!amplifier->HasControls() || !amplifier->GetEdit()->isVisible()) continue;
    QLineEdit* edit = amplifier->GetEdit();
    const QFontMetricsF metrics(edit->font());
    // Every gain the field can show, as the edit shows it; the widest kept.
    const float shown = amplifier->GetGain();
    float widest = shown;
    qreal width = -1;
    for (int code = 0; code < 256; ++code) {
      const float gain = amplifier->CodeToGain(code);
      if (!(gain >= amplifier->GetMin() && gain <= amplifier->GetMax())) continue;
      amplifier->SetGain(gain, false);
      if (const qreal w = metrics.horizontalAdvance(edit->text()); w > width) {
        width = w;
        widest = gain;
      }
    }
    amplifier->SetGain(widest, false);
    checker.Fit(edit);
    amplifier->SetGain(shown, false);
  }
  return checker.faults;
}

std::string Describe(const std::vector<TextFault>& faults) {
  std::ostringstream out;
  for (const TextFault& f : faults) out << "\n  " << f.where << " \"" << f.text << "\": " << f.why;
  return out.str();
}

}  // namespace hosttest
