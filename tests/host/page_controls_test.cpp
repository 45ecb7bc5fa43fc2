// The real Qt controls of the kit's pages in a board window: each sits on
// its page's control layer and shows and hides with the page, on every page
// of every board of the kit; clicks through the window reach the controls
// of the page shown, the page's objects beside them, and nothing of a
// hidden page.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QRadioButton>
#include <QSlider>
#include <QTest>
#include <QWindow>
#include <algorithm>

#include "diagram/amplifier.h"
#include "diagram/coefficient_slider.h"
#include "tests/host/diagram_pages_fixture.h"
#include "tests/host/kit_controls.h"
#include "tests/host/text_fit.h"

using namespace hosttest;

namespace {

class PageControlsTest : public DiagramPagesTest {
 protected:
  static std::vector<TBlockDiagram*> AllPages(TDiagramForm* form) {
    std::vector<TBlockDiagram*> pages;
    for (int i = 0; i < form->PageCount(); ++i) pages.push_back(form->Page(i));
    if (form->ClockPage()) pages.push_back(form->ClockPage());
    return pages;
  }
  static void Show(TDiagramForm* form, TBlockDiagram* page) {
    if (page == form->ClockPage()) {
      form->ShowClockPage();
    } else {
      for (int i = 0; i < form->PageCount(); ++i)
        if (form->Page(i) == page) form->SelectDiagram(i);
    }
    PumpEvents();
  }
  static std::string Name(const QWidget* w) {
    std::string name = w->metaObject()->className();
    if (!w->objectName().isEmpty()) name += " " + w->objectName().toStdString();
    if (auto* button = qobject_cast<const QAbstractButton*>(w)) name += " \"" + button->text().toStdString() + "\"";
    return name;
  }
  // A click as the user makes it: through the window, which finds the
  // widget under the pointer.
  static void RealClick(QWidget* box, QPoint at) {
    QWidget* top = box->window();
    QWindow* window = top->windowHandle();
    ASSERT_NE(window, nullptr);
    const QPoint inWindow = box->mapTo(top, at);
    QTest::mouseMove(window, inWindow);
    QTest::mouseClick(window, Qt::LeftButton, {}, inWindow);
    PumpEvents();
  }
  template <class Widget>
  static Widget* Find(TBlockDiagram* page) {
    for (unsigned i = 0; i < page->ObjectCount(); ++i)
      if (auto* widget = dynamic_cast<Widget*>(page->Object(i))) return widget;
    return nullptr;
  }
};

}  // namespace

