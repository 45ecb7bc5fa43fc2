#include "common/image_hint.h"

#include <QAbstractScrollArea>
#include <QPainter>
#include <QScrollBar>

#include "common/jpeg.h"

TImagePanel::TImagePanel(QWidget* owner, const std::string& fileName) : QFrame(owner) {
  setFrameStyle(QFrame::Box | QFrame::Plain);
  setLineWidth(1);
  picture_ = DecodeJpeg(fileName, &error_);
  if (!picture_.isNull()) {
    resize(picture_.width() + 10, picture_.height() + 10);
  } else {
    const QFontMetrics metrics(font());
    resize(metrics.horizontalAdvance(QString::fromStdString(error_)) + 12, metrics.height() + 10);
  }
}

void TImagePanel::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);
  QPainter painter(this);
  if (!picture_.isNull()) {
    painter.drawImage(2, 2, picture_);
  } else {
    painter.drawText(rect().adjusted(5, 5, -5, -5), Qt::AlignLeft | Qt::AlignVCenter, QString::fromStdString(error_));
  }
}

TGUITextImageHint::TGUITextImageHint(QWidget* ownerWindow, const std::string& file, int yOffset, const float* at,
                                     const std::string& text, int size)
    : TGUIText(at, text, size), fileName(file), owner(ownerWindow), hintYOffset(yOffset) {}

TGUITextImageHint::~TGUITextImageHint() { ClosePanel(); }

void TGUITextImageHint::ClosePanel() {
  delete panel.data();
  panel = nullptr;
}

bool TGUITextImageHint::Click(int x, int y) {
  if (mode == 0 || !ClickTest(x, y)) return false;
  ClosePanel();
  if (!owner) return true;
  QWidget* parent = owner.data();
  int scrollX = 0, scrollY = 0;
  if (auto* area = qobject_cast<QAbstractScrollArea*>(parent)) {
    scrollX = area->horizontalScrollBar()->value();
    scrollY = area->verticalScrollBar()->value();
    parent = area->viewport();
  }
  panel = new TImagePanel(parent, fileName);
  // The file's offset may be any int: the sum is kept in the placed range.
  panel->move(int(ClampCoordinate(width + placedPosition.x - float(scrollX))),
              int(ClampCoordinate(placedPosition.y - float(scrollY) + float(hintYOffset))));
  panel->show();
  return true;
}

void TGUITextImageHint::OnUnhighlighted() { ClosePanel(); }
