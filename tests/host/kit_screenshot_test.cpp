// A screenshot of every page of every board of the kit's board list, in the
// board window, at every zoom the zoom box offers: the widgets that draw an
// image of their own (the streaming readouts and the touch block) draw it
// inside their rectangles, so every object under and beside them is seen as
// it would be without them, and no control sits over them; no real control
// covers anything the diagram draws but its own widget's rectangle.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QImage>
#include <QWidget>
#include <QRect>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "common/canvas.h"
#include "diagram/streaming_widget.h"
#include "tests/host/diagram_pages_fixture.h"
#include "tests/host/kit_controls.h"

using namespace hosttest;

namespace {

void CollectStreaming(TGUIObject* object, std::vector<TStreamingShape*>& out) {
  if (auto* widget = dynamic_cast<TStreamingShape*>(object)) out.push_back(widget);
  if (auto* group = dynamic_cast<TGUIGroup*>(object))
    for (unsigned i = 0; i < group->GetChildCount(); ++i) CollectStreaming(group->GetChild(i), out);
}

std::vector<TStreamingShape*> StreamingWidgets(TBlockDiagram* page) {
  std::vector<TStreamingShape*> out;
  for (unsigned i = 0; i < page->ObjectCount(); ++i) CollectStreaming(page->Object(i), out);
  return out;
}

// The widget's rectangle with room for its outline (drawn one pixel past
// its corner, with the highlight's width).
QRect Outline(const TGUIObject* widget) {
  const TPointF a = widget->GetPlacedPoint(0), b = widget->GetPlacedPoint(1);
  return QRect(QPoint(int(a.x), int(a.y)), QPoint(int(b.x), int(b.y))).normalized().adjusted(-4, -4, 5, 5);
}

class KitScreenshotTest : public DiagramPagesTest {
 protected:
  // What the paint box shows of the current page.
  static QImage Screenshot(TDiagramForm* form) {
    form->Redraw();
    return form->Foreground()->Image().copy();
  }

  // Compares the page with and without its streaming widgets; a failure names the page.
  static void CheckPage(TDiagramForm* form, const std::string& name) {
    TBlockDiagram* page = form->CurrentPage();
    ASSERT_NE(page, nullptr) << name;
    const std::vector<TStreamingShape*> widgets = StreamingWidgets(page);
    const QImage with = Screenshot(form);
    for (TStreamingShape* widget : widgets) widget->SetVisible(false);
    const QImage without = Screenshot(form);
    for (TStreamingShape* widget : widgets) widget->SetVisible(true);
    ASSERT_EQ(with.size(), without.size()) << name;

    std::vector<QRect> outlines;
    for (TStreamingShape* widget : widgets) outlines.push_back(Outline(widget));
    auto inside = [&](int x, int y) {
      for (const QRect& r : outlines)
        if (r.contains(x, y)) return true;
      return false;
    };
    // Outside the widgets, the page is what it is without them.
    int changed = 0;
    QPoint first(-1, -1);
    for (int y = 0; y < with.height(); ++y)
      for (int x = 0; x < with.width(); ++x)
        if (!inside(x, y) && with.pixel(x, y) != without.pixel(x, y)) {
          if (!changed) first = QPoint(x, y);
          ++changed;
        }
    EXPECT_EQ(changed, 0) << name << ": first at " << first.x() << "," << first.y();
    // And each widget is drawn in its place: its image covers what lies under it.
    for (TStreamingShape* widget : widgets) {
      const QRect r = Outline(widget).adjusted(6, 6, -6, -6);
      int drawn = 0;
      for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x) drawn += with.pixel(x, y) != without.pixel(x, y);
      EXPECT_GT(drawn, r.width() * r.height() / 2) << name << ": " << widget->GetFunctionName();
    }
    // No control of the page's widgets covers one of them: on screen, with
    // the controls, each rectangle shows what the diagram drew there.
    form->Redraw();
    const QImage screen = form->BlockDiagramPaintBox->grab().toImage().convertToFormat(with.format());
    ASSERT_EQ(screen.size(), with.size()) << name;
    EXPECT_TRUE(screen.save(QString::fromStdString(std::string(HOST_TEST_OUTPUT_DIR "/kit-") + name + ".png")));
    for (TStreamingShape* widget : widgets) {
      const TPointF a = widget->GetPlacedPoint(0), b = widget->GetPlacedPoint(1);
      const QRect r = QRect(QPoint(int(a.x), int(a.y)), QPoint(int(b.x), int(b.y))).normalized();
      int covered = 0;
      for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x) covered += screen.pixel(x, y) != with.pixel(x, y);
      EXPECT_EQ(covered, 0) << name << ": " << widget->GetFunctionName();
    }
    CheckControls(form, name);
  }

  // Under each control shown the diagram is of one colour: the control
  // covers nothing. A control on its widget's rectangle is looked at with
  // the widget left out (its own outline lies under it); one beside its
  // widget covers nothing of that widget either.
  static void CheckControls(TDiagramForm* form, const std::string& name) {
    QWidget* box = form->BlockDiagramPaintBox;
    const QImage page = Screenshot(form);
    for (const PageControl& c : PageControls(form->CurrentPage())) {
      if (!c.control->isVisible()) continue;
      QImage under = page;
      if (c.onRectangle) {
        c.widget->TGUIObject::SetVisible(false);
        under = Screenshot(form);
        c.widget->TGUIObject::SetVisible(true);
      }
      const QRect at = QRect(c.control->mapTo(box, QPoint(0, 0)), c.control->size()) & under.rect();
      if (at.isEmpty()) continue;  // off the page: the page controls test says so
      const QRgb plain = under.pixel(at.topLeft());
      int covered = 0;
      QPoint first;
      for (int y = at.top(); y <= at.bottom(); ++y)
        for (int x = at.left(); x <= at.right(); ++x)
          if (under.pixel(x, y) != plain && !covered++) first = QPoint(x, y);
      EXPECT_EQ(covered, 0) << name << ": " << c.name << " covers the diagram from " << first.x() << ","
                            << first.y();
    }
    Screenshot(form);
  }
};

TEST_F(KitScreenshotTest, EveryPageShowsTheObjectsBesideItsImageWidgets) {
  LoadList("");
  int streamingPages = 0;
  for (pugi::xml_node board : list_.document_element().children()) {
    TDiagramForm* form = OpenBoardWindow(&area_, board, false);
    ASSERT_NE(form, nullptr) << board.name();
    // Every page, and the clock page last (it is reached through "DConf").
    for (int i = 0; i <= form->PageCount(); ++i) {
      if (i < form->PageCount()) form->SelectDiagram(i);
      else if (form->ClockPage()) form->ShowClockPage();
      else break;
      const std::string name = std::string(board.name()) + "-" +
                               (i < form->PageCount() ? "page" + std::to_string(i + 1) : std::string("clock"));
      // At every zoom the box offers.
      ASSERT_EQ(form->ZoomBox->count(), 7);
      for (int z = 0; z < form->ZoomBox->count(); ++z) {
        form->ZoomBox->setCurrentIndex(z);
        CheckPage(form, name + "-" + form->ZoomBox->itemText(z).toStdString());
      }
      form->ZoomBox->setCurrentText("100%");
      streamingPages += !StreamingWidgets(form->CurrentPage()).empty();
    }
    delete form;
    PumpEvents();
  }
  // The kit has its live widgets on one page at least.
  EXPECT_GE(streamingPages, 1);
}

}  // namespace
