// The board window's register traffic with its board: widget writes and
// polls, block transfers and the book and page they name, the inspector's
// and the scripts' callbacks, write records, the link thread's refresh
// report, whole-page reads and the register map.
#include "host/diagram_form.h"

#include <QCheckBox>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "diagram/block_diagram.h"
#include "registers/i2c_command.h"
#include "registers/register_inspector.h"
#include "registers/register_list_text.h"
#include "platform/library.h"
#include "platform/log.h"
#include "platform/text.h"

#include "link/usbi2c.h"
#include "platform/gui/gui.h"

void TDiagramForm::StopTraffic() {
  // Keeps serving synchronous sends, so a link thread blocked in one ends.
  link->Stop();
}

unsigned TDiagramForm::LinkAddress(int device) const { return SPI->isChecked() ? 0u : unsigned(device) & 0xFF; }

void TDiagramForm::RefreshInspector() {
  if (!currentPage) return;
  const unsigned address = unsigned(currentPage->GetI2CAddress());
  inspector->UpdateGrid(int(address), link->GetRegisterImage(address, 0, 0, 0), -1, link->GetImageSize(address));
}

void TDiagramForm::ObjectWrite(void* form, int device, int page, int first, int count) {
  auto* self = static_cast<TDiagramForm*>(form);
  TUSBI2C* link = self->link;
  const unsigned address = unsigned(device);
  if (count > 0 && page >= 0 && first >= 0) {
    // The window has changed its bytes in the image already.
    if (uint8_t* image = link->GetRegisterImage(address, 0, unsigned(page), unsigned(first)))
      link->WriteRegisters(image, self->LinkAddress(device), 0, unsigned(page), unsigned(first), unsigned(count));
  }
  // The inspector's grid (a few hundred cells) follows the write rather than
  // delaying it; nothing is drawn in between, so the user sees the same.
  self->inspector->UpdateGrid(device, link->GetRegisterImage(address, 0, 0, 0), -1, link->GetImageSize(address));
  self->UpdateObjects(device, page, first, false, count);
}

void TDiagramForm::ObjectRefreshRequest(void* form, int device, int page, int first, int count, int rate) {
  auto* self = static_cast<TDiagramForm*>(form);
  const std::array<int, 4> block = {device, page, first, count};
  if (rate != 0 && page >= 0 && first >= 0 && count > 0) {
    self->refreshOwner = block;
    self->link->StartRefresh(self->LinkAddress(device), 0, unsigned(page), unsigned(first), unsigned(count), rate,
                             self, RefreshCallback);
    return;
  }
  // A stop that names a block stops only that block's refresh: a widget
  // that leaves must not end the stream another one has started since.
  if (count > 0 && block != self->refreshOwner) return;
  self->refreshOwner = {};
  self->link->StopRefresh();
}

bool TDiagramForm::ImagePlace(unsigned address, const uint8_t* bytes, int reg, unsigned& book, unsigned& page) {
  const uint8_t* base = link->GetRegisterImage(address, 0, 0, 0);
  if (!base || !bytes || reg < 0) return false;
  const uintptr_t from = reinterpret_cast<uintptr_t>(base), at = reinterpret_cast<uintptr_t>(bytes);
  if (at < from || at - from >= link->GetImageSize(address)) return false;
  const uintptr_t offset = at - from;
  if (offset % TUSBI2C::kPageBytes != unsigned(reg)) return false;
  book = unsigned(offset / TUSBI2C::kBookBytes);
  page = unsigned(offset % TUSBI2C::kBookBytes / TUSBI2C::kPageBytes);
  return true;
}

