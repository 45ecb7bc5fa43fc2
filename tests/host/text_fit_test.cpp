// Every window of the host and of the codec plug-in, and every page of the
// board kit, at its default size: no label, button, box, group title or grid
// text is cut, and none is hidden under another control or painted over.
// Rows with a deliberately broken window show that the check sees faults.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QStatusBar>
#include <QTableWidget>
#include <QTest>
#include <functional>
#include <set>

#include "codec/agc_form.h"
#include "codec/dconf.h"
#include "codec/filter/coeff_display_form.h"
#include "codec/filter/zt.h"
#include "codec/instance.h"
#include "codec/io_forms.h"
#include "codec/small_forms.h"
#include "common/gui_object.h"
#include "diagram/amplifier.h"
#include "diagram/block_diagram.h"
#include "diagram/processing_blocks.h"
#include "diagram/sar_data.h"
#include "host/about_box.h"
#include "host/diagram_form.h"
#include "host/load_form.h"
#include "host/log_form.h"
#include "host/select_evm_form.h"
#include "host/tcp_connect_form.h"
#include "platform/library.h"
#include "registers/i2c_command.h"
#include "registers/register_inspector.h"
#include "tests/host/diagram_pages_fixture.h"
#include "tests/host/text_fit.h"

namespace {

using namespace hosttest;

typedef int (*TShowDialog)(void*, const char*, int, int, TGUIObject*);

class TextFitTest : public DiagramPagesTest {
 protected:
  void SetUp() override {
    DiagramPagesTest::SetUp();
    form_ = Open("QMX7XXXEVM");
    ASSERT_NE(form_, nullptr);
    forms_ = static_cast<TQMX7XXXForms*>(form_->GetPluginInstance());
    ASSERT_NE(forms_, nullptr);
  }

