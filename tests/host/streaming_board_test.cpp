// The kit's readouts on the emulated board: hovering the scope streams page
// 255 through SPI command reads, the SAR readout shows the board's changing
// conversions and re-arms them after each pass, a window closes promptly
// while two readouts stream, and every stream ends, with its highlight and
// hint, when its window is minimised or hidden, its page left, or the
// pointer leaves the paint box by any path (with a board or without).
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpontaneKeyEvent>
#include <QWheelEvent>
#include <QEnterEvent>
#include <QApplication>
#include <QTest>
#include <chrono>
#include <cmath>
#include <functional>
#include <map>
#include <set>
#include <tuple>
#include <pugixml.hpp>

#include "diagram/block_diagram.h"
#include "diagram/data_readouts.h"
#include "diagram/sar_data.h"
#include "diagram/touch_screen.h"
#include "host/diagram_form.h"
#include "link/usbi2c.h"
#include "quillbus/quillbus.h"
#include "tests/host/host_support.h"

namespace {

using namespace hosttest;

class StreamingOnBoard : public HostTest {
 protected:
  // An emulated board, or none (a simulated window).
  virtual bool OnBoard() const { return true; }
  void SetUp() override {
    HostTest::SetUp();
    StartSmallWindows();
    area_.resize(1200, 900);
    area_.show();
    UseBoardKit();
    ASSERT_TRUE(list_.load_string("<L><B Diagram-1='QMX7XXX\\Page1.svg' Diagram-2='QMX7XXX\\Page2.svg'/></L>"));
    form_ = OpenBoardWindow(&area_, list_.document_element().child("B"), OnBoard());
    ASSERT_NE(form_.data(), nullptr);
    form_->DisplayPlaybackClick();
    ASSERT_EQ(form_->CurrentPage(), form_->Page(1));
  }

  template <class Widget>
  Widget* Find() {
    TBlockDiagram* page = form_->CurrentPage();
    for (unsigned i = 0; i < page->ObjectCount(); ++i)
      if (auto* widget = dynamic_cast<Widget*>(page->Object(i))) return widget;
    return nullptr;
  }

  // Commands of the trace other than register writes: the stream's reads.
  int Reads() {
    int n = 0;
    for (const std::string& c : trace_.Commands())
      n += !(c.size() > 17 && c.compare(6, 2, "05") == 0 && c.compare(15, 2, "02") == 0);
    return n;
  }

  TStreamingShape* Widget(const std::string& function) {
    TBlockDiagram* page = form_->CurrentPage();
    for (unsigned i = 0; i < page->ObjectCount(); ++i)
      if (page->Object(i)->GetFunctionName() == function) return dynamic_cast<TStreamingShape*>(page->Object(i));
    return nullptr;
  }

  void RestOn(TGUIObject* widget, QPoint shift = {}) { hosttest::RestOn(form_, widget, shift); }

  // Pixels of the foreground in the widget's highlight colour on its frame
  // (the top and left edges, a pixel to each side).
  int HighlightedFramePixels(TGUIObject* widget) {
    const QImage& image = form_->Foreground()->Image();
    const TColor c = widget->GetHighlightColour();
    const QRgb highlight = qRgb(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF));
    const TPointF a = widget->GetPlacedPoint(0), b = widget->GetPlacedPoint(1);
    const int x0 = int(std::min(a.x, b.x)), x1 = int(std::max(a.x, b.x));
    const int y0 = int(std::min(a.y, b.y)), y1 = int(std::max(a.y, b.y));
    int n = 0;
    auto count = [&](int x, int y) {
      n += image.valid(x, y) && (image.pixel(x, y) & 0xFFFFFF) == (highlight & 0xFFFFFF);
    };
    for (int d = -1; d <= 1; ++d) {
      for (int x = x0 + 8; x < x1 - 8; ++x) count(x, y0 + d);
      for (int y = y0 + 8; y < y1 - 8; ++y) count(x0 + d, y);
    }
    return n;
  }

  // IN1, IN2, the battery and the temperature selected in the "SAR Control" window.
  static void SelectAllInputs(TSARData* sar) {
    TSARControlForm* form = sar->ControlForm();
    ASSERT_NE(form, nullptr);
    form->show();
    for (QCheckBox* box : {form->in1Enabled, form->in2Enabled, form->batEnabled, form->tempEnabled})
      QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
    EXPECT_EQ(QuillbusGetRegister(0, sar->GetDevice(), 0, TSARData::kPage, TSARData::kSelectionRegister), 0xF0);
  }

  int Count(const std::string& prefix) {
    int n = 0;
    for (const std::string& c : trace_.Commands()) n += c.rfind(prefix, 0) == 0;
    return n;
  }

  QMdiArea area_;
  pugi::xml_document list_;
  QPointer<TDiagramForm> form_;
  BoardTrace trace_{dir_.File("trace.txt")};
};

