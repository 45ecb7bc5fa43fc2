// The board window's side of the codec plug-in: its View menu items, its
// command callback, its scripts, and its block transfers with the hand-over
// of other threads' writes to the register image.
#include "host/diagram_form.h"

#include <QAction>
#include <QMenu>
#include <QPlainTextEdit>

#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "diagram/block_diagram.h"
#include "registers/i2c_command.h"
#include "platform/library.h"
#include "platform/log.h"

#include "host/diagram_form_internal.h"
#include "link/usbi2c.h"
#include "platform/gui/gui.h"

void TDiagramForm::AddPluginMenuItems() {
  void* module = currentPage ? currentPage->GetModule() : nullptr;
  auto getItem = reinterpret_cast<TPluginGetMenuItem>(platform::ResolveSymbol(module, "_GetMenuItem"));
  if (!getItem) return;
  for (unsigned i = 0;; ++i) {
    const char* caption = getItem(i);
    if (!caption) break;
    QAction* item = View->addAction(QString::fromUtf8(caption));
    item->setData(int(i));
    connect(item, &QAction::triggered, this, [this, item] { MenuItemsClick(item); });
    pluginMenuItems.push_back(item);
  }
}

void TDiagramForm::MenuItemsClick(QAction* item) {
  if (!item || !currentPage || !pluginInstance) return;
  auto select =
      reinterpret_cast<TPluginSelectMenu>(platform::ResolveSymbol(currentPage->GetModule(), "_SelectMenu"));
  if (select) select(pluginInstance, unsigned(item->data().toInt()));
}

int TDiagramForm::PluginCommandCallback(void* form, TCodecCommand* command) {
  auto* self = static_cast<TDiagramForm*>(form);
  if (!self || !command) return 0;
  switch (command->type) {
    case kCodecRunScript: {
      const auto* request = static_cast<const TCodecScriptRequest*>(command->payload);
      if (!request) break;
      // Scripts drive a window: they run on the GUI thread.
      gui::SendSync([self, request] { self->RunPluginScript(request); });
      break;
    }
    case kCodecBlockTransfer: {
      const auto* t = static_cast<const TI2CBlockTransfer*>(command->payload);
      if (t) self->PluginBlockTransfer(t->device, t->book, t->page, t->reg, t->count, t->data, t->read != 0);
      break;
    }
    case kCodecProgress: {
      const auto* progress = static_cast<const TCodecProgress*>(command->payload);
      if (!progress) break;
      if (progress->total == 0) {
        // A step of no total has no place on the bar: the bar stays.
        platform::LogLine("Plug-in progress with a total of 0 is ignored: " +
                          std::string(progress->text ? progress->text : ""));
        break;
      }
      const std::string text = progress->text ? progress->text : "";
      const int position = int(uint64_t(progress->step) * 15 / progress->total + 80);
      auto show = [self, text, position] {
        self->loadProgress->SetText(text);
        self->loadProgress->SetPosition(position);
        self->loadProgress->Repaint();
      };
      if (gui::IsGuiThread()) show();
      else gui::Post(self, show);
      break;
    }
    case kCodecLogLine: {
      const auto* line = static_cast<const TCodecLogLine*>(command->payload);
      if (line && line->text) platform::LogLine(line->text);
      break;
    }
    default:
      break;
  }
  return 0;
}

void TDiagramForm::RunPluginScript(const TCodecScriptRequest* request) {
  if (!request || !request->script) return;
  TI2CCommand window(this);
  window.SetCallbacks(this, CommandTransfer, ScriptGPIO, ScriptDecode, ScriptPageQuery, ScriptLog);
  window.CommandBuffer->setPlainText(QString::fromUtf8(request->script));
  if (request->progressBar) window.SetProgressBar(request->progressBar);
  window.RunSync();
  window.SetProgressBar(nullptr);
}

void TDiagramForm::PluginBlockTransfer(unsigned device, int book, int page, int first, int count, uint8_t* data,
                                       bool read) {
  if (!data || count <= 0 || book < 0 || page < 0 || first < 0) return;
  if (read) {
    // Into the plug-in's buffer only; the image is not touched.
    link->ReadRegisters(data, device, unsigned(book), unsigned(page), unsigned(first), unsigned(count));
    return;
  }
  // Only a block that stays inside its page of the image is mirrored there,
  // and only once the board has taken it: the image holds no refused value.
  uint8_t* image = first + count <= int(TUSBI2C::kPageBytes)
                       ? link->GetRegisterImage(device, unsigned(book), unsigned(page), unsigned(first))
                       : nullptr;
  auto refused = [&] {
    platform::LogF("%s: the board refused a plug-in write of %d bytes to device 0x%02X, book %d, page %d, register %d",
                   boardName_.c_str(), count, device & 0xFF, book, page, first);
  };
  if (gui::IsGuiThread()) {
    ApplyPluginWrites();  // the writer thread's earlier blocks first
    const bool ok = link->WriteRegisters(data, device, unsigned(book), unsigned(page), unsigned(first), unsigned(count));
    if (!ok && link->HasBoard()) return refused();
    if (image) {
      std::memcpy(image, data, size_t(count));
      RefreshInspector();
    }
    return;
  }
  // Another thread (the plug-in's writer): the link takes the block here;
  // the image and the inspector belong to the GUI thread, which takes every
  // block queued so far in one pass, leaving what was written after it.
  auto watch = std::make_unique<TWriteWatch>();
  if (!link->WriteWatched(data, device, unsigned(book), unsigned(page), unsigned(first), unsigned(count), *watch))
    return refused();
  if (!image) {
    link->EndWatch(*watch);
    return;
  }
  bool wasEmpty;
  {
    std::lock_guard<std::mutex> lock(pluginWritesMutex_);
    wasEmpty = pluginWrites_.empty();
    pluginWrites_.push_back({std::vector<uint8_t>(data, data + count), std::move(watch)});
  }
  if (wasEmpty) gui::Post(this, [this] { ApplyPluginWrites(); });
}

void TDiagramForm::ApplyPluginWrites() {
  std::vector<TPluginWrite> writes;
  {
    std::lock_guard<std::mutex> lock(pluginWritesMutex_);
    writes.swap(pluginWrites_);
  }
  if (writes.empty()) return;
  for (TPluginWrite& w : writes) {
    link->EndWatch(*w.watch);
    const TWriteWatch& at = *w.watch;
    uint8_t* image = link->GetRegisterImage(at.address, at.book, at.page, at.reg);
    for (size_t i = 0; image && i < w.bytes.size(); ++i)
      if (!at.written[i]) image[i] = w.bytes[i];
  }
  RefreshInspector();
}
