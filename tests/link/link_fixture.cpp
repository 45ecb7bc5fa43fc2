#include "tests/link/link_fixture.h"

#include <cstdio>

void LinkFixture::SetUp() {
  QuillbusReset();
  QuillbusSetBoardsDir(dir_.path().c_str());
  AddBoard("a.board", "QMX7XXXEVM");
  trace_ = dir_.File("trace.txt");
  QuillbusSetTrace(trace_.c_str());
  link_ = OpenLink(0);
  Mark();
}

void LinkFixture::TearDown() {
  link_.reset();
  QuillbusSetTrace(nullptr);
  QuillbusReset();
  QuillbusSetBoardsDir(nullptr);
}

void LinkFixture::AddBoard(const std::string& file, const std::string& name, const std::string& extra) {
  testsupport::WriteFile(dir_.File(file),
                         "name = " + name + "\nfirmware = 0x0103\nrate = 48000\ndevices = 0x30 0x32 0x34\n" + extra);
}

std::unique_ptr<TUSBI2C> LinkFixture::OpenLink(int index) {
  auto link = std::make_unique<TUSBI2C>(false);
  OrvaneUsbHidRefresh(kQuillbusVendorId, kQuillbusProductId);
  link->AcquireEVM(OrvaneUsbHidGetDevHandle(index));
  return link;
}

namespace {

std::vector<std::string> Lines(const std::string& trace, size_t from, char direction) {
  std::vector<std::string> out;
  auto lines = testsupport::ReadLines(trace);
  for (size_t i = from; i < lines.size(); ++i) {
    const std::string& l = lines[i];
    size_t space = l.find(' ');
    if (space == std::string::npos || space + 3 > l.size() || l[space + 1] != direction) continue;
    out.push_back(l.substr(space + 3));
  }
  return out;
}

}  // namespace

std::vector<std::string> LinkFixture::Commands() { return Lines(trace_, mark_, '>'); }
std::vector<std::string> LinkFixture::Replies() { return Lines(trace_, mark_, '<'); }
void LinkFixture::Mark() { mark_ = testsupport::ReadLines(trace_).size(); }

std::string Hex(const std::vector<int>& bytes) {
  std::string s;
  char b[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(b, sizeof b, "%02X", bytes[i] & 0xFF);
    if (i) s += ' ';
    s += b;
  }
  return s;
}

std::string SelectHex(int address) { return Hex({0x08, 0x12, 0x05, 0x00, 0x04, 0x00, 0x01, address}); }