TEST_F(StreamingOnBoard, HoveringTheScopeReadsPage255AndDrawsTheBoardsSamples) {
  auto* scope = Find<TDSVoiceRecordData>();
  ASSERT_NE(scope, nullptr);
  trace_.Mark();
  Hover(scope);
  ASSERT_TRUE(scope->IsStreaming()) << scope->GetMode() << " " << (scope->GetCanvas() != nullptr) << " "
                                    << scope->GetFadeState() << " " << scope->GetActiveObjects();
  // Two blocks decoded; the samples are the image's bytes as the decode table gives them.
  const uint8_t* bytes = form_->GetLink()->GetRegisterImage(0, 0, 255, 6);
  ASSERT_NE(bytes, nullptr);
  auto decoded = [&] {
    for (int n = 0; n < 56; ++n)
      if (scope->Sample(n) != TDSVoiceRecordData::DecodeSample(bytes[2 * n], bytes[2 * n + 1])) return false;
    return scope->Sample(0) != scope->Sample(55) || scope->Sample(0) != 0;
  };
  EXPECT_TRUE(WaitFor(decoded, std::chrono::seconds(5)));
  // SPI command reads of 56-byte pieces with the command byte 0xE0.
  EXPECT_GE(Count("40 12 06 00 3C 04 00 E0 "), 2);

  // Leaving stops the refresh.
  scope->MouseMove(-100, -100);
  for (int i = 0; i < 40 && scope->FadeStep() != 0; ++i) {
  }
  EXPECT_FALSE(scope->IsStreaming());
  EXPECT_TRUE(WaitFor([&] { return !form_->GetLink()->IsRefreshing(); }, std::chrono::seconds(2)));
}

TEST_F(StreamingOnBoard, AWindowClosesWithinASecondWhileTwoReadoutsStream) {
  auto* scope = Find<TDSVoiceRecordData>();
  auto* sar = Find<TSARData>();
  ASSERT_TRUE(scope && sar);
  Hover(scope);
  Hover(sar);
  ASSERT_TRUE(WaitFor([&] { return form_->GetLink()->IsRefreshing(); }, std::chrono::seconds(2)));
  PumpEvents();
  const auto start = std::chrono::steady_clock::now();
  delete form_.data();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  PumpEvents();
}

TEST_F(StreamingOnBoard, HoveringTheSARReadoutShowsTheBoardsChangingConversions) {
  auto* sar = Find<TSARData>();
  ASSERT_NE(sar, nullptr);
  SelectAllInputs(sar);
  Hover(sar);
  std::set<std::string> in1, in2;
  EXPECT_TRUE(WaitFor([&] {
    in1.insert(sar->Line(0));
    in2.insert(sar->Line(1));
    return in1.size() >= 3 && in2.size() >= 3;
  }, std::chrono::seconds(5)));
  EXPECT_EQ(sar->Line(0).rfind("IN1 = ", 0), 0u) << sar->Line(0);
  EXPECT_NE(sar->Line(2), "BAT = 0 [V]");
}

// Every zoom the zoom box offers, and back to 100 %: the SAR readout on the
// page shows its four lines, without a hover that would refresh them.
TEST_F(StreamingOnBoard, TheSARReadoutShowsItsLinesAtEveryZoom) {
  auto* sar = Find<TSARData>();
  ASSERT_NE(sar, nullptr);
  std::vector<QString> zooms;
  for (int i = 0; i < form_->ZoomBox->count(); ++i) zooms.push_back(form_->ZoomBox->itemText(i));
  ASSERT_GE(zooms.size(), 4u);
  zooms.push_back(QStringLiteral("100%"));
  for (const QString& zoom : zooms) {
    form_->ZoomBox->setCurrentText(zoom);
    PumpEvents();
    form_->Redraw();
    const QImage page = form_->Foreground()->Image();
    const TPointF corner = sar->GetPlacedPoint(0);
    const int left = int(corner.x) + 2, top = int(corner.y) + 2;
    for (int line = 0; line < 4; ++line) {
      const auto [from, to] = sar->LineRows(line);
      int ink = 0;
      for (int y = top + from; y < top + to; ++y)
        for (int x = left; x < left + sar->Bitmap().Width(); ++x) ink += qRed(page.pixel(x, y)) < 0x80;
      EXPECT_GT(ink, 10) << sar->Line(line) << " at " << zoom.toStdString();
    }
  }
  EXPECT_EQ(sar->GetFadeState(), kFadeIdle);
}

// Command packets of the SAR stream: the read of its 16 result registers
// (page 3 from register 54) and one-byte writes of page 3 registers.
const std::string kResultRead = "18 12 05 00 14 03 00 36";
std::string RegisterWrite(int reg) {
  char text[32];
  std::snprintf(text, sizeof text, "09 12 05 00 05 02 00 %02X ", reg);
  return text;
}

