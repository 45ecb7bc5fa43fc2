// The board window's view: the zoom and the bitmaps, the passes that
// notify register windows and draw once what changed, object events, and
// the paint box's paint and pointer (hover, panning, clicks).
#include "host/diagram_form.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/canvas.h"
#include "common/page_drawing.h"
#include "diagram/block_diagram.h"
#include "diagram/register_binding.h"

#include "host/diagram_form_internal.h"
#include "host/diagram_paint_box.h"
#include "host/window_util.h"

namespace {

// The register a window is told about when `count` registers from `first`
// changed: the first of them it holds, so that every window on a written or
// read block follows it; `first` when it holds none (windows that follow a
// whole page or a stream look at the device and page only).
unsigned NotifiedRegister(const TI2CObject& window, int device, int page, int first, int count) {
  if (count <= 1 || window.GetDevice() != device || window.GetPage() != page) return unsigned(first);
  const int64_t from = std::max<int64_t>(first, window.GetFirstRegister());
  const int64_t to = std::min<int64_t>(int64_t(first) + count, int64_t(window.GetFirstRegister()) + window.GetCount());
  return from < to ? unsigned(from) : unsigned(first);
}

}  // namespace

void TDiagramForm::ObjectEvent(void* form, TGUIObject* object, int event) {
  auto* self = static_cast<TDiagramForm*>(form);
  switch (event) {
    case kEventHoverEnded:
      if (self->hoverCount > 0) --self->hoverCount;
      if (self->hoverCount == 0) self->SetStatus(3, QString());
      self->DrawForeground();
      self->RepaintDiagram();
      break;
    case kEventLit:
    case kEventStateChanged:
      self->redrawPending = true;
      if (self->drawing) self->drawing->NoteChange(object);
      if (self->drawingEnabled) {
        // An inert object is drawn into the background only.
        if (object && object->GetMode() == 0) self->Redraw();
        else self->DrawForeground();
        self->RepaintDiagram();
      }
      break;
    case kEventEntered: {
      // The hint goes to status panel 3 only: the paint box shows no tooltip.
      self->SetStatus(3, object ? Q(object->GetHintText()) : QString());
      ++self->hoverCount;
      break;
    }
    default:
      break;
  }
}

void TDiagramForm::NotifyRegisterObjects(int device, int book, int page, int reg, int count) {
  if (book == 0 && currentPage) {
    const bool outer = HoldDrawing();
    for (unsigned i = 0; i < currentPage->RegisterWindowCount(); ++i)
      if (TI2CObject* window = currentPage->RegisterWindow(i))
        window->OnRegisterChanged(device, page, NotifiedRegister(*window, device, page, reg, count));
    ReleaseDrawing(outer);
  }
  RefreshInspector();
}

bool TDiagramForm::HoldDrawing() {
  const bool outer = drawingEnabled;
  drawingEnabled = false;
  // Inside a pass that holds drawing already the flag is that pass's.
  if (outer) {
    redrawPending = false;
    if (drawing) drawing->BeginPass();
  }
  return outer;
}

void TDiagramForm::ReleaseDrawing(bool outer) {
  if (!outer) return;
  drawingEnabled = true;
  if (drawing && drawing->EndPass(false)) RepaintDiagram();
}

void TDiagramForm::UpdateObjects(int device, int page, int reg, bool all, int count) {
  if (!currentPage) return;
  const bool outer = HoldDrawing();
  for (unsigned i = 0; i < currentPage->RegisterWindowCount(); ++i) {
    TI2CObject* window = currentPage->RegisterWindow(i);
    if (!window) continue;
    uint8_t* image = RegisterWindowImage(*window, *link);
    if (!image) continue;
    window->SetData(image);
    if (all)
      window->OnRegisterChanged(window->GetDevice(), window->GetPage(), unsigned(window->GetFirstRegister()));
    else
      window->OnRegisterChanged(device, page, NotifiedRegister(*window, device, page, reg, count));
  }
  ReleaseDrawing(outer);
}

void TDiagramForm::ZoomBoxChange() {
  const std::string text = S(ZoomBox->currentText());
  const int percent = std::atoi(text.substr(0, text.find('%')).c_str());
  if (!currentPage) return;
  const int width = currentPage->GetWidth();
  zoom = float(percent * 0.01 * currentPage->GetZoomFactor() * 1536 / unsigned(width));
  const int bitmapWidth = int(width * zoom);
  const int bitmapHeight = int(currentPage->GetHeight() * zoom);
  bitmapSize = QSize(bitmapWidth, bitmapHeight);
  bitmapsWanted = true;
  const bool outer = !placing;
  placing = true;
  BlockDiagramPaintBox->resize(std::max(bitmapWidth, 0), std::max(bitmapHeight, 0));
  BlockDiagramScrollBox->horizontalScrollBar()->setValue(0);
  BlockDiagramScrollBox->verticalScrollBar()->setValue(0);
  currentPage->SetZoom(zoom, 0, 0);
  if (outer) placing = false;
  // Until the window first draws, its bitmaps wait: the first show passes
  // through the design zoom (200 %) to its own, and bitmaps of that size
  // would be filled only to be thrown away.
  if (foreground || drawingEnabled) SizeBitmaps();
  Redraw();
  RepaintDiagram();
  // What now lies under a still pointer is hovered, what left it is not.
  if (outer) FollowPointer();
}

