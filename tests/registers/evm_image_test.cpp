// The EEPROM application image: layouts, the reader, the refusals, and the
// C header and Intel HEX texts read back by the system compiler and objcopy.
#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <string>
#include <vector>

#include "registers/evm_applications_image.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A tree held by the test: applications of named scripts.
struct Tree {
  std::deque<EVMScriptImage> scripts;
  std::vector<EVMApplicationLayout> applications;

  EVMApplicationLayout& App(const std::string& name) {
    applications.push_back({name, {}});
    return applications.back();
  }
  EVMScriptImage& Script(EVMApplicationLayout& app, const std::string& name) {
    scripts.emplace_back();
    scripts.back().SetName(name);
    app.scripts.push_back(&scripts.back());
    return scripts.back();
  }
  Bytes Build() {
    Bytes image;
    std::string error;
    EXPECT_TRUE(EEPROMApplicationImage::Build(applications, image, error)) << error;
    return image;
  }
};

void Write(EVMScriptImage& s, int device, int reg, Bytes data) {
  ASSERT_TRUE(s.AddWrite(device, reg, data.data(), int(data.size())));
}

// An EEPROM of 64 KiB holding `image` at 0x2000; reads past the end fail.
struct Eeprom {
  Bytes bytes = Bytes(0x10000, 0xFF);
  int failAt = -1;  // a read touching this address fails
  int reads = 0;
  explicit Eeprom(const Bytes& image) { std::copy(image.begin(), image.end(), bytes.begin() + 0x2000); }
  EEPROMApplicationImage::Reader Reader() {
    return [this](uint8_t* buffer, unsigned address, unsigned count) {
      ++reads;
      if (address + count > bytes.size()) return false;
      if (failAt >= 0 && unsigned(failAt) >= address && unsigned(failAt) < address + count) return false;
      std::copy(bytes.begin() + address, bytes.begin() + address + count, buffer);
      return true;
    };
  }
};

Bytes Rebuild(const EEPROMApplicationImage::ReadResult& read) {
  Tree tree;
  for (const EVMApplicationRead& a : read.applications) {
    EVMApplicationLayout& app = tree.App(a.name);
    for (const EVMApplicationRead::Script& s : a.scripts) app.scripts.push_back(&s.image);
  }
  return tree.Build();
}

