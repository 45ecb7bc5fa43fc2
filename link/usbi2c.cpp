#include "link/usbi2c.h"

#include <algorithm>
#include <iterator>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "registers/command_script.h"
#include "registers/register_description.h"
#include "platform/log.h"

namespace {

// The boards' USB identifiers, given to the device-count function.
constexpr uint16_t kVendorId = 0x2B1E;
constexpr uint16_t kProductId = 0x0C0D;
constexpr unsigned kEEPROMSize = 0x10000;
constexpr uint8_t kEEPROMDevice = 0xA0;

std::mutex& LibraryNameMutex() {
  static std::mutex m;
  return m;
}

std::string& LibraryName() {
  static std::string name = "quillbus.dll";
  return name;
}

// The original library's exports carry compiler-decorated names, which an
// ELF symbol cannot: each decorated name maps to the plain export.
struct Binding {
  const char* decorated;
  const char* exported;
};

constexpr Binding kBindings[] = {
    {"?OrvaneUsbHidRefresh@@YAHGG@Z", "OrvaneUsbHidRefresh"},
    {"?OrvaneUsbHidGetDevHandle@@YAPAXH@Z", "OrvaneUsbHidGetDevHandle"},
    {"?OrvaneUsbHidWrite@@YA_NHPAEG@Z", "OrvaneUsbHidWrite"},
    {"?OrvaneUsbHidRead@@YA_NHPAEG@Z", "OrvaneUsbHidRead"},
    {"?OrvaneUsbHidGetDevicePathName@@YA_NHPAXK@Z", "OrvaneUsbHidGetDevicePathName"},
    {"?OrvaneUsbHidGetDevInfo@@YA_NHPAG00@Z", "OrvaneUsbHidGetDevInfo"},
    {"?OrvaneUsbHidGetCurSamplingRate@@YA_NHEPAK@Z", "OrvaneUsbHidGetCurSamplingRate"},
    {"?OrvaneUsbHidProgramEeprom@@YA_NHPADEEE@Z", "OrvaneUsbHidProgramEeprom"},
    {"?OrvaneSetLogCB@@YAXP6AXPAD@Z@Z", "OrvaneSetLogCB"},
    {"?OrvaneTCPConnect@@YAHPADH@Z", "OrvaneTCPConnect"},
    {"?OrvaneGetCodecLog@@YAPADXZ", "OrvaneGetCodecLog"},
    {"?OrvaneUsbHidGetOutRptLen@@YAGH@Z", "OrvaneUsbHidGetOutRptLen"},
    {"?OrvaneUsbHidGetInRptLen@@YAGH@Z", "OrvaneUsbHidGetInRptLen"},
    {"?OrvaneUsbHidPolling@@YA_NHPAEG@Z", "OrvaneUsbHidPolling"},
    {"?OrvaneUsbHidWriteIOEP@@YA_NHPAEG@Z", "OrvaneUsbHidWriteIOEP"},
    {"?OrvaneUsbHidGetManufactureString@@YA_NHPAXK@Z", "OrvaneUsbHidGetManufactureString"},
    {"?OrvaneUsbHidGetProductString@@YA_NHPAXK@Z", "OrvaneUsbHidGetProductString"},
};

// UTF-16 to UTF-8 into `out` of `size` bytes; always terminated, and a
// character that does not fit whole is left out.
void Utf16ToNarrow(const char16_t* in, size_t inLength, char* out, size_t size) {
  size_t o = 0;
  for (size_t i = 0; i < inLength && in[i]; ++i) {
    uint32_t c = in[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < inLength && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (in[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = '?';
    }
    char buf[4];
    size_t n;
    if (c < 0x80) {
      buf[0] = static_cast<char>(c);
      n = 1;
    } else if (c < 0x800) {
      buf[0] = static_cast<char>(0xC0 | (c >> 6));
      buf[1] = static_cast<char>(0x80 | (c & 0x3F));
      n = 2;
    } else if (c < 0x10000) {
      buf[0] = static_cast<char>(0xE0 | (c >> 12));
      buf[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      buf[2] = static_cast<char>(0x80 | (c & 0x3F));
      n = 3;
    } else {
      buf[0] = static_cast<char>(0xF0 | (c >> 18));
      buf[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      buf[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      buf[3] = static_cast<char>(0x80 | (c & 0x3F));
      n = 4;
    }
    if (o + n >= size) break;
    std::memcpy(out + o, buf, n);
    o += n;
  }
  out[o] = 0;
}

// The process-wide lock, then the link's own, released in reverse order.
class LinkLocks {
 public:
  explicit LinkLocks(platform::TCriticalSection& instance) : instance_(instance) {
    TUSBI2C::GlobalLock().Enter();
    instance_.Enter();
  }
  ~LinkLocks() {
    instance_.Leave();
    TUSBI2C::GlobalLock().Leave();
  }
  LinkLocks(const LinkLocks&) = delete;
  LinkLocks& operator=(const LinkLocks&) = delete;

 private:
  platform::TCriticalSection& instance_;
};

}  // namespace

struct TUSBI2C::Api {
  int (*refresh)(uint16_t, uint16_t) = nullptr;
  void* (*getDevHandle)(int) = nullptr;
  bool (*write)(int, uint8_t*, uint16_t) = nullptr;
  bool (*read)(int, uint8_t*, uint16_t) = nullptr;
  bool (*getDevicePathName)(int, void*, unsigned long) = nullptr;
  bool (*getDevInfo)(int, uint16_t*, uint16_t*, uint16_t*) = nullptr;
  bool (*getCurSamplingRate)(int, uint8_t, uint32_t*) = nullptr;
  bool (*programEeprom)(int, char*, uint8_t, uint8_t, uint8_t) = nullptr;
  void (*setLogCB)(void (*)(char*)) = nullptr;
  int (*tcpConnect)(char*, int) = nullptr;
  char* (*getCodecLog)() = nullptr;
  uint16_t (*getOutRptLen)(int) = nullptr;
  uint16_t (*getInRptLen)(int) = nullptr;
  bool (*polling)(int, uint8_t*, uint16_t) = nullptr;
  bool (*writeIOEP)(int, uint8_t*, uint16_t) = nullptr;
  bool (*getManufactureString)(int, void*, unsigned long) = nullptr;
  bool (*getProductString)(int, void*, unsigned long) = nullptr;
};

void UsbLogCallback(char* text) { platform::LogLine(std::string("From DLL: ") + (text ? text : "")); }

platform::TCriticalSection& TUSBI2C::GlobalLock() {
  // Never destroyed: links on other threads may outlive static destruction.
  static auto* lock = new platform::TCriticalSection;
  return *lock;
}

void TUSBI2C::SetLibraryName(const std::string& name) {
  std::lock_guard<std::mutex> lock(LibraryNameMutex());
  LibraryName() = name;
}

TUSBI2C::TUSBI2C(bool autoEnumerate) : autoEnumerate_(autoEnumerate) {
  GlobalLock();
  api_ = new Api;

  std::string name;
  {
    std::lock_guard<std::mutex> lock(LibraryNameMutex());
    name = LibraryName();
  }
  if (!library_.Load(name)) {
    platform::LogLine("Cannot load the board access library " + name + ": " + library_.Error());
  } else {
    // Resolved in the order of the table; a missing one is logged and stays null.
    void* resolved[std::size(kBindings)];
    bool all = true;
    for (size_t i = 0; i < std::size(kBindings); ++i) {
      resolved[i] = library_.Resolve(kBindings[i].exported);
      if (!resolved[i]) {
        all = false;
        platform::LogLine(std::string("The board access library lacks ") + kBindings[i].decorated);
      }
    }
    auto bind = [&](auto& fn, size_t i) { fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(resolved[i]); };
    bind(api_->refresh, 0);
    bind(api_->getDevHandle, 1);
    bind(api_->write, 2);
    bind(api_->read, 3);
    bind(api_->getDevicePathName, 4);
    bind(api_->getDevInfo, 5);
    bind(api_->getCurSamplingRate, 6);
    bind(api_->programEeprom, 7);
    bind(api_->setLogCB, 8);
    bind(api_->tcpConnect, 9);
    bind(api_->getCodecLog, 10);
    bind(api_->getOutRptLen, 11);
    bind(api_->getInRptLen, 12);
    bind(api_->polling, 13);
    bind(api_->writeIOEP, 14);
    bind(api_->getManufactureString, 15);
    bind(api_->getProductString, 16);
    libraryOk_ = all;
    if (api_->setLogCB) api_->setLogCB(UsbLogCallback);
  }

  devicePathName_[0] = 0;
  for (int i = 0; i < kSlots; ++i) {
    pagedAddresses_[i] = kNotPaged;
    bookedAddresses_[i] = kNotPaged;
    images_[i] = new uint8_t[kPageBytes]();
    imageSizes_[i] = kPageBytes;
  }
  // Started last: the thread must not run before the object is complete.
  Start();
}

TUSBI2C::~TUSBI2C() {
  if (!Finished()) Stop();
  for (int i = 0; i < kSlots; ++i) delete[] images_[i];
  for (int i = 0; i < kSlots; ++i) delete registerMaps_[i];
  library_.Free();
  delete api_;
}

void TUSBI2C::Stop() {
  Terminate();
  WaitForServing();
}

std::string TUSBI2C::CopyDevicePathName() const {
  std::lock_guard<std::mutex> lock(pathMutex_);
  return devicePathName_;
}

void TUSBI2C::SetConnectCallback(void* context, TUSBI2CConnectCallback callback) {
  std::scoped_lock lock(instanceLock_);
  connectContext_ = context;
  connectCallback_ = callback;
}

void TUSBI2C::SetWriteCallback(void* context, TUSBI2CWriteCallback callback) {
  std::scoped_lock lock(instanceLock_);
  writeContext_ = context;
  writeCallback_ = callback;
}

void TUSBI2C::Report(int status) {
  TUSBI2CConnectCallback callback;
  void* context;
  {
    std::scoped_lock lock(instanceLock_);
    callback = connectCallback_;
    context = connectContext_;
  }
  if (callback) callback(context, devicePathName_, deviceIndex_.load(), status);
}

// ---- device slots ------------------------------------------------------------

void TUSBI2C::AddDevice(unsigned address, unsigned books, unsigned pages) {
  if (deviceCount_ >= kSlots) return;
  const int slot = deviceCount_;
  if (pages != 0) {
    // Books beyond 255 cannot be selected; an image for them would be waste.
    const unsigned bookCount = std::min(books, 256u);
    const unsigned size = bookCount ? bookCount * kBookBytes : kBookBytes;
    delete[] images_[slot];
    images_[slot] = new uint8_t[size]();
    imageSizes_[slot] = size;
    pagedAddresses_[slot] = static_cast<int>(address);
    if (books != 0) bookedAddresses_[slot] = static_cast<int>(address);
  }
  slotAddresses_[slot] = static_cast<int>(address);
  ++deviceCount_;
}

int TUSBI2C::FindDevice(unsigned address) const {
  for (int i = 0; i < deviceCount_; ++i)
    if (slotAddresses_[i] == static_cast<int>(address)) return i;
  return -1;
}

int TUSBI2C::PagedSlot(unsigned address) const {
  if (address >= kNotPaged) return -1;
  for (int i = 0; i < kSlots; ++i)
    if (pagedAddresses_[i] == static_cast<int>(address)) return i;
  return -1;
}

int TUSBI2C::BookedSlot(unsigned address) const {
  if (address >= kNotPaged) return -1;
  for (int i = 0; i < kSlots; ++i)
    if (bookedAddresses_[i] == static_cast<int>(address)) return i;
  return -1;
}

uint8_t* TUSBI2C::GetRegisterImage(unsigned address, unsigned book, unsigned page, unsigned reg) {
  const int slot = FindDevice(address);
  if (slot < 0 || reg >= kPageBytes || page >= 256 || book >= 256) return nullptr;
  const size_t offset = size_t(book) * kBookBytes + size_t(page) * kPageBytes + reg;
  if (offset >= imageSizes_[slot]) return nullptr;
  return images_[slot] + offset;
}

unsigned TUSBI2C::GetImageSize(unsigned address) const {
  const int slot = FindDevice(address);
  return slot < 0 ? 0 : imageSizes_[slot];
}

unsigned TUSBI2C::GetImagePages(unsigned address) const {
  const unsigned size = GetImageSize(address);
  return size == 0 ? 0 : std::min(size / kPageBytes, 256u);
}

unsigned TUSBI2C::GetImageBooks(unsigned address) const {
  const unsigned size = GetImageSize(address);
  return size == 0 ? 0 : std::max(size / kBookBytes, 1u);
}

unsigned TUSBI2C::GetPage(unsigned address) const {
  // The caches change inside transfers of other threads (the refresh).
  std::scoped_lock lock(instanceLock_);
  const int slot = PagedSlot(address);
  return slot < 0 ? 0 : pageCache_[slot];
}

unsigned TUSBI2C::GetBook(unsigned address) const {
  std::scoped_lock lock(instanceLock_);
  const int slot = BookedSlot(address);
  return slot < 0 ? 0 : bookCache_[slot];
}

bool TUSBI2C::IsPaged(unsigned address) const { return PagedSlot(address) >= 0; }

bool TUSBI2C::IsBooked(unsigned address) const { return BookedSlot(address) >= 0; }

void TUSBI2C::PlaceScript(unsigned address, ScriptPlace& place) const {
  // One reading of both: a selection of another thread lands before or after it, never between.
  std::scoped_lock lock(instanceLock_);
  place = PlaceOf(address, GetBook(address), GetPage(address));
}

ScriptPlace TUSBI2C::PlaceOf(unsigned address, unsigned book, unsigned page) const {
  ScriptPlace place;
  place.placed = true;
  place.paged = IsPaged(address);
  place.booked = IsBooked(address);
  place.book = int(book);
  place.page = int(page);
  return place;
}

void TUSBI2C::ForgetSelection(int pagedSlot, int bookedSlot) {
  if (pagedSlot >= 0) pageSure_[pagedSlot] = false;
  if (bookedSlot >= 0) bookSure_[bookedSlot] = false;
}

void TUSBI2C::ForgetAllSelections() {
  LinkLocks lock(instanceLock_);
  for (int slot = 0; slot < kSlots; ++slot) ForgetSelection(slot, slot);
}

// ---- exchanges -------------------------------------------------------------------

bool TUSBI2C::ExecuteCommand(HIDCommandPacket& packet) {
  LinkLocks lock(instanceLock_);
  void* const handle = deviceHandle_.load();
  if (!handle) return false;
  bool ok = false;
  bool gone = false;
  if (api_->write && api_->read) {
    const HIDCommandPacket command = packet;
    const int index = deviceIndex_.load();
    // Every attempt costs the exchange's latency while both locks are held:
    // the retries are bounded in time as well as in number.
    const auto deadline = std::chrono::steady_clock::now() + kCommandTimeBudget;
    for (int attempt = 0; attempt < kMaxAttempts && !ok; ++attempt) {
      if (attempt) {
        // An unplugged board keeps its index but the library no longer knows its handle.
        if (api_->getDevHandle && api_->getDevHandle(index) != handle) {
          gone = true;
          break;
        }
        if (std::chrono::steady_clock::now() >= deadline) break;
        // A failed read may have left part of a reply behind: resend the command itself.
        packet = command;
      }
      ok = api_->write(index, packet.bytes, packet.bytes[0]) && api_->read(index, packet.bytes, command.bytes[0]);
    }
  }
  if (ok) {
    Report(kLinkCommandDone);
  } else {
    platform::LogF("ExecuteCommand: Error = %d", 0);
    if (gone) platform::LogLine("ExecuteCommand: the board is gone");
  }
  return ok;
}

// A refused select leaves the previously selected device on the bus: the
// command after it would reach that device, so the select's reply counts.
// It is sent again, as a refused write is, and what follows it waits for its answer.
bool TUSBI2C::SelectI2C(unsigned address) {
  HIDCommandPacket select = HIDCommandPacket::I2CSelect(static_cast<uint8_t>(address));
  return SendAnswered(select);
}

// A refused reply re-acquires the board and sends the command once more.
bool TUSBI2C::SendAnswered(HIDCommandPacket& command) {
  const HIDCommandPacket kept = command;
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (attempt) command = kept;
    if (!ExecuteCommand(command)) return false;
    if (command.Status() == 0) return true;
    Reacquire();
  }
  return false;
}

bool TUSBI2C::SendWrite(HIDCommandPacket& command) {
  if (SendAnswered(command)) return true;
  Report(kLinkWriteFailed);
  return false;
}

bool TUSBI2C::SwitchBook(unsigned address, unsigned book, unsigned page) {
  const int pagedSlot = PagedSlot(address);
  const int bookedSlot = BookedSlot(address);
  bookCache_[bookedSlot] = book;
  bookSure_[bookedSlot] = true;
  lastPagedDevice_ = address;
  const uint8_t zero = 0, bookByte = static_cast<uint8_t>(book), pageByte = static_cast<uint8_t>(page);
  if (pagedSlot >= 0) pageCache_[pagedSlot] = 0;
  if (Refused(WriteRegisters(&zero, address, book, 0, 0, 1))) return false;
  if (Refused(WriteRegisters(&bookByte, address, book, 0, 127, 1))) return false;
  if (pagedSlot >= 0) pageCache_[pagedSlot] = page;
  return !Refused(WriteRegisters(&pageByte, address, book, page, 0, 1));
}

// Without a board nothing is sent and nothing refused: the selects are
// skipped, but the caches follow the writes as if they had been made, so a
// simulated window keeps its pages apart.
bool TUSBI2C::Refused(bool ok) const { return !ok && deviceHandle_.load() != nullptr; }

// Sends the page select, and the book switch inside it, that the caches say
// are needed. A failed select leaves the caches holding the page and book
// asked for, but not sure: the next operation selects again, and the page
// a later caller is told is the one last named, never a guess.
bool TUSBI2C::SelectPageAndBook(unsigned address, unsigned book, unsigned page) {
  const int pagedSlot = PagedSlot(address);
  const int bookedSlot = BookedSlot(address);
  auto fail = [&] {
    if (pagedSlot >= 0) pageCache_[pagedSlot] = page;
    if (bookedSlot >= 0) bookCache_[bookedSlot] = book;
    ForgetSelection(pagedSlot, bookedSlot);
    return false;
  };
  if (pagedSlot >= 0 && (!pageSure_[pagedSlot] || pageCache_[pagedSlot] != page || lastPagedDevice_ != address)) {
    pageCache_[pagedSlot] = page;
    pageSure_[pagedSlot] = true;
    lastPagedDevice_ = address;
    const uint8_t pageByte = static_cast<uint8_t>(page);
    if (Refused(WriteRegisters(&pageByte, address, book, page, 0, 1))) return fail();
  }
  if (bookedSlot >= 0 && (!bookSure_[bookedSlot] || bookCache_[bookedSlot] != book || lastPagedDevice_ != address)) {
    if (!SwitchBook(address, book, page)) return fail();
  }
  return true;
}

bool TUSBI2C::WriteRegisters(const uint8_t* data, unsigned address, unsigned book, unsigned page, unsigned reg,
                             unsigned count) {
  // The selects and the data command are one operation: no other thread's
  // transfer may land between them.
  LinkLocks lock(instanceLock_);
  if (reg + count > kPageBytes) return false;
  while (count > HIDCommandPacket::kMaxRegisterData) {
    if (!WriteRegisters(data, address, book, page, reg, HIDCommandPacket::kMaxRegisterData)) return false;
    // The rest of the block goes where these bytes left the device, as one long write would.
    ScriptPlace at = PlaceOf(address, book, page);
    at.Follow(int(reg), data, int(HIDCommandPacket::kMaxRegisterData));
    book = unsigned(at.book);
    page = unsigned(at.page);
    data += HIDCommandPacket::kMaxRegisterData;
    reg += HIDCommandPacket::kMaxRegisterData;
    count -= HIDCommandPacket::kMaxRegisterData;
  }
  if (page >= 256 || book >= 256 || reg >= kPageBytes) return false;

  if (!SelectPageAndBook(address, book, page)) return false;
  const int pagedSlot = PagedSlot(address);
  const int bookedSlot = BookedSlot(address);

  // Register 0 selects the page; register 127 selects the book on page 0
  // only. A block takes effect byte by byte, wherever it starts.
  ScriptPlace moved = PlaceOf(address, book, page);
  const int selects = moved.Follow(int(reg), data, int(count));
  const bool selectsPage = (selects & ScriptPlace::kMovedPage) != 0;
  const bool selectsBook = (selects & ScriptPlace::kMovedBook) != 0;
  if (selectsPage) pageCache_[pagedSlot] = unsigned(moved.page);
  if (selectsBook) bookCache_[bookedSlot] = unsigned(moved.book);

  TUSBI2CWriteCallback callback;
  void* context;
  {
    std::scoped_lock guard(instanceLock_);
    callback = writeCallback_;
    context = writeContext_;
  }
  if (callback) callback(context, data, address, book, page, reg, count);
  MarkWritten(address, book, page, reg, count);

  HIDCommandPacket command;
  bool ok;
  if (address <= 1) {
    command = HIDCommandPacket::SPIWrite(HIDCommandPacket::SPIWriteKey(address, reg), data, count);
    ok = SendWrite(command);
  } else if (!deviceHandle_.load() || SelectI2C(address)) {
    command = HIDCommandPacket::I2CWrite(static_cast<uint8_t>(reg), data, count);
    ok = SendWrite(command);
  } else {
    // Nothing is sent to whatever device the bus still has selected.
    Report(kLinkWriteFailed);
    ok = false;
  }
  // A refused select may or may not have reached the codec.
  if (Refused(ok)) ForgetSelection(selectsPage ? pagedSlot : -1, selectsBook ? bookedSlot : -1);
  return ok;
}

bool TUSBI2C::ReadRegisters(uint8_t* buffer, unsigned address, unsigned book, unsigned page, unsigned reg,
                            unsigned count) {
  LinkLocks lock(instanceLock_);
  if (!deviceHandle_.load() || reg + count > kPageBytes) return false;
  while (count > HIDCommandPacket::kMaxRegisterData) {
    if (!ReadRegisters(buffer, address, book, page, reg, HIDCommandPacket::kMaxRegisterData)) return false;
    buffer += HIDCommandPacket::kMaxRegisterData;
    reg += HIDCommandPacket::kMaxRegisterData;
    count -= HIDCommandPacket::kMaxRegisterData;
  }
  if (page >= 256 || book >= 256 || reg >= kPageBytes) return false;

  if (!SelectPageAndBook(address, book, page)) return false;

  HIDCommandPacket command;
  if (address <= 1) {
    command = HIDCommandPacket::SPIRead(HIDCommandPacket::SPIReadKey(address, reg), count);
  } else {
    if (!SelectI2C(address)) {
      Report(kLinkReadFailed);
      return false;
    }
    command = HIDCommandPacket::I2CRead(static_cast<uint8_t>(reg), count);
  }
  if (!ExecuteCommand(command)) {
    Report(kLinkReadFailed);
    Reacquire();
    return false;
  }
  if (command.Status() != 0) {
    Report(kLinkReadFailed);
    return false;
  }
  if (count) std::memcpy(buffer, command.Data(), count);
  return true;
}

// ---- thread, discovery and refresh ---------------------------------------------

void TUSBI2C::DoTerminate() { wakeEvent_.Set(); }

void TUSBI2C::Execute() {
  while (!Terminated()) {
    wakeEvent_.WaitFor(period_.load());
    wakeEvent_.Reset();
    if (Terminated()) break;
    if (active_.load() && !stopRequested_.load()) RefreshPass();
    if (active_.load() && stopRequested_.load()) {
      active_ = false;
      stopRequested_ = false;
      stoppedEvent_.Set();
    }
    if (!active_.load() && autoEnumerate_) RefreshDeviceList();
  }
}

void TUSBI2C::RefreshPass() {
  RefreshBlock block;
  TUSBI2CRefreshCallback callback;
  void* context;
  {
    std::lock_guard<std::mutex> lock(refreshMutex_);
    block = refreshBlock_;
    callback = refreshCallback_;
    context = refreshContext_;
    // From here on, writes to the block are noted so that this pass's older
    // reads do not overwrite them in the image.
    pass_ = block;
    passActive_ = true;
    passPending_ = false;
    std::fill(std::begin(passWritten_), std::end(passWritten_), false);
  }
  // The reads go to a buffer of the pass, never straight into the image
  // that other threads read and write.
  uint8_t data[kPageBytes] = {};
  bool read[kPageBytes] = {};
  if (GetRegisterImage(block.address, block.book, block.page, block.reg)) {
    if (block.page < 254) {
      for (unsigned offset = 0; offset < block.count; offset += 32) {
        const unsigned n = std::min(32u, block.count - offset);
        if (ReadRegisters(data + offset, block.address, block.book, block.page, block.reg + offset, n))
          std::fill_n(read + offset, n, true);
      }
    } else {
      // Pseudo-pages: fixed SPI read procedures stored as if they were registers.
      struct Read {
        uint8_t command;
        unsigned offset, count;
      };
      Read reads[8];
      int n = 0;
      if (block.page == 255) {
        for (unsigned offset = 0; offset < block.count && n < 8; offset += HIDCommandPacket::kMaxCommandRead)
          reads[n++] = {0xE0, offset, std::min(HIDCommandPacket::kMaxCommandRead, block.count - offset)};
      } else {
        reads[n++] = {0xD0, 0, 2};
        reads[n++] = {0x90, 2, 2};
      }
      for (int i = 0; i < n; ++i) {
        HIDCommandPacket command = HIDCommandPacket::SPICommandRead(reads[i].command, reads[i].count);
        if (!ExecuteCommand(command)) {
          Report(kLinkReadFailed);
          Reacquire();
          break;
        }
        if (command.Status() != 0) {
          Report(kLinkReadFailed);
          break;
        }
        std::memcpy(data + reads[i].offset, command.Data(), reads[i].count);
        std::fill_n(read + reads[i].offset, reads[i].count, true);
      }
    }
  }
  {
    std::lock_guard<std::mutex> lock(refreshMutex_);
    std::memcpy(passData_, data, sizeof data);
    std::memcpy(passRead_, read, sizeof read);
    passPending_ = true;
  }
  if (!handOver_.load()) ApplyRefresh();
  if (callback) callback(context, block.address, block.book, block.page, block.reg, block.count);
}

bool TUSBI2C::ApplyRefresh() {
  std::lock_guard<std::mutex> lock(refreshMutex_);
  if (!passPending_) return false;
  passPending_ = false;
  passActive_ = false;
  uint8_t* image = GetRegisterImage(pass_.address, pass_.book, pass_.page, pass_.reg);
  if (!image) return false;
  const unsigned span = pass_.page == 254 ? std::max(pass_.count, 4u) : pass_.count;
  for (unsigned i = 0; i < span && pass_.reg + i < kPageBytes; ++i)
    if (passRead_[i] && !passWritten_[i]) image[i] = passData_[i];
  return true;
}

void TUSBI2C::MarkWritten(unsigned address, unsigned book, unsigned page, unsigned reg, unsigned count) {
  std::lock_guard<std::mutex> lock(refreshMutex_);
  auto mark = [&](const RefreshBlock& block, bool* written) {
    if (address != block.address || book != block.book || page != block.page) return;
    for (unsigned r = std::max(reg, block.reg); r < reg + count && r < block.reg + kPageBytes; ++r)
      written[r - block.reg] = true;
  };
  if (passActive_) mark(pass_, passWritten_);
  for (TWriteWatch* watch : watches_) mark({watch->address, watch->book, watch->page, watch->reg, 0}, watch->written);
}

bool TUSBI2C::WriteWatched(const uint8_t* data, unsigned address, unsigned book, unsigned page, unsigned reg,
                           unsigned count, TWriteWatch& watch) {
  LinkLocks lock(instanceLock_);
  if (Refused(WriteRegisters(data, address, book, page, reg, count))) return false;
  watch = TWriteWatch{address, book, page, reg, count, {}};
  std::lock_guard<std::mutex> guard(refreshMutex_);
  watches_.push_back(&watch);
  return true;
}

void TUSBI2C::EndWatch(TWriteWatch& watch) {
  std::lock_guard<std::mutex> lock(refreshMutex_);
  watches_.erase(std::remove(watches_.begin(), watches_.end(), &watch), watches_.end());
}

bool TUSBI2C::StartRefresh(unsigned address, unsigned book, unsigned page, unsigned reg, unsigned count, int rate,
                           void* context, TUSBI2CRefreshCallback callback) {
  // The pass reads into the image: a block must stay inside its page of it.
  const unsigned span = page == 254 ? std::max(count, 4u) : count;
  if (rate <= 0 || count == 0 || reg + span > kPageBytes || !GetRegisterImage(address, book, page, reg)) {
    platform::LogF("StartRefresh: refused block %02X book %u page %u register %u count %u at %d Hz", address,
                   book, page, reg, count, rate);
    return false;
  }
  if (stopRequested_.load()) platform::WaitServing(stoppedEvent_, 500);
  stoppedEvent_.Reset();
  stopRequested_ = false;
  {
    std::lock_guard<std::mutex> lock(refreshMutex_);
    refreshBlock_ = {address, book, page, reg, count};
    refreshCallback_ = callback;
    refreshContext_ = context;
  }
  // Above 1000 Hz the period would be 0 and the thread would never rest.
  period_ = std::max(1000 / rate, 1);
  active_ = true;
  wakeEvent_.Set();
  return true;
}

void TUSBI2C::StopRefresh() {
  if (!active_.load()) return;
  stoppedEvent_.Reset();
  stopRequested_ = true;
  period_ = 50;
  // The thread itself cannot wait for its own confirmation.
  if (IsCurrentThread()) return;
  platform::WaitServing(stoppedEvent_, 500);
  stoppedEvent_.Reset();
}

void TUSBI2C::SetDeviceHandle(void* handle) {
  deviceHandle_ = handle;
  if (!handle) {
    StopRefresh();
    Report(kLinkHandleCleared);
  }
}

void TUSBI2C::FetchPathName(int index) {
  char16_t wide[256] = {};
  if (api_->getDevicePathName) api_->getDevicePathName(index, wide, sizeof wide);
  wide[255] = 0;
  std::lock_guard<std::mutex> lock(pathMutex_);
  Utf16ToNarrow(wide, 256, devicePathName_, sizeof devicePathName_);
}

void TUSBI2C::RefreshDeviceList() {
  if (!api_->refresh) return;
  int count;
  {
    std::scoped_lock lock(GlobalLock());
    count = api_->refresh(kVendorId, kProductId);
  }
  if (count == lastDeviceCount_) return;
  lastDeviceCount_ = count;
  platform::LogF("AcquireEVM: number of HID devices changed: %d", count);
  {
    std::scoped_lock lock(GlobalLock());
    count = api_->refresh(kVendorId, kProductId);
  }
  Report(kLinkCountChanged);
  for (int i = 0; i < count; ++i) {
    deviceHandle_ = api_->getDevHandle ? api_->getDevHandle(i) : nullptr;
    deviceIndex_ = i;
    FetchPathName(i);
    Report(kLinkBoardListed);
  }
  Report(kLinkListingEnds);
}

void TUSBI2C::AcquireEVM(void* handle) {
  platform::LogF("AcquireEVM: pAPI = 0x%08llX", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(handle)));
  // A board that comes back (replugged, reconnected, reset) is on a page and
  // book nobody knows: the next transfer to each device selects both.
  ForgetAllSelections();
  SetDeviceHandle(handle);
  if (!handle || !api_->refresh) return;
  int count;
  {
    std::scoped_lock lock(GlobalLock());
    count = api_->refresh(kVendorId, kProductId);
  }
  int index = 0;
  while (index < count && !(api_->getDevHandle && api_->getDevHandle(index) == handle)) ++index;
  deviceIndex_ = index;
  if (index == count) return;
  platform::LogLine("Fetch device path name from HID");
  char16_t wide[256] = {};
  if (api_->getDevicePathName) api_->getDevicePathName(index, wide, sizeof wide);
  wide[255] = 0;
  platform::LogLine("Convert device path name to Unicode");
  {
    std::lock_guard<std::mutex> lock(pathMutex_);
    Utf16ToNarrow(wide, 256, devicePathName_, sizeof devicePathName_);
  }
  deviceHandle_ = handle;
  HIDCommandPacket appId = HIDCommandPacket::AppID();
  platform::LogLine("Execute AppID command via HID");
  ExecuteCommand(appId);
}

void TUSBI2C::Reacquire() {
  if (reacquireGuard_.exchange(true)) return;
  if (void* handle = deviceHandle_.load()) {
    AcquireEVM(handle);
  } else if (autoEnumerate_) {
    // A board window's link stays with its own board: only a watcher re-lists.
    RefreshDeviceList();
  }
  reacquireGuard_ = false;
}

// ---- EEPROM and board commands ---------------------------------------------------

bool TUSBI2C::DirectEEPROMRead(uint8_t* buffer, unsigned address, unsigned count) {
  LinkLocks lock(instanceLock_);
  if (!deviceHandle_.load()) return false;
  count = std::min(count, HIDCommandPacket::kMaxRegisterData);
  if (address >= kEEPROMSize || address + count > kEEPROMSize) return false;
  if (!SelectI2C(kEEPROMDevice)) return false;
  HIDCommandPacket command = HIDCommandPacket::EEPROMRead(static_cast<uint16_t>(address), count);
  if (!ExecuteCommand(command) || command.Status() != 0) return false;
  if (count) std::memcpy(buffer, command.EEPROMData(), count);
  return true;
}

bool TUSBI2C::CachedEEPROMRead(uint8_t* buffer, unsigned address, unsigned count) {
  if (address + count > kEEPROMSize) return false;
  if (eepromCacheBase_ == 0 || address < eepromCacheBase_ ||
      address + count >= eepromCacheBase_ + eepromCacheLength_) {
    const unsigned length = std::min(48u, kEEPROMSize - address);
    if (!DirectEEPROMRead(eepromCache_, address, length)) return false;
    eepromCacheBase_ = address;
    eepromCacheLength_ = length;
  }
  std::memcpy(buffer, eepromCache_ + (address - eepromCacheBase_), count);
  return true;
}

bool TUSBI2C::ReadEEPROM(uint8_t* buffer, unsigned address, unsigned count, bool cached) {
  if (!cached) return DirectEEPROMRead(buffer, address, count);
  LinkLocks lock(instanceLock_);
  if (!deviceHandle_.load()) return false;
  // Longer requests are served through the window in pieces; a piece of
  // the window's full size always refills it from its own address.
  while (count > 0) {
    const unsigned piece = std::min(count, HIDCommandPacket::kMaxRegisterData);
    if (!CachedEEPROMRead(buffer, address, piece)) return false;
    buffer += piece;
    address += piece;
    count -= piece;
  }
  return true;
}

bool TUSBI2C::WriteEEPROM(const uint8_t* data, unsigned address, unsigned count) {
  LinkLocks lock(instanceLock_);
  if (!deviceHandle_.load()) return false;
  bool ok = address + count <= kEEPROMSize;
  while (ok && count > HIDCommandPacket::kMaxRegisterData) {
    ok = WriteEEPROM(data, address, HIDCommandPacket::kMaxRegisterData);
    data += HIDCommandPacket::kMaxRegisterData;
    address += HIDCommandPacket::kMaxRegisterData;
    count -= HIDCommandPacket::kMaxRegisterData;
  }
  if (ok) {
    HIDCommandPacket command = HIDCommandPacket::EEPROMWrite(static_cast<uint16_t>(address), data, count);
    ok = SelectI2C(kEEPROMDevice) && ExecuteCommand(command) && command.Status() == 0;
  }
  eepromCacheBase_ = 0;
  return ok;
}

bool TUSBI2C::ProgramEEPROM(const char* path) {
  if (!deviceHandle_.load() || !api_->programEeprom || !path) return false;
  std::scoped_lock lock(GlobalLock());
  std::string copy(path);
  return api_->programEeprom(deviceIndex_.load(), copy.data(), 18, kEEPROMDevice, 0);
}

bool TUSBI2C::SetControllerBits(uint16_t address, uint8_t mask, bool set) {
  HIDCommandPacket command = HIDCommandPacket::ControllerBits(address, mask, set);
  return ExecuteCommand(command);
}

bool TUSBI2C::SetBoardBits(uint8_t value, bool set) {
  HIDCommandPacket command = HIDCommandPacket::BoardBits(value, set);
  return ExecuteCommand(command);
}

unsigned TUSBI2C::GetSamplingRate() {
  uint32_t rate = 44100;
  if (!deviceHandle_.load() || !api_->getCurSamplingRate) return 44100;
  if (!api_->getCurSamplingRate(deviceIndex_.load(), 18, &rate)) return 44100;
  return rate;
}

uint16_t TUSBI2C::GetFirmwareVersion() {
  uint16_t vendor = 0, product = 0, version = 0;
  if (!deviceHandle_.load() || !api_->getDevInfo) return 0;
  if (!api_->getDevInfo(deviceIndex_.load(), &vendor, &product, &version)) return 0;
  return version;
}

int TUSBI2C::TCPConnect(const char* server, int port) {
  if (!api_->tcpConnect) return 0;
  std::string copy(server ? server : "");
  return api_->tcpConnect(copy.data(), port);
}

char* TUSBI2C::GetCodecLog() { return api_->getCodecLog ? api_->getCodecLog() : nullptr; }

// ---- register maps -----------------------------------------------------------------

bool TUSBI2C::LoadRegisterMap(const std::string& fileName, unsigned address) {
  const int slot = FindDevice(address);
  if (slot < 0) return false;
  // The old map goes first: a file that cannot be read must not leave it behind.
  delete registerMaps_[slot];
  registerMaps_[slot] = nullptr;
  auto* map = new TRegisterDescription(fileName);
  for (const std::string& warning : map->Warnings()) platform::LogLine("Register map " + warning);
  if (!map->IsValid()) {
    platform::LogLine("Cannot read the register map " + map->Error());
    delete map;
    return false;
  }
  registerMaps_[slot] = map;
  return true;
}

const TRegisterDescription* TUSBI2C::GetRegisterMap(unsigned address) const {
  const int slot = FindDevice(address);
  return slot < 0 ? nullptr : registerMaps_[slot];
}

void TUSBI2C::GetRegisterComments(std::vector<std::string>& lines, unsigned address, int page, int reg,
                                  int value) const {
  if (const TRegisterDescription* map = GetRegisterMap(address)) map->GetComments(lines, page, reg, value);
}

void TUSBI2C::GetRegisterDescription(std::vector<std::string>& lines, unsigned address, int page, int reg,
                                     int value) const {
  if (const TRegisterDescription* map = GetRegisterMap(address)) map->GetDescription(lines, page, reg, value);
}