void TDiagramForm::SizeBitmaps() {
  if (!bitmapsWanted) return;
  if (!foreground) foreground = std::make_unique<TCanvas>(BlockDiagramPaintBox);
  if (!background) background = std::make_unique<TCanvas>();
  // The drawing draws the background's pixels when it needs them, and
  // every pixel of the foreground before it is shown, unless drawing is
  // held. The background first, so that memory it lets go of is free
  // before the foreground asks for more.
  background->Resize(bitmapSize.width(), bitmapSize.height());
  if (drawingEnabled) foreground->Resize(bitmapSize.width(), bitmapSize.height());
  else foreground->SetSize(bitmapSize.width(), bitmapSize.height(), kDiagramColour);
  if (!drawing) drawing = std::make_unique<TPageDrawing>();
  drawing->SetCanvases(foreground.get(), background.get(), kDiagramColour);
  if (currentPage) drawing->SetObjects(currentPage->Objects(), currentPage->ObjectCount());
}

void TDiagramForm::Redraw() {
  if (!drawingEnabled) {
    // The pass that holds drawing back redraws; a whole page was asked for.
    redrawPending = true;
    if (drawing && drawing->InPass()) drawing->Redraw();
    return;
  }
  if (!background || !currentPage || !drawing) return;
  drawing->Redraw();
}

void TDiagramForm::DrawBackground() {
  if (background && foreground && currentPage && drawing) drawing->DrawBackground();
}

void TDiagramForm::DrawForeground() {
  if (background && foreground && currentPage && drawing) drawing->DrawForeground();
}

void TDiagramForm::RepaintDiagram() { BlockDiagramPaintBox->update(); }

void TDiagramForm::BlockDiagramPaintBoxPaint(QPainter& painter) {
  if (foreground) painter.drawImage(0, 0, foreground->Image());
}

void TDiagramForm::BlockDiagramPaintBoxMouseDown(int x, int y) {
  panning = true;
  panAnchor = QPoint(x, y);
}

void TDiagramForm::BlockDiagramPaintBoxMouseUp(int, int) {
  panning = false;
  BlockDiagramPaintBox->unsetCursor();
  // The hover waited while the button was held: a pan against the page's
  // edge leaves the pointer elsewhere on the page, a click may switch it.
  FollowPointer();
}

void TDiagramForm::BlockDiagramPaintBoxMouseMove(int x, int y) {
  pointerX = x;
  pointerY = y;
  if (panning) {
    BlockDiagramPaintBox->setCursor(Qt::OpenHandCursor);
    QScrollBar* horizontal = BlockDiagramScrollBox->horizontalScrollBar();
    QScrollBar* vertical = BlockDiagramScrollBox->verticalScrollBar();
    horizontal->setValue(horizontal->value() + panAnchor.x() - x);
    vertical->setValue(vertical->value() + panAnchor.y() - y);
    return;
  }
  BlockDiagramPaintBox->unsetCursor();
  if (!ActiveObjects->isChecked() || !currentPage) return;
  for (unsigned i = 0; i < currentPage->ObjectCount(); ++i)
    if (TGUIObject* object = currentPage->Object(i)) object->MouseMove(x, y);
}

void TDiagramForm::BlockDiagramPaintBoxMouseLeave() {
  // A window that is closing is taking its pages down.
  if (closing_.load() || !currentPage) return;
  for (unsigned i = 0; i < currentPage->ObjectCount(); ++i)
    if (TGUIObject* object = currentPage->Object(i)) object->PointerLeft();
}

void TDiagramForm::FollowPointer() {
  if (panning || placing || closing_.load() || !BlockDiagramPaintBox->isVisible()) return;
  static_cast<DiagramPaintBox*>(BlockDiagramPaintBox)->FollowPointer();
}

void TDiagramForm::BlockDiagramPaintBoxClick() {
  TBlockDiagram* page = currentPage;
  // Drawing waits until the click is done: a widget's write reaches the
  // link first, and what changed is drawn once however many objects did.
  const bool outer = HoldDrawing();
  redrawPending = false;
  for (unsigned i = 0; page && i < page->ObjectCount(); ++i) {
    TGUIObject* object = page->Object(i);
    if (!object || !object->Click(pointerX, pointerY)) continue;
    ObjectClicked(object);
    page->ShowPluginDialog(object);
    // A click that switched the page is not offered to the new page's objects.
    if (currentPage != page) break;
  }
  ReleaseDrawing(outer);
}

void TDiagramForm::ActiveObjectsClick() {
  if (!currentPage) return;
  const bool active = ActiveObjects->isChecked();
  for (unsigned i = 0; i < currentPage->ObjectCount(); ++i)
    if (TGUIObject* object = currentPage->Object(i)) object->SetActiveObjects(active);
}
