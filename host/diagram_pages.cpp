// The board window's pages: loading them, the current page and the page
// commands, the first show, the clock page, the View menu's page items,
// the pages' init and load scripts, and which pages may stream.
#include "host/diagram_form.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QMenu>
#include <QSignalBlocker>

#include <atomic>
#include <cstdio>
#include <string>

#include "common/page_drawing.h"
#include "diagram/block_diagram.h"
#include "diagram/processing_blocks.h"
#include "registers/i2c_command.h"
#include "platform/library.h"
#include "platform/log.h"
#include "platform/text.h"

#include "platform/gui/dialogs.h"
#include "host/load_form.h"
#include "host/window_util.h"

int TDiagramForm::CountDiagramAttributes(pugi::xml_node node) {
  int count = 0;
  for (;;) {
    char name[32];
    std::snprintf(name, sizeof name, "Diagram-%i", count + 1);
    if (!node.attribute(name)) return count;
    ++count;
  }
}

TBlockDiagram* TDiagramForm::LoadPage(const std::string& fileName) {
  try {
    return new TBlockDiagram(fileName, context);
  } catch (const std::exception& error) {
    // The window goes on with the pages that load.
    const std::string text = "The diagram " + platform::Cut(fileName) + " cannot be loaded: " + error.what();
    platform::LogLine(text);
    // The load window stays on top: it would cover the message. It comes
    // back for the pages still to load.
    const bool loading = LoadForm && LoadForm->isVisible();
    if (loading) LoadForm->hide();
    Dialogs().Warning(this, "Palisar", text);
    if (loading) LoadForm->show();
    return nullptr;
  }
}

bool TDiagramForm::AddDiagram(const std::string& fileName) {
  if (pageCount >= kMaxPages) return false;
  TBlockDiagram* page = LoadPage(fileName);
  if (!page) return false;
  if (boardAcquired) RunLoadScripts(page);
  currentPage = page;
  page->SetVisible(false);
  pages[pageCount++] = page;
  return true;
}

void TDiagramForm::MakeCurrent(TBlockDiagram* page) {
  if (currentPage) currentPage->SetVisible(false);
  currentPage = page;
  if (currentPage) currentPage->SetVisible(true);
  if (drawing && currentPage) drawing->SetObjects(currentPage->Objects(), currentPage->ObjectCount());
  HoldStreams();
}

void TDiagramForm::HoldStreams() {
  for (int i = 0; i < pageCount; ++i) pages[i]->HoldStreams(!onScreen || pages[i] != currentPage);
  if (clockPage) clockPage->HoldStreams(!onScreen || clockPage != currentPage);
}

void TDiagramForm::SelectDiagram(int index) {
  if (index < 0 || index >= pageCount) return;
  MakeCurrent(pages[index]);
  ZoomBoxChange();
  UpdateObjects(0, 0, 0, true);
  RunInitScript(currentPage);
}

void TDiagramForm::ShowPage(int index) {
  if (index < 0 || index >= pageCount || pages[index] == currentPage) return;
  SelectDiagram(index);
}

void TDiagramForm::InitView() {
  pbForm->Window().SetCallbacks(this, ObjectWrite, ObjectRefreshRequest, nullptr);
  if (pageCount == 0) return;
  currentPage = previousPage = pages[0];
  pages[pageCount] = nullptr;
  for (int i = 0; i < pageCount; ++i) pages[i]->SetZoom(zoom, 0, 0);
  if (clockPage) clockPage->SetZoom(zoom, 0, 0);
  currentPage->SetVisible(true);
  // Selecting the entry recomputes the zoom once, so the bitmap matches the box.
  {
    const QSignalBlocker quiet(ZoomBox);
    ZoomBox->setCurrentIndex(2);
  }
  ZoomBoxChange();
  RefreshInspector();
  if (currentPage->GetI2CAddress() == 0x30) RefreshClick();
}

void TDiagramForm::FormShow() {
  if (shown) return;
  shown = true;
  Test->setVisible(false);
  if (pageCount == 0) {
    // A board without a page that loads still gets its (empty) page.
    if (TBlockDiagram* empty = LoadPage("")) {
      pages[0] = currentPage = empty;
      pageCount = 1;
    }
  }
  SelectDiagram(0);
  InitView();
  SizeBitmaps();
  drawingEnabled = true;
  Redraw();
  RepaintDiagram();
}

void TDiagramForm::ObjectClicked(TGUIObject* object) {
  if (!object || !currentPage) return;
  const std::string& name = object->GetFunctionName();
  if (name == "DConf") {
    if (!clockPage) {
      platform::LogLine("DConf: " + S(windowTitle()) + " has no clock page; the click is ignored");
      return;
    }
    ShowClockPage();
    return;
  } else if (name == "return") {
    if (!previousPage || currentPage == previousPage) return;
    MakeCurrent(previousPage);
  } else {
    return;
  }
  UpdateObjects(0, 0, 0, true);
  ZoomBoxChange();
}