TEST_F(StreamingOnBoard, TheSARReadoutsWritesReachTheBoardAfterEachPass) {
  auto* sar = Find<TSARData>();
  ASSERT_NE(sar, nullptr);
  SelectAllInputs(sar);
  trace_.Mark();
  Hover(sar);
  ASSERT_TRUE(WaitFor([&] { return Count(kResultRead) >= 7; }, std::chrono::seconds(10)));
  Leave(sar);
  // The one-byte register writes between one pass's read and the next
  // (page selects aside): register 19 with bit 3 in turn clear and set,
  // then the conversion re-armed.
  std::vector<std::vector<std::string>> passes;
  for (const std::string& c : trace_.Commands()) {
    if (c.rfind(kResultRead, 0) == 0) passes.emplace_back();
    else if (!passes.empty() && c.rfind("09 12 05 00 05 02 00 ", 0) == 0 && c.rfind(RegisterWrite(0), 0) != 0)
      passes.back().push_back(c.substr(21));
  }
  ASSERT_GE(passes.size(), 7u);
  passes.pop_back();  // the last may be cut short by the leave
  for (size_t i = 0; i < passes.size(); ++i) {
    ASSERT_EQ(passes[i].size(), 4u) << "pass " << i;
    EXPECT_EQ(passes[i][0], i % 2 ? "13 F8" : "13 F0") << "pass " << i;
    EXPECT_EQ(passes[i][1], "02 98") << "pass " << i;
    EXPECT_EQ(passes[i][2].substr(0, 3), "03 ") << "pass " << i;
    EXPECT_EQ(passes[i][3], "02 18") << "pass " << i;
  }
  EXPECT_EQ(QuillbusGetRegister(0, sar->GetDevice(), 0, TSARData::kPage, 2), 0x98);  // stopped
}

TEST_F(StreamingOnBoard, TheSARStreamKeepsItsFiftyPassesASecond) {
  auto* sar = Find<TSARData>();
  ASSERT_NE(sar, nullptr);
  trace_.Mark();
  const auto start = std::chrono::steady_clock::now();
  Hover(sar);
  const int passes = 10;
  ASSERT_TRUE(WaitFor([&] { return Count(kResultRead) >= passes; }, std::chrono::seconds(10)));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  Leave(sar);
  // The first pass starts at once; each further one waits its 20 ms period,
  // however slow the machine (a stream restarted by every refresh does not).
  EXPECT_GE(elapsed, (passes - 1) * std::chrono::milliseconds(20));
}

TEST_F(StreamingOnBoard, TheTouchBlockInDSReadsTheTouchSamplesAndFeedsTheKitsReadout) {
  auto* touch = Find<TTouchScreen>();
  ASSERT_NE(touch, nullptr);
  EXPECT_EQ(touch->GetTarget(0), Find<TIN1IN2Data>());
  touch->Form()->DS->click();
  EXPECT_EQ(touch->GetTouchMode(), TTouchScreen::kDS);
  trace_.Mark();
  Hover(touch);
  ASSERT_TRUE(touch->IsStreaming());
  // Page 254: two bytes with command 0xD0, two with 0x90, fifty times a second.
  EXPECT_TRUE(WaitFor([&] { return Count("0A 12 06 00 06 04 00 D0 ") >= 2 && Count("0A 12 06 00 06 04 00 90 ") >= 2; },
                      std::chrono::seconds(5)));
  const int before = touch->Segments();
  EXPECT_TRUE(WaitFor([&] { return touch->Segments() > before; }, std::chrono::seconds(5)));
}

}  // namespace