  // The faults of a window once it is shown; hidden again afterwards.
  static std::vector<TextFault> Shown(QWidget* window) {
    if (!window) return {{"", "", "no window"}};
    const bool was = window->isVisible();
    window->show();
    PumpEvents();
    std::vector<TextFault> faults = TextFaults(window);
    if (!was) window->hide();
    return faults;
  }
  // A plug-in dialog, opened by its dialog name as a diagram object opens it.
  std::vector<TextFault> Dialog(const char* name, QWidget* window) {
    auto show = reinterpret_cast<TShowDialog>(platform::ResolveSymbol(form_->Page(0)->GetModule(), "_ShowDialog"));
    show(forms_, name, 40, 40, nullptr);
    PumpEvents();
    std::vector<TextFault> faults = TextFaults(window);
    window->hide();
    return faults;
  }
  // The board window on page `index` (the clock page for -1).
  std::vector<TextFault> Page(TDiagramForm* form, int index) {
    if (index < 0) form->ShowClockPage();
    else form->SelectDiagram(index);
    PumpEvents();
    return PageTextFaults(form);
  }
  // The gain edits of every page of `form`, each at its widest gain, at
  // every zoom of the zoom box; each fault names its page and zoom.
  static std::vector<TextFault> WidestEdits(TDiagramForm* form) {
    std::vector<TextFault> faults;
    const QString zoom = form->ZoomBox->currentText();
    for (int i = 0; i <= form->PageCount(); ++i) {
      if (i < form->PageCount()) form->SelectDiagram(i);
      else if (form->ClockPage()) form->ShowClockPage();
      else break;
      const std::string page = i < form->PageCount() ? "page " + std::to_string(i + 1) : std::string("clock page");
      for (int z = 0; z < form->ZoomBox->count(); ++z) {
        form->ZoomBox->setCurrentIndex(z);
        PumpEvents();
        for (TextFault f : WidestEditFaults(form)) {
          f.where = page + " at " + form->ZoomBox->itemText(z).toStdString() + " " + f.where;
          faults.push_back(f);
        }
      }
      form->ZoomBox->setCurrentText(zoom);
      PumpEvents();
    }
    return faults;
  }
  // The board window itself, with every hint of every page in its hint panel.
  std::vector<TextFault> BoardWindow() {
    std::vector<TextFault> faults = TextFaults(form_);
    for (TBlockDiagram* page : {form_->Page(0), form_->Page(1), form_->ClockPage()}) {
      for (unsigned i = 0; page && i < page->ObjectCount(); ++i) {
        TGUIObject* object = page->Object(i);
        if (object->GetHintText().empty()) continue;
        TDiagramForm::ObjectEvent(form_, object, kEventEntered);
        for (const TextFault& f : TextFaults(form_->StatusBar)) faults.push_back(f);
        TDiagramForm::ObjectEvent(form_, object, kEventHoverEnded);
      }
    }
    return faults;
  }
  // The first object of `function` on the current page, clicked.
  void Click(const std::string& function) {
    TBlockDiagram* page = form_->CurrentPage();
    for (unsigned i = 0; i < page->ObjectCount(); ++i) {
      if (page->Object(i)->GetFunctionName() != function) continue;
      QTest::mouseClick(form_->BlockDiagramPaintBox, Qt::LeftButton, {}, Centre(page->Object(i)));
      PumpEvents();
      return;
    }
    ADD_FAILURE() << "no " << function;
  }
  // The advanced clock dialog, changed by `change`, restored afterwards.
  std::vector<TextFault> Advanced(const std::function<void(QWidget*)>& change) {
    forms_->digitalSetupForm->show();
    QTest::mouseClick(forms_->digitalSetupForm->AdvancedClockButton, Qt::LeftButton);
    PumpEvents();
    QWidget* advanced = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->isVisible() && w->windowTitle() == "Advanced Clock Settings") advanced = w;
    if (!advanced) return {{"", "", "not shown"}};
    std::vector<std::pair<QWidget*, QRect>> places;
    for (QWidget* w : advanced->findChildren<QWidget*>()) places.emplace_back(w, w->geometry());
    change(advanced);
    std::vector<TextFault> faults = TextFaults(advanced);
    for (const auto& [w, place] : places) w->setGeometry(place);
    advanced->hide();
    forms_->digitalSetupForm->hide();
    return faults;
  }
  // The filter tool, changed by `change`; a fresh tool each time, so that
  // no change outlives its row. With `plot`, the texts of its plot too.
  std::vector<TextFault> FilterTool(const std::function<void(TZT*)>& change, bool plot = false) {
    TZT tool;
    tool.SetFilterCount(5);
    tool.SetSampleRate(48000);
    tool.show();
    PumpEvents();
    change(&tool);
    PumpEvents();
    std::vector<TextFault> faults = TextFaults(&tool);
    if (plot)
      for (const TextFault& f : PlotTexts(&tool)) faults.push_back(f);
    return faults;
  }
  // The texts the filter tool paints into its plot's bitmap, recorded as it
  // paints them.
  static std::vector<TextFault> PlotTexts(TZT* tool) {
    TCanvas& canvas = tool->PlotCanvas();
    return PaintedTextFaults(tool->BodePlot, tool->BodePlot->size(), [&](QPaintDevice& device) {
      canvas.LockOn(device);
      tool->BodePlotPaint();
      canvas.Unlock();
    });
  }
  template <class T>
  T* Find(TBlockDiagram* page) {
    for (unsigned i = 0; page && i < page->ObjectCount(); ++i)
      if (auto* t = dynamic_cast<T*>(page->Object(i))) return t;
    return nullptr;
  }

  TDiagramForm* form_ = nullptr;
  TQMX7XXXForms* forms_ = nullptr;
};