bool TDiagramForm::WriteMirrored(unsigned address, unsigned book, unsigned page, int reg, const uint8_t* data,
                                 int count, bool mirror) {
  // Each byte lands in the image where it lands on the board: after a page
  // or book select inside the block, on the place that select chose.
  std::vector<uint8_t*> at;
  std::vector<uint8_t> before;
  if (mirror) {
    ScriptPlace place{true, link->IsPaged(address), link->IsBooked(address), int(book), int(page)};
    for (int i = 0; i < count; ++i) {
      uint8_t* byte = link->GetRegisterImage(address, unsigned(place.book), unsigned(place.page), unsigned(reg + i));
      if (byte) {
        at.push_back(byte);
        before.push_back(*byte);
        *byte = data[i];
      }
      place.Follow(reg + i, data + i, 1);
    }
  }
  const bool ok = link->WriteRegisters(data, address, book, page, unsigned(reg), unsigned(count));
  // What the board refused is not what it holds.
  if (!ok && link->HasBoard())
    for (size_t i = 0; i < at.size(); ++i) *at[i] = before[i];
  return ok;
}

int TDiagramForm::DoBlockTransfer(unsigned address, unsigned book, unsigned page, int reg, uint8_t* data, int count,
                                  bool read, bool refresh, const unsigned* back) {
  bool ok = false, lastKnown = false;
  // Block transfers are never recorded.
  link->SetWriteCallback(nullptr, nullptr);
  if (data && count > 0 && reg >= 0) {
    // Only a block that stays inside its page of the image is mirrored there.
    uint8_t* image = reg + count <= int(TUSBI2C::kPageBytes)
                         ? link->GetRegisterImage(address, book, page, unsigned(reg))
                         : nullptr;
    if (read) {
      ok = link->ReadRegisters(data, address, book, page, unsigned(reg), unsigned(count));
      // A failed read gives the caller the last known values.
      if (image && image != data) ok ? std::memcpy(image, data, size_t(count)) : std::memcpy(data, image, size_t(count));
      lastKnown = !ok && image;
    } else {
      ok = WriteMirrored(address, book, page, reg, data, count, image && image != data);
      // Device 0x70 takes its value in the register byte.
      if (address == 0x70 && book == 0) {
        if (uint8_t* block = link->GetRegisterImage(address, 0, page, 0)) std::memset(block, reg & 0xFF, 7);
      }
    }
    // The device goes back to the book and page it was on (unless the
    // window wrote the page register itself).
    if (back && (back[0] != book || back[1] != page) && (read || reg != 0)) {
      const uint8_t pageByte = uint8_t(back[1]);
      if (back[0] == book) link->WriteRegisters(&pageByte, address, book, page, 0, 1);
      else link->WriteRegisters(&pageByte, address, back[0], back[1], 0, 1);
    }
  }
  link->SetWriteCallback(this, RecordWrite);
  if (refresh && currentPage && book == 0) {
    RefreshInspector();
    UpdateObjects(0, 0, 0, true);
    Redraw();
    RepaintDiagram();
  }
  const bool board = link->HasBoard();
  if (!ok && !board && !noBoardLogged_.exchange(true))
    platform::LogLine(boardName_ + ": no board; register transfers change the register image only");
  return TransferResult(ok, lastKnown, board);
}

void TDiagramForm::BlockTransfer(void* form, int device, int reg, uint8_t* data, int count, bool read, bool refresh) {
  auto* self = static_cast<TDiagramForm*>(form);
  const unsigned address = unsigned(device);
  const unsigned was[2] = {self->link->GetBook(address), self->link->GetPage(address)};
  unsigned book = was[0], page = was[1];
  // A register window's bytes belong to their page, whatever page another
  // window left the device on; the link selects it for the transfer.
  self->ImagePlace(address, data, reg, book, page);
  self->DoBlockTransfer(address, book, page, reg, data, count, read, refresh, was);
}

int TDiagramForm::CommandTransfer(void* form, int device, ScriptPlace& place, int reg, uint8_t* data, int count,
                                  bool read, bool last) {
  auto* self = static_cast<TDiagramForm*>(form);
  const unsigned address = unsigned(device);
  // A run starts where the device is; its own lines move it from there.
  if (!place.placed) self->link->PlaceScript(address, place);
  return self->DoBlockTransfer(address, unsigned(place.book), unsigned(place.page), reg, data, count, read, last,
                               nullptr);
}

