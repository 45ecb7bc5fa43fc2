// The board access library: device list, packet exchange, board information,
// firmware programming, network boards and the library log.
//
// Each function is exported under its plain name; the board link resolves
// them at run time by name. The functions behind them drive emulated boards
// (see docs/quillbus.md); every function is thread-safe, and the log callback
// is never called while a lock of the library is held.
#pragma once

#include <cstdint>

// The boards' USB identifiers, given to OrvaneUsbHidRefresh.
constexpr uint16_t kQuillbusVendorId = 0x2B1E;
constexpr uint16_t kQuillbusProductId = 0x0C0D;

extern "C" {

typedef void (*QuillbusLogCallback)(char* text);

// Rescans the attached boards and returns how many carry the given ids.
int OrvaneUsbHidRefresh(uint16_t vendorId, uint16_t productId);
// Opaque handle of board `index` of the current list, null when there is none.
// A board keeps its handle while it stays attached; a replugged board gets a new one.
void* OrvaneUsbHidGetDevHandle(int index);
// Sends one command packet (its length is packet[0]); true when it was sent.
bool OrvaneUsbHidWrite(int index, uint8_t* packet, uint16_t length);
// Reads the reply to the last command into `buffer`; true when a reply of
// exactly `length` bytes was waiting.
bool OrvaneUsbHidRead(int index, uint8_t* buffer, uint16_t length);
// The board's device path as zero-terminated UTF-16 (char16_t) in `buffer`
// of `bufferBytes` bytes.
bool OrvaneUsbHidGetDevicePathName(int index, void* buffer, unsigned long bufferBytes);
// Vendor id, product id and firmware version of the board.
bool OrvaneUsbHidGetDevInfo(int index, uint16_t* vendorId, uint16_t* productId, uint16_t* version);
// The board's current sampling rate in Hz (`interfaceNumber` is 18 for the streaming interface).
bool OrvaneUsbHidGetCurSamplingRate(int index, uint8_t interfaceNumber, uint32_t* rate);
// Programs the controller firmware from a "*.bin" file.
bool OrvaneUsbHidProgramEeprom(int index, char* path, uint8_t interfaceNumber, uint8_t eepromAddress, uint8_t flags);
void OrvaneSetLogCB(QuillbusLogCallback callback);
// Connects to a board server; the board then joins the device list.
// Returns 1 when connected, 0 when not.
int OrvaneTCPConnect(char* server, int port);
// The library's recent log text, allocated with malloc: the caller frees it.
char* OrvaneGetCodecLog();

uint16_t OrvaneUsbHidGetOutRptLen(int index);
uint16_t OrvaneUsbHidGetInRptLen(int index);
bool OrvaneUsbHidPolling(int index, uint8_t* buffer, uint16_t length);
bool OrvaneUsbHidWriteIOEP(int index, uint8_t* buffer, uint16_t length);
bool OrvaneUsbHidGetManufactureString(int index, void* buffer, unsigned long bufferBytes);
bool OrvaneUsbHidGetProductString(int index, void* buffer, unsigned long bufferBytes);

// ---- Control interface, for tests and tools -------------------------------
// Boards are named by their index in the current device list (as the link
// sees it after its last OrvaneUsbHidRefresh). Functions returning int give
// -1 for a board that does not exist.

// Uses `dir` instead of $QUILLBUS_BOARDS (null: back to the variable).
void QuillbusSetBoardsDir(const char* dir);
// Forgets every board, network board, fault, trace and latency setting.
void QuillbusReset();
// Number of boards in the current list, without rescanning.
int QuillbusBoardCount();
// Rescans now (as the next device-count call would).
void QuillbusRescan();
// Detaches board `index` until its file is touched again or QuillbusReplug.
int QuillbusUnplug(int index);
// Attaches again every board that QuillbusUnplug detached.
void QuillbusReplug();

// Register files of the codec device at an I2C address (write form).
int QuillbusGetRegister(int index, int i2cAddress, int book, int page, int reg);
int QuillbusSetRegister(int index, int i2cAddress, int book, int page, int reg, int value);
// Current page and book selected on a device.
int QuillbusGetSelectedPage(int index, int i2cAddress);
int QuillbusGetSelectedBook(int index, int i2cAddress);
// Adds or removes an answering I2C device of `index`.
int QuillbusSetDevicePresent(int index, int i2cAddress, int present);

// EEPROM bytes (addresses 0..0xFFFF); returns the number of bytes copied.
int QuillbusReadEeprom(int index, int address, uint8_t* buffer, int count);
int QuillbusWriteEeprom(int index, int address, const uint8_t* buffer, int count);

// Controller memory (class 0x04 commands), board byte (class 0x02), AppID count.
int QuillbusGetControllerByte(int index, int address);
int QuillbusGetBoardByte(int index);
int QuillbusGetAppIdCount(int index);
int QuillbusGetFirmwareVersion(int index);
int QuillbusSetSamplingRate(int index, int rate);

// Faults: fail the next `count` writes or reads, answer the next `count`
// commands with a non-zero status, or unplug the board after `exchanges`
// more packets (writes and reads both count).
int QuillbusFailWrites(int index, int count);
int QuillbusFailReads(int index, int count);
int QuillbusFailStatus(int index, int count);
// The same after `skip` more commands have been answered as usual.
int QuillbusFailStatusAfter(int index, int skip, int count);
int QuillbusUnplugAfter(int index, int exchanges);

// Latency per packet in microseconds (0 = none), overriding $QUILLBUS_LATENCY_US.
void QuillbusSetLatency(int microseconds);
// Packet trace to `path` (null or "" stops it), overriding $QUILLBUS_TRACE.
void QuillbusSetTrace(const char* path);

}  // extern "C"
