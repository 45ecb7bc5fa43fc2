// The link to one evaluation board: binds the access library, frames every
// register, EEPROM and board operation as a command packet, switches the
// codec's page and book, keeps one register image per declared device, and
// runs a worker thread for device discovery (a watcher link) or for the
// periodic refresh of one register block (a board window's link).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/library.h"
#include "platform/sync.h"
#include "platform/thread.h"

// Status codes handed to the connect callback.
enum : int {
  kLinkBoardListed = 1,
  kLinkHandleCleared = 6,
  kLinkReadFailed = 12,
  kLinkWriteFailed = 20,
  kLinkCommandDone = 32,
  kLinkCountChanged = 512,
  kLinkListingEnds = 1024,
};

class TRegisterDescription;
struct ScriptPlace;

// A block written now whose copy into the image is made later, on the
// thread that owns the image: every write through the link after it marks
// the bytes it covers, and the copy leaves those, as a refresh pass does,
// so the image ends as the board does whatever came between.
struct TWriteWatch {
  unsigned address = 0, book = 0, page = 0, reg = 0, count = 0;
  bool written[128] = {};
};

typedef void (*TUSBI2CConnectCallback)(void* context, const char* devicePathName, int deviceIndex, int status);
typedef void (*TUSBI2CWriteCallback)(void* context, const uint8_t* data, unsigned address, unsigned book,
                                     unsigned page, unsigned reg, unsigned count);
typedef int (*TUSBI2CRefreshCallback)(void* context, unsigned address, unsigned book, unsigned page,
                                      unsigned reg, unsigned count);

// Appends "From DLL: " and the text to the log.
void UsbLogCallback(char* text);

// One command packet; the reply is read back into the same bytes.
struct HIDCommandPacket {
  static constexpr int kSize = 64;
  static constexpr unsigned kMaxRegisterData = 48;
  static constexpr unsigned kMaxCommandRead = 56;

  uint8_t bytes[kSize] = {};

  uint8_t Length() const { return bytes[0]; }
  uint8_t Status() const { return bytes[3]; }
  // Register data (commands and replies) and EEPROM data.
  uint8_t* Data() { return bytes + 8; }
  uint8_t* EEPROMData() { return bytes + 10; }

  static HIDCommandPacket I2CSelect(uint8_t deviceAddress);
  static HIDCommandPacket AppID();
  static HIDCommandPacket I2CWrite(uint8_t reg, const uint8_t* data, unsigned count);
  static HIDCommandPacket I2CRead(uint8_t reg, unsigned count);
  static HIDCommandPacket SPIWrite(uint8_t key, const uint8_t* data, unsigned count);
  static HIDCommandPacket SPIRead(uint8_t key, unsigned count);
  static HIDCommandPacket SPICommandRead(uint8_t command, unsigned count);
  static HIDCommandPacket EEPROMWrite(uint16_t address, const uint8_t* data, unsigned count);
  static HIDCommandPacket EEPROMRead(uint16_t address, unsigned count);
  static HIDCommandPacket ControllerBits(uint16_t address, uint8_t mask, bool set);
  static HIDCommandPacket BoardBits(uint8_t value, bool set);

  // SPI register keys of the two conventions (addresses 0 and 1).
  static uint8_t SPIWriteKey(unsigned address, unsigned reg);
  static uint8_t SPIReadKey(unsigned address, unsigned reg);

 private:
  static HIDCommandPacket Header(uint8_t length, uint8_t commandClass, uint8_t operation, uint8_t byte7);
};

class TUSBI2C : public platform::TThread {
 public:
  static constexpr int kSlots = 16;
  static constexpr unsigned kPageBytes = 128;
  static constexpr unsigned kBookBytes = 0x8000;
  static constexpr unsigned kNotPaged = 256;
  static constexpr int kMaxAttempts = 100001;
  // How long one command may keep retrying a board that does not answer.
  static constexpr std::chrono::milliseconds kCommandTimeBudget{250};

  // Loads the access library and starts the thread. `autoEnumerate`: the
  // thread polls the device list (a watcher) instead of idling.
  explicit TUSBI2C(bool autoEnumerate);
  // Stops the thread if the owner has not, then frees images and library.
  ~TUSBI2C() override;

  // The library file every new link loads ("quillbus.dll", mapped to
  // libquillbus.so); tests point it elsewhere.
  static void SetLibraryName(const std::string& name);
  bool LibraryLoaded() const { return libraryOk_; }
  // Terminate and wait (keeping the caller's wait pump running).
  void Stop();