void TDiagramForm::InspectorAccess(void* form, int device, int book, int page, int reg, int mode) {
  auto* self = static_cast<TDiagramForm*>(form);
  if (mode == 0) {
    if (book == 0 && self->currentPage) {
      // One drawing pass for the whole fan-out, as a write's notification.
      const bool outer = self->HoldDrawing();
      TBlockDiagram* current = self->currentPage;
      for (unsigned i = 0; i < current->RegisterWindowCount(); ++i)
        if (TI2CObject* window = current->RegisterWindow(i)) window->OnRegisterChanged(device, page, unsigned(reg));
      self->ReleaseDrawing(outer);
    }
    if (book >= 0 && page >= 0 && reg >= 0) {
      if (uint8_t* image = self->link->GetRegisterImage(unsigned(device), unsigned(book), unsigned(page), unsigned(reg)))
        self->link->WriteRegisters(image, self->LinkAddress(device), unsigned(book), unsigned(page), unsigned(reg), 1);
    }
  } else if (mode == 1) {
    if (!self->currentPage) return;
    self->ReadAllPages(self->currentPage->GetI2CAddress(), book, page, page);
    self->UpdateObjects(0, 0, 0, true);
    self->RefreshInspector();
  }
}

void TDiagramForm::InspectorDescribe(void* form, std::vector<std::string>& lines, int device, int page, int reg,
                                     int value) {
  static_cast<TDiagramForm*>(form)->link->GetRegisterDescription(lines, unsigned(device), page, reg, value);
}

int TDiagramForm::ScriptGPIO(void* form, int value, bool on) {
  return static_cast<TDiagramForm*>(form)->link->SetBoardBits(uint8_t(value), on) ? 1 : 0;
}

void TDiagramForm::ScriptDecode(void* form, std::vector<std::string>& lines, int device, int page, int reg,
                                int value) {
  static_cast<TDiagramForm*>(form)->link->GetRegisterComments(lines, unsigned(device), page, reg, value);
}

int TDiagramForm::ScriptPageQuery(void* form, int device) {
  return int(static_cast<TDiagramForm*>(form)->link->GetPage(unsigned(device)));
}

char* TDiagramForm::ScriptLog(void* form) { return static_cast<TDiagramForm*>(form)->link->GetCodecLog(); }

std::string TDiagramForm::RecordLine(const uint8_t* data, unsigned device, unsigned reg, unsigned count) {
  std::string line = "w";
  char byte[8];
  std::snprintf(byte, sizeof byte, " %02x", device & 0xFF);
  line += byte;
  std::snprintf(byte, sizeof byte, " %02x", reg & 0xFF);
  line += byte;
  for (unsigned i = 0; data && i < count; ++i) {
    std::snprintf(byte, sizeof byte, " %02x", data[i]);
    line += byte;
  }
  return line;
}

void TDiagramForm::RecordWrite(void* form, const uint8_t* data, unsigned device, unsigned, unsigned, unsigned reg,
                               unsigned count) {
  auto* self = static_cast<TDiagramForm*>(form);
  const std::string line = RecordLine(data, device, reg, count);
  auto append = [self, line] {
    if (self->commandWindow->Recording()) self->commandWindow->AppendCommandLine(line);
  };
  // Writes of other threads arrive inside the link's locks: they only queue.
  if (gui::IsGuiThread()) append();
  else gui::Post(self, append);
}