namespace {

using namespace hosttest;

// Each streaming widget of the kit's page 2, streaming, then its window
// minimised, closed (a window with its board minimises), hidden, or the main
// window minimised, or the page left: the link's refresh ends and no read
// follows; back on screen, nothing is highlighted until the pointer comes.
class StreamEnds : public StreamingOnBoard,
                   public ::testing::WithParamInterface<std::tuple<const char*, const char*>> {
 protected:
  // Starts the stream and waits for its reads on the board.
  void Stream(TStreamingShape* widget) {
    trace_.Mark();
    Hover(widget);
    ASSERT_TRUE(WaitFor([&] { return form_->GetLink()->IsRefreshing() && Reads() >= 2; }, std::chrono::seconds(5)))
        << widget->GetFunctionName();
  }
};

TEST_P(StreamEnds, WithItsWindowOrPage) {
  const auto [function, action] = GetParam();
  TStreamingShape* widget = Widget(function);
  ASSERT_NE(widget, nullptr) << function;
  Stream(widget);
  ASSERT_GT(HighlightedFramePixels(widget), 0) << function;
  ASSERT_EQ(form_->StatusText(3).toStdString(), widget->GetHintText());
  struct Action {
    std::function<void()> away, back;
  };
  const std::map<std::string, Action> actions = {
      {"minimise", {[&] { form_->SubWindow()->showMinimized(); }, [&] { form_->SubWindow()->showMaximized(); }}},
      {"close", {[&] { form_->SubWindow()->close(); }, [&] { form_->SubWindow()->showMaximized(); }}},
      {"hide", {[&] { form_->SubWindow()->hide(); }, [&] { form_->SubWindow()->showMaximized(); }}},
      {"mainminimise", {[&] { area_.showMinimized(); }, [&] { area_.showNormal(); }}},
      {"page", {[&] { form_->DisplayFullClick(); }, [&] { form_->DisplayPlaybackClick(); }}},
  };
  actions.at(action).away();
  PumpEvents();
  ASSERT_NE(form_.data(), nullptr);
  if (std::string(action) == "close") {
    EXPECT_TRUE(form_->SubWindow()->isMinimized());
  }
  EXPECT_TRUE(WaitFor([&] { return !form_->GetLink()->IsRefreshing(); }, std::chrono::seconds(2))) << function;
  EXPECT_EQ(widget->GetFadeState(), kFadeIdle);
  // No read reaches the board after the stop, however long one waits (one
  // refresh pass would take 20 to 100 ms).
  trace_.Mark();
  EXPECT_FALSE(WaitFor([&] { return Reads() > 0; }, std::chrono::milliseconds(400))) << function << " " << action;
  // The pointer on it again, with the window away, starts nothing.
  Hover(widget);
  EXPECT_FALSE(form_->GetLink()->IsRefreshing());

  // Back on screen (and on its page), with the pointer elsewhere: the
  // widget is drawn as before its hover, and no hint is left.
  actions.at(action).back();
  PumpEvents();
  widget = Widget(function);
  ASSERT_NE(widget, nullptr);
  EXPECT_EQ(widget->GetFadeState(), kFadeIdle);
  EXPECT_NE(widget->GetCurrentColour(), widget->GetHighlightColour()) << function << " " << action;
  EXPECT_EQ(HighlightedFramePixels(widget), 0) << function << " " << action;
  EXPECT_EQ(form_->HoverCount(), 0);
  EXPECT_EQ(form_->StatusText(3).toStdString(), "");
  // Hovering streams again.
  widget->MouseMove(-100, -100);
  for (int i = 0; i < 40 && widget->FadeStep() != 0; ++i) {
  }
  Stream(widget);
}

INSTANTIATE_TEST_SUITE_P(EveryStreamingWidget, StreamEnds,
                         ::testing::Combine(::testing::Values("DSVoiceRecordData", "IN1IN2Data", "SARData",
                                                              "touchscreen"),
                                            ::testing::Values("minimise", "close", "hide", "mainminimise", "page")),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param)) + "_" + std::get<1>(info.param);
                         });

}  // namespace

namespace {

using namespace hosttest;

// Each streaming widget of page 2, streaming under the real pointer, which
// then leaves the paint box without crossing the page: the window system's
// leave, a move onto the scroll bar right of the page, a move off the
// window. The hover ends (highlight and hint gone) and no read follows.
class LeavingThePaintBox : public StreamingOnBoard,
                           public ::testing::WithParamInterface<std::tuple<const char*, const char*>> {};

TEST_P(LeavingThePaintBox, EndsTheStream) {
  const auto [function, path] = GetParam();
  TStreamingShape* widget = Widget(function);
  ASSERT_NE(widget, nullptr) << function;
  QWidget* box = form_->BlockDiagramPaintBox;
  trace_.Mark();
  RestOn(widget);
  ASSERT_TRUE(WaitFor([&] { return widget->GetFadeState() == kFadeLit && Reads() >= 2; }, std::chrono::seconds(5)))
      << function << " " << widget->GetFadeState();
  EXPECT_EQ(form_->StatusText(3).toStdString(), widget->GetHintText());
  EXPECT_EQ(form_->HoverCount(), 1);
  EXPECT_GT(HighlightedFramePixels(widget), 0);

  QScrollBar* bar = form_->BlockDiagramScrollBox->verticalScrollBar();
  ASSERT_TRUE(bar->isVisible());
  const std::map<std::string, std::function<void()>> paths = {
      {"leave", [&] {
         QEvent leave(QEvent::Leave);
         QCoreApplication::sendEvent(box, &leave);
       }},
      {"scrollbar", [&] { PointerTo(bar, bar->rect().center()); }},
      // Out of the window in one move: the window system reports the leave.
      {"window", [&] {
         QEvent leave(QEvent::Leave);
         QCoreApplication::sendEvent(area_.windowHandle(), &leave);
       }},
  };
  paths.at(path)();
  EXPECT_TRUE(WaitFor([&] { return widget->GetFadeState() == kFadeIdle; }, std::chrono::seconds(2)));
  EXPECT_TRUE(WaitFor([&] { return !form_->GetLink()->IsRefreshing(); }, std::chrono::seconds(2))) << function;
  trace_.Mark();
  EXPECT_FALSE(WaitFor([&] { return Reads() > 0; }, std::chrono::milliseconds(400))) << function << " " << path;
  EXPECT_EQ(form_->HoverCount(), 0);
  EXPECT_EQ(form_->StatusText(3).toStdString(), "");
  EXPECT_EQ(HighlightedFramePixels(widget), 0) << function << " " << path;

  // Back on it (the window system sends no move to the place it left), the
  // stream starts again.
  trace_.Mark();
  RestOn(widget, QPoint(4, 4));
  EXPECT_TRUE(WaitFor([&] { return form_->GetLink()->IsRefreshing() && Reads() >= 2; }, std::chrono::seconds(5)))
      << function << " " << path;
  EXPECT_EQ(form_->HoverCount(), 1);
}

INSTANTIATE_TEST_SUITE_P(EveryStreamingWidget, LeavingThePaintBox,
                         ::testing::Combine(::testing::Values("DSVoiceRecordData", "IN1IN2Data", "SARData",
                                                              "touchscreen"),
                                            ::testing::Values("leave", "scrollbar", "window")),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param)) + "_" + std::get<1>(info.param);
                         });

}  // namespace