  void SetConnectCallback(void* context, TUSBI2CConnectCallback callback);
  void SetWriteCallback(void* context, TUSBI2CWriteCallback callback);
  // The path buffer itself, as the connect callback gets it: read it on the
  // link's thread. Other threads take a copy.
  const char* GetDevicePathName() const { return devicePathName_; }
  std::string CopyDevicePathName() const;
  void* GetDeviceHandle() const { return deviceHandle_.load(); }
  // False in a window without a board: transfers are skipped, not refused.
  bool HasBoard() const { return deviceHandle_.load() != nullptr; }
  int GetDeviceIndex() const { return deviceIndex_.load(); }

  // Device slots and register images.
  void AddDevice(unsigned address, unsigned books, unsigned pages);
  int FindDevice(unsigned address) const;
  int GetDeviceCount() const { return deviceCount_; }
  // The byte of (book, page, register) in the device's image; null for an
  // undeclared address or a place outside the image.
  uint8_t* GetRegisterImage(unsigned address, unsigned book, unsigned page, unsigned reg);
  // Size of the device's image in bytes (0 when undeclared).
  unsigned GetImageSize(unsigned address) const;
  // Pages and books the device's image holds (1 page for an unpaged device).
  unsigned GetImagePages(unsigned address) const;
  unsigned GetImageBooks(unsigned address) const;
  // The page (book) the device was last given; after a failed select, the
  // one that select named, which the next transfer selects again.
  unsigned GetPage(unsigned address) const;
  unsigned GetBook(unsigned address) const;
  // Whether register 0 selects the device's page, and register 127 of page 0 its book.
  bool IsPaged(unsigned address) const;
  bool IsBooked(unsigned address) const;
  // Places a script where the device is now: its book and page, and whether it has them.
  void PlaceScript(unsigned address, ScriptPlace& place) const;

  bool ExecuteCommand(HIDCommandPacket& packet);
  bool WriteRegisters(const uint8_t* data, unsigned address, unsigned book, unsigned page, unsigned reg,
                      unsigned count);
  bool ReadRegisters(uint8_t* buffer, unsigned address, unsigned book, unsigned page, unsigned reg,
                     unsigned count);

  // WriteRegisters, with the watch on the block started in the same
  // operation (no write lands between the two). False, and no watch, when
  // the board refused the write; without a board the watch starts, as the
  // image takes every write there.
  bool WriteWatched(const uint8_t* data, unsigned address, unsigned book, unsigned page, unsigned reg,
                    unsigned count, TWriteWatch& watch);
  // Ends a watch; its marks stay as they are.
  void EndWatch(TWriteWatch& watch);

  // Thread, discovery and refresh.
  bool StartRefresh(unsigned address, unsigned book, unsigned page, unsigned reg, unsigned count, int rate,
                    void* context, TUSBI2CRefreshCallback callback);
  void StopRefresh();
  void SetDeviceHandle(void* handle);
  void RefreshDeviceList();
  void AcquireEVM(void* handle);
  void Reacquire();
  // The image hand-over of the refresh: by default the link copies a pass's
  // reads into the image on its own thread before the refresh callback. With
  // the hand-over on, it never touches the image: the owner copies the pass
  // in with ApplyRefresh on the thread that owns the image (a board window
  // does so on the GUI thread while the link thread waits in its report).
  // Either way a byte written through the link after the pass began is not
  // overwritten by the pass's older read.
  void SetRefreshHandOver(bool on) { handOver_ = on; }
  // Copies the last pass's reads into the image (once); false when no pass waits.
  bool ApplyRefresh();
  int GetPeriod() const { return period_.load(); }
  bool IsRefreshing() const { return active_.load(); }

  // EEPROM and board commands.
  bool ReadEEPROM(uint8_t* buffer, unsigned address, unsigned count, bool cached);
  bool WriteEEPROM(const uint8_t* data, unsigned address, unsigned count);
  bool ProgramEEPROM(const char* path);
  bool SetControllerBits(uint16_t address, uint8_t mask, bool set);
  bool SetBoardBits(uint8_t value, bool set);
  unsigned GetSamplingRate();
  uint16_t GetFirmwareVersion();
  int TCPConnect(const char* server, int port);
  // Text allocated with malloc; the caller frees it. Null without a library.
  char* GetCodecLog();