int TDiagramForm::RefreshCallback(void* form, unsigned device, unsigned book, unsigned page, unsigned reg,
                                  unsigned count) {
  auto* self = static_cast<TDiagramForm*>(form);
  self->lastRefresh[0] = int(device);
  self->lastRefresh[1] = int(book);
  self->lastRefresh[2] = int(page);
  self->lastRefresh[3] = int(reg);
  self->lastRefresh[4] = int(count);
  // Message 1026: the link thread waits until the GUI thread has handled it.
  gui::SendSync([self] { self->RegisterDataMessage(); });
  return 0;
}

void TDiagramForm::RegisterDataMessage() {
  // The link thread waits in its report: the image is the GUI thread's alone.
  link->ApplyRefresh();
  if (closing_.load()) return;
  NotifyRegisterObjects(lastRefresh[0], lastRefresh[1], lastRefresh[2], lastRefresh[3], lastRefresh[4]);
}

void TDiagramForm::ReadAllPages(int device, int book, int firstPage, int lastPage) {
  const unsigned saved = link->GetPage(unsigned(device));
  const unsigned address = LinkAddress(device);
  for (int page = std::max(firstPage, 0); page <= lastPage; ++page) {
    if (uint8_t* image = link->GetRegisterImage(unsigned(device), unsigned(book), unsigned(page), 0))
      link->ReadRegisters(image, address, unsigned(book), unsigned(page), 0, TUSBI2C::kPageBytes);
  }
  // The codec is left on the page it was on.
  if (device == 0x30) {
    const uint8_t page = uint8_t(saved);
    link->WriteRegisters(&page, address, unsigned(book), 0, 0, 1);
  }
}

void TDiagramForm::LoadRegisterMapFile(const std::string& fileName, int device) {
  const std::string path = platform::MapPath(fileName);
  const unsigned address = unsigned(device);
  if (fileName.find(".xml") != std::string::npos) {
    if (!link->LoadRegisterMap(path, address)) return;
    std::vector<std::string> lines;
    for (int page = 0; page < 256; ++page) {
      for (int reg = 0; reg < 128; ++reg) {
        lines.clear();
        link->GetRegisterComments(lines, address, page, reg, 0);
        if (lines.size() < 2) continue;
        // "#%  Name, Data ..." gives the name.
        const std::string& line = lines[1];
        std::string name = line.size() > 3 ? line.substr(3) : std::string();
        const size_t data = name.find(", Data");
        if (data != std::string::npos) name.resize(data);
        inspector->SetDescription(0, page, reg, name, 0xFF);
      }
    }
    return;
  }
  std::vector<RegisterListEntry> entries;
  std::string error;
  std::vector<std::string> warnings;
  if (!RegisterListText::Read(path, entries, error, warnings))
    platform::LogLine("Cannot read the register list " + platform::Cut(fileName) + ": " + error);
  for (const std::string& warning : warnings) platform::LogLine(warning);
  uint8_t* image = link->GetRegisterImage(address, 0, 0, 0);
  const unsigned size = link->GetImageSize(address);
  for (const RegisterListEntry& entry : entries) {
    inspector->SetDescription(0, entry.page, entry.reg, entry.name, int(entry.mask & 0xFF));
    const unsigned offset = unsigned(entry.page) * TUSBI2C::kPageBytes + unsigned(entry.reg);
    if (image && offset < size) image[offset] = uint8_t(entry.defaultValue & 0xFF);
  }
}

void TDiagramForm::RefreshClick() {
  if (!currentPage) return;
  const int device = currentPage->GetI2CAddress();
  const unsigned address = LinkAddress(device);
  int last = 0;
  if (currentPage->GetPages() >= 2) {
    // Page 0, book 0 first: the reads then start from a known selection.
    const uint8_t zero = 0;
    link->WriteRegisters(&zero, address, 0, 0, 0, 1);
    link->WriteRegisters(&zero, address, 0, 0, 127, 1);
    last = 4;
  }
  ReadAllPages(device, 0, 0, last);
  RefreshInspector();
  UpdateObjects(0, 0, 0, true);
  Redraw();
  RepaintDiagram();
}