namespace {

using namespace hosttest;

// A window without a board: its widgets' refreshes run on the link all the
// same, and the pointer's leaving or a hidden window ends each of them with
// its highlight and hint.
class SimulatedWindowHover : public StreamingOnBoard, public ::testing::WithParamInterface<const char*> {
 protected:
  bool OnBoard() const override { return false; }
  void ExpectNothingHighlighted(TStreamingShape* widget, const char* when) {
    EXPECT_TRUE(WaitFor([&] { return widget->GetFadeState() == kFadeIdle; }, std::chrono::seconds(2))) << when;
    EXPECT_TRUE(WaitFor([&] { return !form_->GetLink()->IsRefreshing(); }, std::chrono::seconds(2))) << when;
    EXPECT_EQ(form_->HoverCount(), 0) << when;
    EXPECT_EQ(form_->StatusText(3).toStdString(), "") << when;
    EXPECT_EQ(HighlightedFramePixels(widget), 0) << when;
  }
};

TEST_P(SimulatedWindowHover, EndsOnTheScrollBarAndWithAHiddenWindow) {
  TStreamingShape* widget = Widget(GetParam());
  ASSERT_NE(widget, nullptr) << GetParam();
  ASSERT_EQ(form_->StatusText(0).toStdString(), "EVM Status: Simulation");
  auto rest = [&](QPoint shift) {
    RestOn(widget, shift);
    ASSERT_TRUE(WaitFor([&] { return widget->GetFadeState() == kFadeLit && form_->GetLink()->IsRefreshing(); },
                        std::chrono::seconds(5)));
    EXPECT_EQ(form_->StatusText(3).toStdString(), widget->GetHintText());
    EXPECT_GT(HighlightedFramePixels(widget), 0);
  };
  rest({});
  QScrollBar* bar = form_->BlockDiagramScrollBox->verticalScrollBar();
  ASSERT_TRUE(bar->isVisible());
  PointerTo(bar, bar->rect().center());
  ExpectNothingHighlighted(widget, "scroll bar");

  rest({4, 4});
  form_->SubWindow()->hide();
  PumpEvents();
  form_->SubWindow()->showMaximized();
  PumpEvents();
  ExpectNothingHighlighted(widget, "hidden");
}

INSTANTIATE_TEST_SUITE_P(EveryStreamingWidget, SimulatedWindowHover,
                         ::testing::Values("DSVoiceRecordData", "IN1IN2Data", "SARData", "touchscreen"));

}  // namespace