void TDiagramForm::ShowClockPage() {
  // "return" must still lead back to a diagram page.
  if (!clockPage || currentPage == clockPage) return;
  previousPage = currentPage;
  MakeCurrent(clockPage);
  UpdateObjects(0, 0, 0, true);
  ZoomBoxChange();
}

QString TDiagramForm::PageCaption(const TBlockDiagram* page) {
  if (!page->GetTitle().empty()) return Q(page->GetTitle());
  // The file name without its folders ("QMX7XXX\\Page1.svg" gives "Page1.svg").
  const std::string& file = page->FileName();
  const size_t slash = file.find_last_of("\\/");
  return Q(slash == std::string::npos ? file : file.substr(slash + 1));
}

void TDiagramForm::AddPageMenuItems() {
  if (pageCount == 0 && !clockPage) return;
  View->addSeparator();
  // The page commands, one per loaded page; a fifth page has no named command.
  void (TDiagramForm::*const commands[kMaxPages])() = {&TDiagramForm::DisplayFullClick,
                                                       &TDiagramForm::DisplayPlaybackClick,
                                                       &TDiagramForm::DisplayRecordClick,
                                                       &TDiagramForm::DisplayTouchScreenClick, nullptr};
  for (int i = 0; i < pageCount; ++i) {
    QAction* item = View->addAction(PageCaption(pages[i]));
    item->setObjectName(QString("Page%1").arg(i + 1));
    auto command = commands[i];
    connect(item, &QAction::triggered, this, [this, command, i] {
      if (command) (this->*command)();
      else ShowPage(i);
    });
  }
  if (clockPage) {
    QAction* item = View->addAction(PageCaption(clockPage));
    item->setObjectName("ClockPage");
    connect(item, &QAction::triggered, this, [this] { ShowClockPage(); });
  }
}

TI2CCommand* TDiagramForm::InitScriptWindow(TBlockDiagram* page) {
  if (!page || page->GetInitScriptFile().empty()) return nullptr;
  auto found = initScripts.find(page);
  if (found != initScripts.end()) return found->second;
  auto* window = new TI2CCommand(this);
  window->setObjectName("InitScript");
  // A page's script window: its transfers and nothing else, nothing to record, narrow.
  window->SetCallbacks(this, CommandTransfer);
  // Only the current page's window is reachable from the menu: a closed one stops.
  window->SetStopOnClose(true);
  window->setWindowTitle(QString::fromStdString("Init Script: " + page->GetInitScriptFile()));
  window->Record->hide();
  window->setMinimumWidth(420);
  window->resize(420, window->height());
  if (!window->LoadScript(platform::MapPath(page->GetInitScriptFile())))
    platform::LogLine("Cannot read the init script " + platform::Cut(page->GetInitScriptFile()));
  initScripts[page] = window;
  return window;
}

void TDiagramForm::RunLoadScripts(TBlockDiagram* page) {
  if (page) page->RunLoadScripts(!simulation);
}

namespace {
std::atomic<int64_t> initScriptHoldMs{TDiagramForm::kInitScriptHoldMs};
}

void TDiagramForm::SetInitScriptHold(std::chrono::milliseconds hold) { initScriptHoldMs = hold.count(); }

std::chrono::milliseconds TDiagramForm::InitScriptHold() { return std::chrono::milliseconds(initScriptHoldMs.load()); }

void TDiagramForm::RunInitScript(TBlockDiagram* page) {
  TI2CCommand* window = InitScriptWindow(page);
  if (!window) return;
  const std::string name = platform::Cut(S(window->windowTitle()));
  if (window->Running()) {
    // What an earlier selection or connection started sets the page up
    // already: it goes on rather than run its first lines again.
    platform::LogLine(name + ": still runs, not started again");
    window->show();
    window->raise();
    return;
  }
  // One init script after another, as when each ran to its end at once: a
  // run of another page that still goes on ends first.
  StopInitScripts(window, "another page's init script runs");
  if (!window->RunSyncFor(InitScriptHold()))
    platform::LogLine(name + ": runs on in its window (Stop ends it)");
}

void TDiagramForm::StopInitScripts(TI2CCommand* except, const char* why) {
  for (auto& entry : initScripts) {
    TI2CCommand* window = entry.second;
    if (window == except || !window->Running()) continue;
    platform::LogLine(platform::Cut(S(window->windowTitle())) + ": stopped, " + why);
    window->Stop();
    // Shown only for the run: it goes with it.
    if (window->ShownForHandOver()) window->hide();
  }
}