Bytes Name16(const std::string& name) {
  Bytes field(16, 0);
  std::copy(name.begin(), name.end(), field.begin());
  return field;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST(EVMImage, Layouts) {
  struct Case {
    const char* what;
    std::function<void(Tree&)> make;
    Bytes expected;
  };
  const Case cases[] = {
      {"empty tree", [](Tree&) {}, {0x00}},
      {"one application, one script, one record",
       [](Tree& t) { Write(t.Script(t.App("App"), "Init"), 0x30, 0x00, {0x00}); },
       Cat({{0x01, 0x20, 0x03}, Name16("App"), {0x01, 0x20, 0x16}, Name16("Init"), {0x00, 0x01},
            {0x00, 0x30, 0x00, 0x01, 0x00}})},
      {"16-character names have no terminator",
       [](Tree& t) { t.Script(t.App("ABCDEFGHIJKLMNOPQRS"), "0123456789abcdefXYZ"); },
       Cat({{0x01, 0x20, 0x03}, Name16("ABCDEFGHIJKLMNOP"), {0x01, 0x20, 0x16}, Name16("0123456789abcdef"),
            {0x00, 0x00}})},
      {"application blocks first, then every script in tree order",
       [](Tree& t) {
         EVMApplicationLayout& a = t.App("A");
         Write(t.Script(a, "a1"), 0x30, 0x10, {1, 2});
         t.App("B");
         EVMApplicationLayout& c = t.App("C");
         Write(t.Script(c, "c1"), 0x32, 0x7F, {9});
       },
       Cat({{0x03, 0x20, 0x07, 0x20, 0x1A, 0x20, 0x2B},
            Name16("A"), {0x01, 0x20, 0x3E},
            Name16("B"), {0x00},
            Name16("C"), {0x01, 0x20, 0x56},
            Name16("a1"), {0x00, 0x01, 0x00, 0x30, 0x10, 0x02, 1, 2},
            Name16("c1"), {0x00, 0x01, 0x00, 0x32, 0x7F, 0x01, 9}})},
  };
  for (const Case& c : cases) {
    Tree tree;
    c.make(tree);
    const Bytes image = tree.Build();
    EXPECT_EQ(image, c.expected) << c.what;
  }
  Tree one;
  Write(one.Script(one.App("App"), "Init"), 0x30, 0x00, {0x00});
  EXPECT_EQ(one.Build().size(), 45u);
}

TEST(EVMImage, A256ByteWriteBecomesTwoRecords) {
  EVMScriptImage s;
  Bytes data(256);
  for (int i = 0; i < 256; ++i) data[size_t(i)] = uint8_t(i);
  Write(s, 0x30, 0x00, data);
  ASSERT_EQ(s.Count(), 2);
  ASSERT_EQ(s.Length(), 256 + 8);
  const Bytes& r = s.Records();
  EXPECT_EQ(Bytes(r.begin(), r.begin() + 4), (Bytes{0x00, 0x30, 0x00, 0xFF}));
  EXPECT_EQ(r[4 + 254], 254);
  EXPECT_EQ(Bytes(r.begin() + 259, r.end()), (Bytes{0x00, 0x30, 0xFF, 0x01, 0xFF}));
}

TEST(EVMImage, RoundTripsByteForByte) {
  Tree tree;
  for (int p = 0; p < 3; ++p) {
    EVMApplicationLayout& app = tree.App("Application " + std::to_string(p));
    for (int s = 0; s <= p * 3; ++s) {
      EVMScriptImage& script = tree.Script(app, "S" + std::to_string(p) + "." + std::to_string(s));
      for (int k = 0; k < s + 1; ++k) {
        Bytes data(size_t(1 + (k * 37 + s * 11) % 120), uint8_t(k + s));
        Write(script, 0x30 + 2 * (k % 2), k, data);
      }
    }
  }
  tree.App("No scripts");
  const Bytes image = tree.Build();
  Eeprom eeprom(image);
  const EEPROMApplicationImage::ReadResult read = EEPROMApplicationImage::Read(eeprom.Reader());
  EXPECT_FALSE(read.failed);
  EXPECT_TRUE(read.warnings.empty());
  ASSERT_EQ(read.applications.size(), 4u);
  EXPECT_EQ(read.applications[2].name, "Application 2");
  ASSERT_EQ(read.applications[2].scripts.size(), 7u);
  EXPECT_EQ(read.applications[2].scripts[6].name, "S2.6");
  EXPECT_EQ(read.applications[2].scripts[6].image.Count(), 7);
  EXPECT_EQ(Rebuild(read), image);
}

TEST(EVMImage, ReaderNamesEmptyFieldsAndStopsAtCountsOutOfRange) {
  // Empty names get numbered node texts; the stored name field stays empty.
  Tree tree;
  EVMApplicationLayout& a = tree.App("");
  tree.Script(a, "");
  tree.Script(a, "");
  Eeprom eeprom(tree.Build());
  auto read = EEPROMApplicationImage::Read(eeprom.Reader());
  ASSERT_EQ(read.applications.size(), 1u);
  EXPECT_EQ(read.applications[0].name, "Application #0");
  EXPECT_EQ(read.applications[0].scripts[1].name, "Script #1");
  EXPECT_EQ(read.applications[0].scripts[1].image.Name(), "");

  // A blank EEPROM (0xFF) is an empty tree, not a failure.
  Eeprom blank(Bytes{});
  read = EEPROMApplicationImage::Read(blank.Reader());
  EXPECT_TRUE(read.applications.empty());
  EXPECT_FALSE(read.failed);

  // Nine scripts in the second application: the first application stays.
  Tree two;
  two.Script(two.App("First"), "x");
  two.App("Second");
  Eeprom nine(two.Build());
  nine.bytes[0x2000 + 1 + 4 + 17 + 2 + 16] = 9;
  read = EEPROMApplicationImage::Read(nine.Reader());
  ASSERT_EQ(read.applications.size(), 1u);
  EXPECT_EQ(read.applications[0].name, "First");
}

TEST(EVMImage, ScriptReadInPartKeepsOnlyItsRecordsAndSaysSo) {
  // 40 records of 255 bytes claimed: 31 fit the 8192-byte record area.
  Bytes records;
  for (int k = 0; k < 40; ++k) {
    Bytes record{0x00, 0x30, 0x00, 0xFF};
    record.resize(259, uint8_t(k));
    records.insert(records.end(), record.begin(), record.end());
  }
  const Bytes image = Cat({{0x01, 0x20, 0x03}, Name16("App"), {0x01, 0x20, 0x16}, Name16("Big"), {0x00, 40}, records});
  Eeprom eeprom(image);
  auto read = EEPROMApplicationImage::Read(eeprom.Reader());
  EXPECT_FALSE(read.failed);
  ASSERT_EQ(read.applications.size(), 1u);
  const EVMScriptImage& big = read.applications[0].scripts[0].image;
  EXPECT_EQ(big.Count(), 31);
  EXPECT_EQ(big.Length(), 31 * 259);
  ASSERT_EQ(read.warnings.size(), 1u);
  EXPECT_EQ(read.warnings[0], "Script 'Big' of application 'App' was read only in part: 31 of 40 records.");
  // The rebuilt image counts what it holds.
  const Bytes rebuilt = Rebuild(read);
  EXPECT_EQ(rebuilt[0x16 + 16], 0);
  EXPECT_EQ(rebuilt[0x16 + 17], 31);

  // A failed read keeps the records before it and is reported as a failure.
  Eeprom failing(image);
  failing.failAt = 0x2000 + 0x16 + 18 + 5 * 259 + 10;
  read = EEPROMApplicationImage::Read(failing.Reader());
  EXPECT_TRUE(read.failed);
  EXPECT_EQ(read.error, "Reading the EVM applications failed at EEPROM address 0x253B.");
  ASSERT_EQ(read.applications.size(), 1u);
  EXPECT_EQ(read.applications[0].scripts[0].image.Count(), 5);
}

TEST(EVMImage, RefusesWhatDoesNotFit) {
  struct Case {
    const char* what;
    std::function<void(Tree&)> make;
    std::string error;
  };
  const Case cases[] = {
      {"a ninth application",
       [](Tree& t) {
         for (int p = 0; p < 9; ++p) t.App("A" + std::to_string(p));
       },
       "Application 'A8' is one too many: an image holds at most 8 applications."},
      {"a ninth script",
       [](Tree& t) {
         EVMApplicationLayout& a = t.App("Full");
         for (int s = 0; s < 9; ++s) t.Script(a, "S" + std::to_string(s));
       },
       "Script 'S8' of application 'Full' is one too many: an application holds at most 8 scripts."},
      {"an image past 0xFFFF",
       [](Tree& t) {
         EVMApplicationLayout& a = t.App("Huge");
         Bytes data(255, 0x5A);
         for (int s = 0; s < 8; ++s) {
           EVMScriptImage& script = t.Script(a, "S" + std::to_string(s));
           while (script.AddWrite(0x30, 0, data.data(), 255)) {
           }
         }
       },
       "Script 'S7' of application 'Huge' is too large: the image passes the end of the EEPROM at 0xFFFF "
       "(57344 bytes fit from 0x2000)."},
  };
  for (const Case& c : cases) {
    Tree tree;
    c.make(tree);
    Bytes image{0xAB};
    std::string error;
    EXPECT_FALSE(EEPROMApplicationImage::Build(tree.applications, image, error)) << c.what;
    EXPECT_EQ(error, c.error) << c.what;
    EXPECT_EQ(image, Bytes{0xAB}) << c.what;
  }

  // The record area takes 8192 bytes and refuses a write that would pass it.
  EVMScriptImage s;
  Bytes data(255, 1);
  for (int k = 0; k < 31; ++k) ASSERT_TRUE(s.AddWrite(0x30, 0, data.data(), 255));
  const Bytes before = s.Records();
  EXPECT_FALSE(s.AddWrite(0x30, 0, data.data(), 160));
  EXPECT_EQ(s.Records(), before);
  EXPECT_TRUE(s.AddWrite(0x30, 0, data.data(), 8192 - 31 * 259 - 4));
  EXPECT_EQ(s.Length(), 8192);
  EXPECT_FALSE(s.AddWrite(0x30, 0, data.data(), 0 + 1));

  // A HEX file whose addresses would pass 0xFFFF is refused.
  std::string text, error;
  EXPECT_TRUE(EEPROMApplicationImage::IntelHex(Bytes(16, 0), 0xFFF0, text, error));
  EXPECT_FALSE(EEPROMApplicationImage::IntelHex(Bytes(17, 0), 0xFFF0, text, error));
  EXPECT_EQ(error, "The image of 17 bytes at 0xFFF0 passes address 0xFFFF.");
}

Bytes SampleImage() {
  Tree tree;
  EVMApplicationLayout& a = tree.App("Playback");
  Write(tree.Script(a, "Init"), 0x30, 0x00, {0x00, 0x01});
  Bytes ramp(100);
  for (int i = 0; i < 100; ++i) ramp[size_t(i)] = uint8_t(i * 3);
  Write(tree.Script(a, "Ramp"), 0x30, 0x08, ramp);
  Write(tree.Script(tree.App("Record"), "Mic"), 0x32, 0x51, {0xC0});
  return tree.Build();
}

TEST(EVMImage, TextsHaveTheirExactForm) {
  const Bytes image(18, 0x0F);
  EXPECT_EQ(EEPROMApplicationImage::CHeader(image),
            "#ifndef __EVM_APPS\r\n#define __EVM_APPS\r\n\r\nconst unsigned char pEEPROM[] = \r\n{\r\n"
            "  0x0F, 0x0F, 0x0F, 0x0F, 0x0F, 0x0F, 0x0F, 0x0F, 0x0F, 0x0F, 0x0F, 0x0F, 0x0F, 0x0F, 0x0F, 0x0F, \r\n"
            "  0x0F, 0x0F\r\n};\r\n#endif\r\n");
  EXPECT_EQ(EEPROMApplicationImage::CHeader({0x00}),
            "#ifndef __EVM_APPS\r\n#define __EVM_APPS\r\n\r\nconst unsigned char pEEPROM[] = \r\n{\r\n  0x00\r\n};\r\n"
            "#endif\r\n");
  std::string hex, error;
  ASSERT_TRUE(EEPROMApplicationImage::IntelHex({0x01, 0x20, 0x03}, 0x2000, hex, error));
  EXPECT_EQ(hex, ":03200000012003B9\r\n:00000001FF\r\n");
}

TEST(EVMImage, ObjcopyReadsTheHexFileBack) {
  const Bytes image = SampleImage();
  ASSERT_GT(image.size(), 160u);
  testsupport::TempDir dir;
  std::string hex, error;
  ASSERT_TRUE(EEPROMApplicationImage::IntelHex(image, 0x2000, hex, error));
  testsupport::WriteFile(dir.File("apps.hex"), hex);
  const std::string command =
      "objcopy -I ihex -O binary '" + dir.File("apps.hex") + "' '" + dir.File("apps.bin") + "'";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  const std::string bin = testsupport::ReadFile(dir.File("apps.bin"));
  EXPECT_EQ(Bytes(bin.begin(), bin.end()), image);
}

TEST(EVMImage, TheSystemCompilerReadsTheHeader) {
  const Bytes image = SampleImage();
  testsupport::TempDir dir;
  testsupport::WriteFile(dir.File("apps.h"), EEPROMApplicationImage::CHeader(image));
  // The header compiles on its own, and a program that includes it gives the image back.
  testsupport::WriteFile(dir.File("check.c"),
                         "#include <stdio.h>\n#include \"apps.h\"\n#include \"apps.h\"\n"
                         "int main(void) { return fwrite(pEEPROM, 1, sizeof pEEPROM, stdout) != sizeof pEEPROM; }\n");
  const std::string compiler = PALISAR_CXX_COMPILER;
  std::string command = "'" + compiler + "' -x c++ -fsyntax-only '" + dir.File("apps.h") + "'";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  command = "'" + compiler + "' -x c++ -o '" + dir.File("check") + "' '" + dir.File("check.c") + "' && '" +
            dir.File("check") + "' > '" + dir.File("out.bin") + "'";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  const std::string out = testsupport::ReadFile(dir.File("out.bin"));
  EXPECT_EQ(Bytes(out.begin(), out.end()), image);
}

}  // namespace