namespace {

using namespace hosttest;

constexpr const char* kStreamingWidgets[] = {"DSVoiceRecordData", "IN1IN2Data", "SARData", "touchscreen"};

// The page moves under a pointer that stays where it is: a zoom from the
// keyboard, three wheel notches down or sideways, a pan that ends against
// the page's edge, a page switch. The hover follows as a move there would:
// what left the pointer stops streaming, what came under it streams.
class StillPointer : public StreamingOnBoard,
                     public ::testing::WithParamInterface<std::tuple<const char*, const char*>> {
 protected:
  QWidget* Box() const { return form_->BlockDiagramPaintBox; }
  QWidget* View() const { return form_->BlockDiagramScrollBox->viewport(); }
  QScrollBar* Bar(Qt::Orientation o) const {
    return o == Qt::Vertical ? form_->BlockDiagramScrollBox->verticalScrollBar()
                             : form_->BlockDiagramScrollBox->horizontalScrollBar();
  }
  // Where on the page the still pointer now is.
  QPoint OnPage() const { return Box()->mapFrom(View(), pointer_); }
  // The pointer comes to rest at `at` in the viewport.
  void RestAt(QPoint at) {
    pointer_ = at;
    PointerTo(View(), at);
  }
  void RestOnWidget(TGUIObject* widget) {
    RestOn(widget);
    pointer_ = Box()->mapTo(View(), Centre(widget));
  }
  // A wheel notch turned where the pointer rests, as the window system
  // delivers it: to the widget under the pointer, from where it climbs.
  void Wheel(QPoint angle, int notches) {
    const QPoint global = View()->mapToGlobal(pointer_);
    for (int i = 0; i < notches; ++i) {
      QWidget* target = Box()->rect().contains(OnPage()) ? Box() : View();
      const QPoint at = target->mapFromGlobal(global);
      QWheelEvent wheel(at, global, QPoint(), angle, Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
      // Sent as the window system's own (sendEvent would make it the
      // program's, which does not climb to the scroll box).
      QSpontaneKeyEvent::setSpontaneous(&wheel);
      qApp->notify(target, &wheel);
    }
    PumpEvents();
  }
  // A drag from where the pointer rests, `by` further, with `button` held.
  void Drag(QPoint by, Qt::MouseButton button) {
    QWindow* window = area_.windowHandle();
    const QPoint from = View()->mapTo(&area_, pointer_);
    QTest::mousePress(window, button, {}, from);
    for (int step = 1; step <= 5; ++step) QTest::mouseMove(window, from + by * step / 5);
    QTest::mouseRelease(window, button, {}, from + by);
    pointer_ += by;
    PumpEvents();
  }
  void ZoomDown() {
    form_->ZoomBox->setFocus();
    QTest::keyClick(form_->ZoomBox, Qt::Key_Down);
    PumpEvents();
  }

  // Those of the page shown.
  std::vector<TStreamingShape*> StreamingWidgets() {
    std::vector<TStreamingShape*> widgets;
    for (const char* function : kStreamingWidgets)
      if (TStreamingShape* widget = Widget(function)) widgets.push_back(widget);
    return widgets;
  }
  // Streaming, lit and hinted as the pointer's place on the page says.
  void ExpectHoverAtThePointer(const std::string& when) {
    const QPoint at = OnPage();
    bool any = false;
    for (TStreamingShape* widget : StreamingWidgets()) {
      const bool under = Box()->rect().contains(at) && widget->HitTest(at.x(), at.y());
      any = any || under;
      const int fade = under ? kFadeLit : kFadeIdle;
      EXPECT_TRUE(WaitFor([&] { return widget->GetFadeState() == fade; }, std::chrono::seconds(2)))
          << when << ": " << widget->GetFunctionName() << " in fade " << widget->GetFadeState();
      if (under) {
        EXPECT_EQ(form_->StatusText(3).toStdString(), widget->GetHintText()) << when;
        EXPECT_GT(HighlightedFramePixels(widget), 0) << when << ": " << widget->GetFunctionName();
      } else {
        EXPECT_EQ(HighlightedFramePixels(widget), 0) << when << ": " << widget->GetFunctionName();
      }
    }
    EXPECT_TRUE(WaitFor([&] { return form_->GetLink()->IsRefreshing() == any; }, std::chrono::seconds(2))) << when;
    if (!OnBoard()) return;
    trace_.Mark();
    if (any) {
      EXPECT_TRUE(WaitFor([&] { return Reads() >= 2; }, std::chrono::seconds(5))) << when;
    } else {
      EXPECT_FALSE(WaitFor([&] { return Reads() > 0; }, std::chrono::milliseconds(400))) << when;
    }
  }

  // The pointer rests on the widget and it streams; the page moves away
  // from under the pointer, which stays: its stream ends (and a widget that
  // came under the pointer streams).
  void LeavesTheWidget(const std::string& function, const std::string& move) {
    TStreamingShape* widget = Widget(function);
    ASSERT_NE(widget, nullptr) << function;
    if (move == "pan") Bar(Qt::Vertical)->setValue(100);
    trace_.Mark();
    RestOnWidget(widget);
    ASSERT_TRUE(WaitFor([&] { return widget->GetFadeState() == kFadeLit && form_->GetLink()->IsRefreshing(); },
                        std::chrono::seconds(5)))
        << function;
    if (OnBoard()) ASSERT_TRUE(WaitFor([&] { return Reads() >= 2; }, std::chrono::seconds(5))) << function;
    const int scrolled = Bar(Qt::Vertical)->value(), sideways = Bar(Qt::Horizontal)->value();
    if (move == "zoomkey") {
      ZoomDown();
      ASSERT_EQ(form_->ZoomBox->currentText().toStdString(), "125%");
    } else if (move == "wheel") {
      Wheel({0, -120}, 3);
      ASSERT_GT(Bar(Qt::Vertical)->value(), scrolled);
    } else if (move == "hwheel") {
      Wheel({-120, 0}, 3);
      ASSERT_GT(Bar(Qt::Horizontal)->value(), sideways);
    } else if (move == "pan") {
      // Down by more than the page can follow: the page comes to its top
      // edge and the pointer ends 150 pixels below the widget on it.
      const QPoint by(0, scrolled + 150);
      for (unsigned i = 0; i < form_->CurrentPage()->ObjectCount(); ++i) {
        TGUIObject* object = form_->CurrentPage()->Object(i);
        const QPoint end = Centre(widget) + QPoint(0, 150);
        ASSERT_FALSE(object->GetMode() != 0 && object->HitTest(end.x(), end.y()))
            << "the release would click " << object->GetFunctionName();
      }
      Drag(by, Qt::LeftButton);
      ASSERT_EQ(Bar(Qt::Vertical)->value(), 0);
    }
    ASSERT_FALSE(widget->HitTest(OnPage().x(), OnPage().y())) << function << " " << move;
    ExpectHoverAtThePointer(function + " after " + move);
    EXPECT_FALSE(widget->GetFadeState() == kFadeLit) << function << " " << move;
    EXPECT_NE(form_->StatusText(3).toStdString(), widget->GetHintText()) << function << " " << move;
  }

  // The move is made once with the pointer off the window to learn where
  // the widget goes, undone, and made again with the pointer resting there.
  void ComesUnderThePointer(const std::string& function, const std::string& move) {
    std::function<void()> make, undo;
    const int zoomIndex = form_->ZoomBox->currentIndex();
    if (move == "zoomkey") {
      make = [&] { ZoomDown(); };
      undo = [&] { form_->ZoomBox->setCurrentIndex(zoomIndex); };
    } else if (move == "wheel" || move == "hwheel") {
      const Qt::Orientation o = move == "wheel" ? Qt::Vertical : Qt::Horizontal;
      const QPoint angle = move == "wheel" ? QPoint(0, -120) : QPoint(-120, 0);
      make = [=, this] { Wheel(angle, 3); };
      undo = [=, this] { Bar(o)->setValue(0); };
      // Learnt without the pointer: the bar takes the notches the view would pass it.
      std::function<void()> learn = [=, this] {
        for (int i = 0; i < 3; ++i) {
          QWheelEvent wheel(QPointF(), QPointF(), QPoint(), angle, Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                            false);
          QApplication::sendEvent(Bar(o), &wheel);
        }
      };
      learn();
    } else if (move == "page") {
      make = [&] { form_->DisplayPlaybackClick(); };
      undo = [&] { form_->DisplayFullClick(); };
    }
    if (move == "zoomkey" || move == "page") make();
    TStreamingShape* widget = Widget(function);
    ASSERT_NE(widget, nullptr) << function;
    // The widget's place in the view after the move: the middle of what of
    // it shows there.
    QPoint target;
    if (move == "pan") {
      // A pan up (the middle button: a left one's release would click the
      // widget) by more than the page can follow from near its bottom.
      QScrollBar* bar = Bar(Qt::Vertical);
      bar->setValue(bar->maximum() - 50);
      target = Box()->mapTo(View(), Centre(widget)) - QPoint(0, 50);
      PumpEvents();
      RestAt(target + QPoint(0, 250));
    } else {
      const TPointF a = widget->GetPlacedPoint(0), b = widget->GetPlacedPoint(1);
      const QRect placed(Box()->mapTo(View(), QPoint(int(std::min(a.x, b.x)), int(std::min(a.y, b.y)))),
                         Box()->mapTo(View(), QPoint(int(std::max(a.x, b.x)), int(std::max(a.y, b.y)))));
      const QRect shown = placed.intersected(View()->rect().adjusted(8, 8, -8, -8));
      ASSERT_FALSE(shown.isEmpty()) << function << " " << move;
      target = shown.center();
      undo();
      PumpEvents();
      RestAt(target);
    }
    ASSERT_FALSE(widget->HitTest(OnPage().x(), OnPage().y()) && move != "page") << function << " " << move;
    ExpectHoverAtThePointer(function + " before " + move);
    if (move == "pan") Drag({0, -250}, Qt::MiddleButton);
    else make();
    ASSERT_EQ(pointer_, target);
    ASSERT_TRUE(widget->HitTest(OnPage().x(), OnPage().y())) << function << " " << move;
    ExpectHoverAtThePointer(function + " after " + move);
  }

  // The pointer jumps from outside the window onto the widget: the window
  // system reports the enter there, and no move follows.
  void EnterLightsTheWidget(const std::string& function) {
    TStreamingShape* widget = Widget(function);
    ASSERT_NE(widget, nullptr) << function;
    const TPointF a = widget->GetPlacedPoint(0), b = widget->GetPlacedPoint(1);
    form_->BlockDiagramScrollBox->ensureVisible(Centre(widget).x(), Centre(widget).y(),
                                                int(std::abs(b.x - a.x)) / 2 + 20, int(std::abs(b.y - a.y)) / 2 + 20);
    PumpEvents();
    pointer_ = Box()->mapTo(View(), Centre(widget));
    const QPoint at = View()->mapTo(&area_, pointer_);
    QEnterEvent enter(at, at, area_.mapToGlobal(at));
    QCoreApplication::sendEvent(area_.windowHandle(), &enter);
    ExpectHoverAtThePointer(function + " entered");
    EXPECT_EQ(form_->HoverCount(), 1);
  }

  QPoint pointer_;
};

TEST_P(StillPointer, ThePageMovingFromUnderItEndsTheStream) {
  const auto [function, move] = GetParam();
  LeavesTheWidget(function, move);
}

INSTANTIATE_TEST_SUITE_P(EveryStreamingWidget, StillPointer,
                         ::testing::Combine(::testing::ValuesIn(kStreamingWidgets),
                                            ::testing::Values("zoomkey", "wheel", "hwheel", "pan")),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param)) + "_" + std::get<1>(info.param);
                         });