TEST_F(TextFitTest, EveryWindowAndKitPageShowsItsTextsWhole) {
  using Faults = std::vector<TextFault>;
  struct Row {
    Row(const char* name, std::function<Faults()> faults, std::set<std::string> expected = {})
        : name(name), faults(std::move(faults)), expected(std::move(expected)) {}
    const char* name;
    std::function<Faults()> faults;
    // The faults the row must show, as "where: text" (none for a sound window).
    std::set<std::string> expected;
  };
  const std::vector<Row> rows = {
      // The host's small windows.
      {"about box", [] { return Shown(AboutBox); }},
      {"loading window", [] { return Shown(LoadForm); }},
      {"log window", [] { return Shown(LogForm); }},
      {"board selection",
       [] {
         SelectEVMForm->AddEVM("QMX7XXXEVM", {});
         SelectEVMForm->AddEVM("QMX7200EVM", {});
         return Shown(SelectEVMForm);
       }},
      {"network connect", [] { return Shown(TCPConnectForm); }},
      // The board window, every hint in its status bar, and the windows it opens.
      {"board window", [this] { return BoardWindow(); }},
      {"register inspector", [this] { return Shown(form_->Inspector()); }},
      {"command window", [this] { return Shown(form_->CommandWindow()); }},
      {"init script window", [this] { return Shown(form_->InitScriptWindow(form_->Page(0))); }},
      {"processing blocks",
       [this] {
         form_->ProcessingBlocksClick();
         PumpEvents();
         Faults faults = TextFaults(form_->ProcessingBlocks());
         form_->ProcessingBlocks()->hide();
         return faults;
       }},
      {"EVM applications",
       [this] {
         Faults faults = {{"", "", "not shown"}};
         dialogs_.modal = [&](QDialog* dialog) {
           PumpEvents();
           faults = TextFaults(dialog);
         };
         form_->EVMApplicationsClick();
         dialogs_.modal = nullptr;
         return faults;
       }},
      {"slider window at its lowest gain",
       [this] {
         form_->SelectDiagram(0);
         PumpEvents();
         Click("amplifier");
         TAmplifier* amplifier = Find<TAmplifier>(form_->CurrentPage());
         TSliderForm* slider = amplifier ? amplifier->GetSlider() : nullptr;
         if (!slider) return Faults{{"", "", "no slider window"}};
         slider->SetPosition(0);
         slider->Mute->show();
         slider->Lock->show();
         return Shown(slider);
       }},
      // The plug-in's windows, the growing texts at their longest too.
      {"DAC L", [this] { return Dialog("DAC_L", forms_->dacLeftForm); }},
      {"DAC R muted, with its DRC curve",
       [this] {
         forms_->dacRightForm->Volume->setValue(176);
         forms_->dacRightForm->DRC->setChecked(true);
         forms_->dacRightForm->DRCClick();
         return Dialog("DAC_R", forms_->dacRightForm);
       }},
      {"DRC", [this] { return Shown(forms_->drcForm); }},
      {"DRC at its slowest rates",
       [this] {
         forms_->drcForm->Attack->setValue(15);
         forms_->drcForm->Decay->setValue(15);
         forms_->drcForm->Hold->setValue(7);
         return Shown(forms_->drcForm);
       }},
      {"beep", [this] { return Dialog("beep", forms_->beepForm); }},
      {"SAR", [this] { return Dialog("SAR", forms_->sarForm); }},
      {"audio inputs", [this] { return Dialog("AudioInputs", forms_->inputsForm); }},
      {"audio outputs", [this] { return Dialog("DePop", forms_->outputsForm); }},
      {"AGC", [this] { return Dialog("AGC", forms_->agcForm); }},
      {"AGC with a buffer in its plots",
       [this] {
         TAGCForm* agc = forms_->agcForm;
         agc->makeCapture = [] { return std::unique_ptr<AudioCapture>(); };
         agc->lastBuffer.assign(TAGCForm::kBufferSamples, 0);
         Faults faults = Dialog("AGC", agc);
         agc->lastBuffer.clear();
         return faults;
       }},
      {"AGC, more",
       [this] {
         forms_->agcForm->show();
         QTest::mouseClick(forms_->agcForm->MoreLess, Qt::LeftButton);
         Faults faults = Shown(forms_->agcForm);
         QTest::mouseClick(forms_->agcForm->MoreLess, Qt::LeftButton);
         forms_->agcForm->hide();
         return faults;
       }},
      {"digital configuration", [this] { return Dialog("CLK", forms_->digitalSetupForm); }},
      {"advanced clock", [this] { return Advanced([](QWidget*) {}); }},
      {"filter tool, its plot's texts too",
       [this] {
         form_->PluginMenuItems()[3]->trigger();
         PumpEvents();
         Faults faults = TextFaults(forms_->filterTool);
         for (const TextFault& f : PlotTexts(forms_->filterTool)) faults.push_back(f);
         forms_->filterTool->hide();
         return faults;
       }},
      {"filter tool, its plot's gain labels at their longest",
       [this] {
         return FilterTool([](TZT* tool) {
           tool->gainTop = 120;
           tool->gainBottom = -120;
           tool->BodePlotPaint();
         }, true);
       }},
      {"coefficient listing",
       [this] {
         forms_->filterTool->show();
         QTest::mouseClick(forms_->filterTool->CoeffButton, Qt::LeftButton);
         PumpEvents();
         QWidget* listing = forms_->filterTool->CoefficientWindow();
         Faults faults = listing ? TextFaults(listing) : Faults{{"", "", "not shown"}};
         if (listing) listing->hide();
         forms_->filterTool->hide();
         return faults;
       }},
      {"SAR control",
       [this] {
         TSARData* sar = Find<TSARData>(form_->Page(1));
         if (!sar || !sar->ControlForm()) return Faults{{"", "", "no SAR readout"}};
         return Shown(sar->ControlForm());
       }},
      // The kit's pages, each in its board window.
      {"QMX7XXX page 1", [this] { return Page(form_, 0); }},
      // (broken on purpose, see below)
      {"QMX7XXX page 1, the audio interface filled again",
       [this] {
         form_->SelectDiagram(0);
         PumpEvents();
         TGUIObject* block = nullptr;
         for (unsigned i = 0; i < form_->CurrentPage()->ObjectCount(); ++i)
           if (form_->CurrentPage()->Object(i)->GetFunctionName() == "AudioInterface")
             block = form_->CurrentPage()->Object(i);
         if (!block) return Faults{{"", "", "no audio interface"}};
         block->SetStyle(2, 0xDCE6F2, block->GetStrokeMode(), block->GetStrokeColour());
         Faults faults = PageTextFaults(form_);
         block->SetStyle(0, block->GetFillColour(), block->GetStrokeMode(), block->GetStrokeColour());
         return faults;
       },
       {"page text: Audio Interface (I2S)"}},
      {"QMX7XXX page 2", [this] { return Page(form_, 1); }},
      {"QMX7XXX clock page", [this] { return Page(form_, -1); }},
      {"QMX7200 page 1",
       [this] {
         TDiagramForm* other = Open("QMX7200EVM", "", false);
         Faults faults = Page(other, 0);
         delete other->SubWindow();
         PumpEvents();
         return faults;
       }},
      {"QMX7XXX gain edits at their widest, at every zoom", [this] { return WidestEdits(form_); }},
      {"QMX7200 gain edits at their widest, at every zoom",
       [this] {
         TDiagramForm* other = Open("QMX7200EVM", "", false);
         Faults faults = WidestEdits(other);
         delete other->SubWindow();
         PumpEvents();
         return faults;
       }},

      // Broken on purpose, each in one way the check must see.
      {"filter tool, its Coeff button narrowed",
       [this] { return FilterTool([](TZT* tool) { tool->CoeffButton->resize(36, 25); }); }, {"CoeffButton: Coeff"}},
      {"filter tool, a group title longer than its box",
       [this] {
         return FilterTool([](TZT* tool) { tool->GroupBox1->setTitle("Graph of the gain and the phase"); });
       },
       {"QGroupBox: Graph of the gain and the phase"}},
      {"filter tool, a check box out of its group",
       [this] { return FilterTool([](TZT* tool) { tool->Phase->move(60, 36); }); }, {"QGroupBox/Phase: Phase"}},
      {"filter tool, a column too narrow for its cells",
       [this] { return FilterTool([](TZT* tool) { tool->Parameters->setColumnWidth(4, 20); }); },
       {"Parameters/QHeaderView: Fc [Hz]", "Parameters: 108", "Parameters: 217", "Parameters: 435"}},
      {"filter tool, a check box's text under the Update button",
       [this] {
         return FilterTool([](TZT* tool) {
           tool->SetAsyncWrite(true);
           tool->UpdateCodec->move(760, 433);
         });
       },
       {"QGroupBox/Gain: Gain", "QGroupBox/Phase: Phase", "UpdateCodec: Update"}},
      {"filter tool, its Fs: label against its edit",
       [this] { return FilterTool([](TZT* tool) { tool->StaticText1->move(710, 360); }); }, {"QLabel: Fs:"}},
      {"filter tool, a check box's text against its group's frame",
       [this] { return FilterTool([](TZT* tool) { tool->Phase->move(8, 41); }); }, {"QGroupBox/Phase: Phase"}},
      {"SAR, the Throughput box against its caption",
       [this] {
         QComboBox* box = forms_->sarForm->Throughput;
         const QPoint at = box->pos();
         box->move(240, at.y());
         Faults faults = Dialog("SAR", forms_->sarForm);
         box->move(at);
         return faults;
       },
       {"QLabel: Throughput"}},
      {"filter tool, its gain labels where they crossed the plot's frame",
       [this] {
         // The axes as they were drawn: a label at (2, y - 10) left of a frame
         // at x 50; and one whose ink ends a pixel short of it.
         TZT tool;
         return PaintedTextFaults(tool.BodePlot, tool.BodePlot->size(), [](QPaintDevice& device) {
           QPainter painter(&device);
           painter.setFont(QFont("Arial", 10));
           painter.setPen(QColor(0x80, 0x80, 0x80));
           painter.drawRect(50, 10, 737, 292);
           painter.setPen(Qt::white);
           painter.drawText(QRect(2, 292, 200, 40), Qt::AlignLeft | Qt::AlignTop, "-12.0[dB]");
           const QRectF ink = QFontMetricsF(painter.font(), &device).tightBoundingRect("0.0[dB]");
           painter.drawText(QPointF(50 - ink.right(), 156), "0.0[dB]");
         });
       },
       {"BodePlot: -12.0[dB]", "BodePlot: 0.0[dB]"}},
      {"advanced clock, the rate beside its caption again",
       [this] {
         return Advanced([](QWidget* advanced) {
           advanced->findChild<QLabel*>("ADCSampleRate")->move(150, 88);
         });
       },
       {"ADCGroup/QLabel: ADC Fs = ", "ADCGroup/ADCSampleRate: 48000"}},
      {"advanced clock, the DAC's OSR edit partly out of its box",
       [this] {
         return Advanced([](QWidget* advanced) { advanced->findChild<QLineEdit*>("DOSR")->move(50, 24); });
       },
       {"DACGroup/DOSRBox/DOSR: 128"}},
      {"audio outputs, the discharge path box beside the common mode group again",
       [this] {
         QCheckBox* box = forms_->outputsForm->DisableInternalDischargePath;
         const QRect at = box->geometry();
         box->setGeometry(10, 212, 250, 20);
         Faults faults = Dialog("DePop", forms_->outputsForm);
         box->setGeometry(at);
         return faults;
       },
       {"DisableInternalDischargePath: Disable Internal Discharge Path"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const Faults faults = row.faults();
    std::set<std::string> found;
    for (const TextFault& f : faults) found.insert(f.where + ": " + f.text);
    EXPECT_EQ(found, row.expected) << row.name << ":" << Describe(faults);
  }
}

}  // namespace