  // Register maps, one per device slot. Replaces the map of the slot with
  // that address (nothing for an undeclared one); a file that cannot be read
  // is logged and leaves the slot without a map. True when a map was loaded.
  bool LoadRegisterMap(const std::string& fileName, unsigned address);
  // The map's comment and description lines (none without a map).
  void GetRegisterComments(std::vector<std::string>& lines, unsigned address, int page, int reg, int value) const;
  void GetRegisterDescription(std::vector<std::string>& lines, unsigned address, int page, int reg,
                              int value) const;
  const TRegisterDescription* GetRegisterMap(unsigned address) const;

  // The process-wide lock every exchange takes before the link's own.
  static platform::TCriticalSection& GlobalLock();

 protected:
  void Execute() override;
  void DoTerminate() override;

 private:
  struct Api;
  struct RefreshBlock {
    unsigned address = 0, book = 0, page = 0, reg = 0, count = 0;
  };

  void Report(int status);
  bool SendWrite(HIDCommandPacket& command);
  bool SendAnswered(HIDCommandPacket& command);
  bool SelectI2C(unsigned address);
  bool SwitchBook(unsigned address, unsigned book, unsigned page);
  bool SelectPageAndBook(unsigned address, unsigned book, unsigned page);
  // The selection of these slots (-1: none) must be sent again.
  void ForgetSelection(int pagedSlot, int bookedSlot);
  void ForgetAllSelections();
  ScriptPlace PlaceOf(unsigned address, unsigned book, unsigned page) const;
  // A failed transfer that a board refused (not one skipped for want of a board).
  bool Refused(bool ok) const;
  void FetchPathName(int index);
  void RefreshPass();
  bool DirectEEPROMRead(uint8_t* buffer, unsigned address, unsigned count);
  bool CachedEEPROMRead(uint8_t* buffer, unsigned address, unsigned count);
  int PagedSlot(unsigned address) const;
  int BookedSlot(unsigned address) const;

  std::atomic<unsigned> lastPagedDevice_{0};
  int pagedAddresses_[kSlots];
  int bookedAddresses_[kSlots];
  unsigned pageCache_[kSlots] = {};
  unsigned bookCache_[kSlots] = {};
  // False once a select of the slot failed: the board may be elsewhere.
  bool pageSure_[kSlots] = {true, true, true, true, true, true, true, true,
                            true, true, true, true, true, true, true, true};
  bool bookSure_[kSlots] = {true, true, true, true, true, true, true, true,
                            true, true, true, true, true, true, true, true};
  uint8_t* images_[kSlots] = {};
  unsigned imageSizes_[kSlots] = {};
  int deviceCount_ = 0;
  std::atomic<int> period_{500};

  TUSBI2CRefreshCallback refreshCallback_ = nullptr;
  TUSBI2CWriteCallback writeCallback_ = nullptr;
  TUSBI2CConnectCallback connectCallback_ = nullptr;
  void* refreshContext_ = nullptr;
  void* writeContext_ = nullptr;
  void* connectContext_ = nullptr;
  std::mutex refreshMutex_;  // guards the block, the refresh callback pair and the pass below
  RefreshBlock refreshBlock_;
  // The pass being read or waiting to be applied, relative to its first register.
  RefreshBlock pass_;
  bool passActive_ = false;   // between the start of a pass and its hand-over
  bool passPending_ = false;  // read, not yet applied
  uint8_t passData_[kPageBytes] = {};
  bool passRead_[kPageBytes] = {};
  bool passWritten_[kPageBytes] = {};
  std::atomic<bool> handOver_{false};
  std::vector<TWriteWatch*> watches_;  // guarded by refreshMutex_
  void MarkWritten(unsigned address, unsigned book, unsigned page, unsigned reg, unsigned count);

  platform::TLibrary library_;
  Api* api_ = nullptr;
  bool libraryOk_ = false;
  std::atomic<void*> deviceHandle_{nullptr};
  std::atomic<int> deviceIndex_{0};
  const bool autoEnumerate_;
  std::atomic<bool> reacquireGuard_{false};
  int lastDeviceCount_ = 0;
  mutable platform::TCriticalSection instanceLock_;
  std::atomic<bool> active_{false};
  std::atomic<bool> stopRequested_{false};
  platform::TEvent stoppedEvent_;
  platform::TEvent wakeEvent_;
  mutable std::mutex pathMutex_;
  char devicePathName_[256] = {};
  uint8_t eepromCache_[48] = {};
  unsigned eepromCacheBase_ = 0;
  unsigned eepromCacheLength_ = 0;  // shorter than 48 only at the top of the EEPROM
  int slotAddresses_[kSlots] = {};
  TRegisterDescription* registerMaps_[kSlots] = {};  // owned
};