class StillPointerArrival : public StillPointer {};

TEST_P(StillPointerArrival, AWidgetThatComesUnderItStreams) {
  const auto [function, move] = GetParam();
  if (std::string(move) == "page") form_->DisplayFullClick();
  ComesUnderThePointer(function, move);
}

INSTANTIATE_TEST_SUITE_P(EveryStreamingWidget, StillPointerArrival,
                         ::testing::Combine(::testing::ValuesIn(kStreamingWidgets),
                                            ::testing::Values("zoomkey", "wheel", "hwheel", "pan", "page")),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param)) + "_" + std::get<1>(info.param);
                         });

// A page smaller than the view, the pointer resting beside it in the view:
// a zoom from the keyboard grows the page under the pointer and brings the
// touch block there; the zoom back takes the page from under it again.
class StillPointerBesideThePage : public StillPointer {};

TEST_F(StillPointerBesideThePage, AZoomBringsTheWidgetAndTakesItAway) {
  form_->ZoomBox->setCurrentIndex(0);
  PumpEvents();
  ASSERT_EQ(form_->ZoomBox->currentText().toStdString(), "50%");
  ZoomDown();
  TStreamingShape* touch = Widget("touchscreen");
  ASSERT_NE(touch, nullptr);
  const QPoint target = Box()->mapTo(View(), Centre(touch));
  form_->ZoomBox->setCurrentIndex(0);
  PumpEvents();
  RestAt(target);
  ASSERT_FALSE(Box()->rect().contains(OnPage()));
  ExpectHoverAtThePointer("beside the page");
  ZoomDown();
  ASSERT_EQ(form_->ZoomBox->currentText().toStdString(), "80%");
  ASSERT_TRUE(touch->HitTest(OnPage().x(), OnPage().y()));
  ExpectHoverAtThePointer("zoomed in");
  QTest::keyClick(form_->ZoomBox, Qt::Key_Up);
  PumpEvents();
  ASSERT_FALSE(Box()->rect().contains(OnPage()));
  ExpectHoverAtThePointer("zoomed out");
  EXPECT_EQ(touch->GetFadeState(), kFadeIdle);
}