TEST_F(PageControlsTest, NoControlOfAnotherPageIsVisibleOrReachableOnAnyPageOfAnyBoard) {
  LoadList("");
  int boards = 0, checked = 0;
  for (pugi::xml_node board : list_.document_element().children()) {
    ++boards;
    TDiagramForm* form = OpenBoardWindow(&area_, board, false);
    ASSERT_NE(form, nullptr);
    QWidget* box = form->BlockDiagramPaintBox;
    const std::vector<TBlockDiagram*> pages = AllPages(form);
    ASSERT_FALSE(pages.empty()) << board.name();
    // Every page once, so each has built what it builds when first shown.
    for (TBlockDiagram* page : pages) Show(form, page);
    for (TBlockDiagram* page : pages) {
      Show(form, page);
      ASSERT_EQ(form->CurrentPage(), page);
      QWidget* layer = page->ControlLayer();
      ASSERT_NE(layer, nullptr) << page->FileName();
      EXPECT_TRUE(layer->isVisible()) << page->FileName();
      EXPECT_EQ(layer->geometry(), box->rect()) << page->FileName();
      // Nothing sits on the paint box but the pages' layers.
      std::vector<QWidget*> layers;
      for (TBlockDiagram* p : pages) layers.push_back(p->ControlLayer());
      for (QWidget* child : box->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        EXPECT_NE(std::find(layers.begin(), layers.end(), child), layers.end())
            << page->FileName() << ": " << Name(child) << " is on no page's layer";
      for (QWidget* control : box->findChildren<QWidget*>()) {
        if (std::find(layers.begin(), layers.end(), control) != layers.end()) continue;
        const bool own = layer->isAncestorOf(control);
        const std::string what = page->FileName() + " shown: " + Name(control);
        if (own) continue;
        ++checked;
        EXPECT_FALSE(control->isVisible()) << what;
        // What a click at the control's centre would reach.
        const QPoint centre = control->mapTo(box, control->rect().center());
        QWidget* hit = box->childAt(centre);
        EXPECT_FALSE(hit && (hit == control || control->isAncestorOf(hit))) << what;
      }
    }
  }
  EXPECT_EQ(boards, 2);
  EXPECT_GT(checked, 50);  // the kit's pages hold that many controls between them
}

TEST_F(PageControlsTest, ClicksReachThePageShownAndNothingOfAHiddenPage) {
  TDiagramForm* form = Open("QMX7XXXEVM");
  QWidget* box = form->BlockDiagramPaintBox;
  TBlockDiagram* playback = form->Page(0);
  TBlockDiagram* record = form->Page(1);
  // The record page's coefficient slider, then back to the playback page.
  form->SelectDiagram(1);
  PumpEvents();
  auto* slider = Find<TQMX7350Slider>(record);
  ASSERT_NE(slider, nullptr);
  QRadioButton* filterOnly = slider->ModeButton(2);
  ASSERT_TRUE(filterOnly->isVisible());
  const QPoint filterAt = filterOnly->mapTo(box, QPoint(6, filterOnly->height() / 2));
  const QPoint trackAt = slider->TrackBar()->mapTo(box, slider->TrackBar()->rect().center());
  const int track = slider->TrackBar()->value();
  form->SelectDiagram(0);
  PumpEvents();
  ASSERT_EQ(form->CurrentPage(), playback);
  EXPECT_FALSE(filterOnly->isVisible());
  EXPECT_FALSE(slider->TrackBar()->isVisible());
  RealClick(box, filterAt);
  RealClick(box, trackAt);
  EXPECT_FALSE(filterOnly->isChecked());
  EXPECT_EQ(slider->TrackBar()->value(), track);

  // The playback page's own control takes its click ...
  TAmplifier* headphone = nullptr;
  for (unsigned i = 0; i < playback->ObjectCount(); ++i)
    if (playback->Object(i)->GetID() == 1021) headphone = dynamic_cast<TAmplifier*>(playback->Object(i));
  ASSERT_NE(headphone, nullptr);
  QCheckBox* mute = headphone->GetMuteBox();
  ASSERT_TRUE(mute->isVisible());
  RealClick(box, mute->mapTo(box, mute->rect().center()));
  EXPECT_TRUE(mute->isChecked());
  RealClick(box, mute->mapTo(box, mute->rect().center()));
  EXPECT_FALSE(mute->isChecked());
  // ... and a click beside the controls goes through the layer to the page's objects.
  TSwitch* dac = FindSwitch(form, 63, 7);
  ASSERT_NE(dac, nullptr);
  const uint8_t before = dac->GetSwitchState();
  // The pointer moving onto it is seen too: its hint shows.
  QWidget* top = box->window();
  QTest::mouseMove(top->windowHandle(), box->mapTo(top, Centre(dac)));
  PumpEvents();
  EXPECT_EQ(form->StatusText(3).toStdString(), dac->GetHintText());
  Mark();
  RealClick(box, Centre(dac));
  EXPECT_NE(dac->GetSwitchState(), before);
  ASSERT_FALSE(Writes().empty());
  EXPECT_EQ(Writes().back(), WriteHex(63, dac->GetImageByte()));
}

// At every zoom the zoom box offers, every control of the page shown belongs
// to one of its widgets, lies on the paint box, keeps to its widget's
// rectangle where it belongs on it, and no two controls overlap, so that
// each takes the clicks on its own place.
TEST_F(PageControlsTest, AtEveryZoomEachControlKeepsToItsWidgetAndOffTheOthers) {
  LoadList("");
  int checked = 0, onRectangles = 0;
  for (pugi::xml_node board : list_.document_element().children()) {
    TDiagramForm* form = OpenBoardWindow(&area_, board, false);
    ASSERT_NE(form, nullptr);
    QWidget* box = form->BlockDiagramPaintBox;
    ASSERT_EQ(form->ZoomBox->count(), 7);
    for (TBlockDiagram* page : AllPages(form)) {
      Show(form, page);
      const std::vector<PageControl> controls = PageControls(page);
      for (int z = 0; z < form->ZoomBox->count(); ++z) {
        form->ZoomBox->setCurrentIndex(z);
        PumpEvents();
        const std::string where = page->FileName() + " at " + form->ZoomBox->itemText(z).toStdString() + ": ";
        // Nothing is shown on the page that no widget owns.
        for (QWidget* child : page->ControlLayer()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
          if (!child->isVisible()) continue;
          const bool owned = std::any_of(controls.begin(), controls.end(),
                                         [&](const PageControl& c) { return c.control == child; });
          EXPECT_TRUE(owned) << where << Name(child) << " belongs to no widget";
        }
        std::vector<std::pair<QRect, const PageControl*>> shown;
        for (const PageControl& c : controls) {
          if (!c.control->isVisible()) continue;
          const QRect at(c.control->mapTo(box, QPoint(0, 0)), c.control->size());
          ++checked;
          EXPECT_TRUE(box->rect().contains(at)) << where << c.name << " leaves the page";
          if (c.onRectangle) {
            ++onRectangles;
            const QRect allowed = AllowedRectangle(c);
            EXPECT_TRUE(allowed.contains(at)) << where << c.name << " at " << at.x() << "," << at.y() << " "
                                              << at.width() << "x" << at.height() << " leaves its rectangle "
                                              << allowed.x() << "," << allowed.y() << " " << allowed.width() << "x"
                                              << allowed.height();
          }
          for (const auto& [other, o] : shown)
            EXPECT_FALSE(at.intersects(other)) << where << c.name << " overlaps " << o->name;
          shown.emplace_back(at, &c);
        }
        // And each shows its whole text, over none of the page's texts.
        const std::vector<TextFault> faults = TextFaults(page->ControlLayer());
        EXPECT_TRUE(faults.empty()) << where << Describe(faults);
      }
    }
    delete form;
    PumpEvents();
  }
  // Both boards' pages at seven zooms: their amplifiers, boxes, pin
  // selectors and the slider.
  EXPECT_GE(checked, 7 * 30);
  EXPECT_GE(onRectangles, 7 * 5) << onRectangles;
}