class PointerEntering : public StillPointer {};

TEST_P(PointerEntering, OntoAWidgetLightsItAndStartsItsStream) {
  EnterLightsTheWidget(std::get<0>(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(EveryStreamingWidget, PointerEntering,
                         ::testing::Combine(::testing::ValuesIn(kStreamingWidgets), ::testing::Values("")),
                         [](const auto& info) { return std::string(std::get<0>(info.param)); });

// The same paths in a window without a board.
class StillPointerSimulated : public StillPointer {
 protected:
  bool OnBoard() const override { return false; }
};

TEST_P(StillPointerSimulated, FollowsThePageWithoutABoard) {
  const auto [function, move] = GetParam();
  ASSERT_EQ(form_->StatusText(0).toStdString(), "EVM Status: Simulation");
  if (std::string(move) == "enter") {
    EnterLightsTheWidget(function);
  } else if (std::string(move) == "page") {
    form_->DisplayFullClick();
    ComesUnderThePointer(function, move);
  } else {
    LeavesTheWidget(function, move);
  }
}

INSTANTIATE_TEST_SUITE_P(EveryStreamingWidget, StillPointerSimulated,
                         ::testing::Combine(::testing::ValuesIn(kStreamingWidgets),
                                            ::testing::Values("zoomkey", "wheel", "hwheel", "pan", "page", "enter")),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param)) + "_" + std::get<1>(info.param);
                         });

}  // namespace
