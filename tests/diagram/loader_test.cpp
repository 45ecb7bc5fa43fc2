// The page loader: metadata, ids, common attributes, links, parsing rules,
// limits, errors and the load progress.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>

#include "common/shapes.h"
#include "diagram/bit_widgets.h"
#include "platform/file.h"
#include "page_fixture.h"

using diagramtest::PageFixture;

namespace {

std::string Rect(const std::string& attributes = "") {
  return "<rect x=\"1\" y=\"2\" width=\"10\" height=\"20\" " + attributes + "/>\n";
}

}  // namespace

TEST(LoaderTest, MetadataDefaultsAndPageSize) {
  PageFixture f;
  auto page = f.Load(Rect(), "width=\"800.5\"");
  EXPECT_EQ(page->GetI2CAddress(), 0x30);
  EXPECT_EQ(page->GetPages(), 0);
  EXPECT_EQ(page->GetBooks(), 0);
  EXPECT_EQ(page->GetZoomFactor(), 1.0);
  EXPECT_EQ(page->GetInitScriptFile(), "");
  EXPECT_EQ(page->GetLibraryPath(), "");
  EXPECT_EQ(page->GetModule(), nullptr);
  EXPECT_EQ(page->GetWidth(), 800);
  EXPECT_EQ(page->GetHeight(), 100);
  ASSERT_EQ(f.devices.size(), 1u);
  EXPECT_EQ(f.devices[0], std::make_tuple(0x30u, 0u, 0u));
}

TEST(LoaderTest, MetadataSettingsAndTheDeviceDeclaration) {
  PageFixture f;
  auto page = f.Load(
      "<metadata><file>Codecs\\init.cfg</file><file>second.cfg</file><dll>Codecs\\QMX7XXX.dll</dll>"
      "<I2CAddress>0x18</I2CAddress><pages>255</pages><books>$2</books><ZoomFactor>1.5</ZoomFactor></metadata>" +
      Rect());
  EXPECT_EQ(page->GetInitScriptFile(), "Codecs\\init.cfg");  // the first one counts
  EXPECT_EQ(page->GetLibraryPath(), "Codecs\\QMX7XXX.dll");
  EXPECT_EQ(page->GetI2CAddress(), 0x18);
  EXPECT_EQ(page->GetPages(), 255);
  EXPECT_EQ(page->GetBooks(), 2);
  EXPECT_EQ(page->GetZoomFactor(), 1.5);
  ASSERT_EQ(f.devices.size(), 1u);
  EXPECT_EQ(f.devices[0], std::make_tuple(0x18u, 2u, 255u));
  ASSERT_FALSE(f.progress.texts.empty());
  EXPECT_EQ(f.progress.texts[0], "Loading DLL: Codecs\\QMX7XXX.dll");
  EXPECT_EQ(f.progress.positions[0], 5);
}

TEST(LoaderTest, IdsFollowTheOrderObjectsAreCompleted) {
  PageFixture f;
  auto page = f.Load(Rect() + "<!-- a comment -->" + "<g>" + Rect() + Rect("ID=\"0x10\"") + Rect() + "</g>" +
                     "<unknown/>" + Rect() + "<g/>" + "<path/>");
  ASSERT_EQ(page->ObjectCount(), 3u);
  EXPECT_EQ(page->Object(0)->GetID(), 1);
  auto* group = dynamic_cast<TGUIGroup*>(page->Object(1));
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(group->GetChild(0)->GetID(), 2);
  EXPECT_EQ(group->GetChild(1)->GetID(), 16);
  EXPECT_EQ(group->GetChild(2)->GetID(), 3);
  EXPECT_EQ(group->GetID(), 4);
  EXPECT_EQ(page->Object(2)->GetID(), 5);
}

TEST(LoaderTest, AGroupHoldingOnlyACommentIsAnEmptyGroupWithAnId) {
  const struct {
    const char* group;
    unsigned objects;  // on the page
    int lastID;        // of the rectangle after the group
  } cases[] = {
      {"<g><!-- nothing yet --></g>", 3, 3},
      {"<g><?note?></g>", 3, 3},
      {"<g>text</g>", 3, 3},
      {"<g>\n  </g>", 2, 2},  // only blanks: no child nodes
      {"<g/>", 2, 2},
  };
  for (const auto& c : cases) {
    PageFixture f;
    auto page = f.Load(Rect() + c.group + Rect());
    ASSERT_EQ(page->ObjectCount(), c.objects) << c.group;
    if (c.objects == 3) {
      auto* group = dynamic_cast<TGUIGroup*>(page->Object(1));
      ASSERT_NE(group, nullptr) << c.group;
      EXPECT_EQ(group->GetChildCount(), 0u) << c.group;
      EXPECT_EQ(group->GetID(), 2) << c.group;
    }
    EXPECT_EQ(page->Object(c.objects - 1)->GetID(), c.lastID) << c.group;
  }
}

TEST(LoaderTest, CommonAttributesInTheirOrder) {
  PageFixture f;
  auto page = f.Load(Rect("ActiveColor=\"0x00FF00\" HighlightColor=\"0xFF\" active=\"1\" shadow=\"\" gradient=\"x\" "
                          "style=\"fill:#FF0000;stroke:#0000FF\" function=\"custom\" transform=\"translate(10,20)\"") +
                     Rect());
  TGUIObject* a = page->Object(0);
  EXPECT_EQ(a->GetOnColour(), 0x00FF00u);
  EXPECT_EQ(a->GetOnWidth(), 2);
  EXPECT_TRUE(a->IsOn());
  EXPECT_EQ(a->GetHighlightColour(), 0xFFu);
  EXPECT_EQ(a->GetHighlightWidth(), 2);
  EXPECT_EQ(a->GetNormalColour(), 0x444444u);
  EXPECT_EQ(a->GetCurrentColour(), 0x444444u);  // set after `active`
  EXPECT_EQ(a->GetNormalWidth(), 2);
  EXPECT_TRUE(a->GetShadow());
  EXPECT_TRUE(a->GetGradient());
  EXPECT_EQ(a->GetFillMode(), 2);
  EXPECT_EQ(a->GetFillColour(), 0xFF0000u);
  EXPECT_EQ(a->GetStrokeColour(), 0x0000FFu);
  EXPECT_EQ(a->GetMode(), 1);
  EXPECT_EQ(a->GetProximityTimer(), page->GetProximityTimer());
  EXPECT_EQ(a->GetFunctionName(), "custom");
  EXPECT_FLOAT_EQ(a->GetPlacedPoint(0).x, 11);
  EXPECT_FLOAT_EQ(a->GetPlacedPoint(0).y, 22);
  EXPECT_EQ(a->GetBackgroundColour(), 0x00F0F0F0u);
  EXPECT_EQ(a->GetCallbackUser(), &f.windowTag);
  EXPECT_EQ(a->GetEventCallback(), &diagramtest::FakeEvent);

  TGUIObject* b = page->Object(1);  // defaults
  EXPECT_EQ(b->GetOnColour(), 0xFF0000u);
  EXPECT_EQ(b->GetHighlightColour(), 255u);
  EXPECT_FALSE(b->IsOn());
  EXPECT_EQ(b->GetMode(), 0);
  EXPECT_EQ(b->GetFillMode(), 0);
  EXPECT_EQ(b->GetFillColour(), 0x808080u);  // no style: the object's own
  EXPECT_EQ(b->GetStrokeMode(), 2);
}

TEST(LoaderTest, LinkToCarriesValuesAndLinksResolveOverTheList) {
  PageFixture f;
  auto page = f.Load(Rect("ID=\"1\" LinkTo=\"3:1, 5, 7:0\" Net=\"9 0\"") + Rect("ID=\"3\" Net=\"9\"") +
                     Rect("ID=\"5\"") + Rect("ID=\"5\" Net=\"9,9\"") + Rect("ID=\"8\" LinkTo=\"8\""));
  TGUIObject* a = page->Object(0);
  ASSERT_EQ(a->GetLinkToCount(), 3);
  EXPECT_EQ(a->GetLinkToID(0), 3);
  EXPECT_EQ(a->GetLinkToValue(0), 1);
  EXPECT_EQ(a->GetLinkToID(1), 5);
  EXPECT_EQ(a->GetLinkToValue(1), 1);
  EXPECT_EQ(a->GetLinkToID(2), 7);
  EXPECT_EQ(a->GetLinkToValue(2), 0);
  // 3 once, 5 twice (two objects carry it), 7 nobody.
  ASSERT_EQ(a->GetTargetCount(), 3u);
  EXPECT_EQ(a->GetTarget(0), page->Object(1));
  EXPECT_EQ(a->GetTarget(1), page->Object(2));
  EXPECT_EQ(a->GetTarget(2), page->Object(3));
  EXPECT_EQ(page->Object(2)->GetSourceValue(0), 1);
  // An object may link to itself.
  EXPECT_EQ(page->Object(4)->GetTarget(0), page->Object(4));
  // Net 9: a itself, the second object, and the fourth twice; net 0 links nothing.
  ASSERT_EQ(a->GetNetCount(), 2u);
  const TGUIObject::TNet* net = a->GetNet(0);
  ASSERT_EQ(net->memberCount, 4u);
  EXPECT_EQ(net->members[0], a);
  EXPECT_EQ(net->members[1], page->Object(1));
  EXPECT_EQ(net->members[2], page->Object(3));
  EXPECT_EQ(net->members[3], page->Object(3));
  EXPECT_EQ(a->GetNet(1)->memberCount, 0u);
}

TEST(ParsingTest, NumberReadings) {
  EXPECT_EQ(TBlockDiagram::ReadInteger("42"), 42);
  EXPECT_EQ(TBlockDiagram::ReadInteger(" -7 "), -7);
  EXPECT_EQ(TBlockDiagram::ReadInteger("0x1F"), 31);
  EXPECT_EQ(TBlockDiagram::ReadInteger("$ff"), 255);
  EXPECT_EQ(TBlockDiagram::ReadInteger("0xFFFFFFFF"), -1);
  for (const char* bad : {"", "12a", "0x", "1.5", "99999999999", "0xG"})
    EXPECT_THROW(TBlockDiagram::ReadInteger(bad), std::invalid_argument) << bad;
  EXPECT_EQ(TBlockDiagram::ReadReal("2.5"), 2.5);
  EXPECT_EQ(TBlockDiagram::ReadReal("-1e2"), -100);
  for (const char* bad : {"", "2,5", "abc", "1.0x", "inf"})
    EXPECT_THROW(TBlockDiagram::ReadReal(bad), std::invalid_argument) << bad;
  EXPECT_EQ(TBlockDiagram::ListReal("  12.5abc"), 12.5);
  EXPECT_EQ(TBlockDiagram::ListReal("x"), 0);
  EXPECT_EQ(TBlockDiagram::ListReal("-.5e1"), -5);
  EXPECT_EQ(TBlockDiagram::ListInteger("12.9"), 12);
  EXPECT_EQ(TBlockDiagram::ListInteger("abc"), 0);
  EXPECT_EQ(TBlockDiagram::SplitList(" 1,, 2\n3 "), (std::vector<std::string>{"1", "2", "3"}));
}

TEST(ParsingTest, PointsStayInsideTheCallersCapacity) {
  TPointF pairs[3] = {{-1, -1}, {-1, -1}, {-1, -1}};
  EXPECT_EQ(TBlockDiagram::ParsePoints(pairs, 3, "1,2 3,4 5"), 2u);
  EXPECT_EQ(pairs[2].x, 5);  // a trailing lone number is kept, not counted
  TPointF guarded[3] = {{-1, -1}, {-1, -1}, {-9, -9}};
  EXPECT_EQ(TBlockDiagram::ParsePoints(guarded, 2, "1,2 3,4 5,6 7"), 2u);
  EXPECT_EQ(guarded[2].x, -9);  // never past the buffer
  float values[4] = {};
  EXPECT_EQ(TBlockDiagram::ParseNumbers(values, 4, "1 2, 3,4,5,6"), 4u);
  EXPECT_EQ(values[3], 4);
}

TEST(ParsingTest, StyleAndTransform) {
  struct StyleCase {
    const char* text;
    int fillKind;
    uint32_t fill;
    int strokeKind;
    uint32_t stroke;
  } styles[] = {{"fill:#FF0000;stroke:#0000FF", 2, 0xFF0000, 2, 0x0000FF},
                {"opacity:1", 0, 0, 0, 0},
                {"fill:#fff", 2, 0xFFF, 0, 0},
                {"stroke:none;fill: #00ff00", 2, 0x00FF00, 0, 0}};
  for (const StyleCase& c : styles) {
    const TBlockDiagram::TStyle s = TBlockDiagram::ParseStyle(c.text);
    EXPECT_EQ(s.fillKind, c.fillKind) << c.text;
    EXPECT_EQ(s.fillColour, c.fill) << c.text;
    EXPECT_EQ(s.strokeKind, c.strokeKind) << c.text;
    EXPECT_EQ(s.strokeColour, c.stroke) << c.text;
  }
  EXPECT_THROW(TBlockDiagram::ParseStyle("fill:#zz"), std::invalid_argument);
  EXPECT_EQ(TBlockDiagram::StyleValue("a:1;fill:x;y", "fill:"), "x");

  struct TransformCase {
    const char* text;
    float x, y;  // where (1, 2) goes
  } transforms[] = {{"translate(10,20)", 11, 22}, {"matrix(1 0 0 1 5 5)", 6, 7}, {"matrix(0,1,-1,0,0,0)", -2, 1},
                    {"scale(2,3)", 2, 6},         {"rotate(90)", 1, 2},          {"translate(4) scale(9)", 5, 2}};
  for (const TransformCase& c : transforms) {
    const float p[4] = {1, 2, 0, 0};
    TGUILine line(p, 1, 0);
    TBlockDiagram::ParseTransform(&line, c.text);
    EXPECT_FLOAT_EQ(line.GetSourcePoint(0).x, c.x) << c.text;
    EXPECT_FLOAT_EQ(line.GetSourcePoint(0).y, c.y) << c.text;
  }
}

TEST(LoaderTest, PageSizeAndZoomAreClampedAndLogged) {
  struct Case {
    const char* root;
    int width, height;
    std::vector<std::string> warnings;  // the end of each
  } cases[] = {
      {"width=\"0\" height=\"abc\"", 1, 1,
       {"\"width\": 0 is out of range, 1 is used", "\"height\": \"abc\" is not a whole number; 1 is used"}},
      {"width=\"1e9\" height=\"99999999\"", 1, TBlockDiagram::kMaxPageSize,
       {"\"width\": \"1e9\" is not a whole number; 1 is used", "\"height\": 99999999 is out of range, 10000 is used"}},
      {"width=\"..640.9\" height=\"-5\"", 640, 1, {"\"height\": -5 is out of range, 1 is used"}},
      {"width=\"1e30\" height=\"800px\"", 1, 800,
       {"\"width\": \"1e30\" is not a whole number; 1 is used",
        "\"height\": \"800px\" is not a whole number; 800 is used"}},
      {"width=\"800.5\" height=\" 300 \"", 800, 300, {}},
  };
  for (const Case& c : cases) {
    PageFixture f;
    testsupport::LogCapture log;
    auto page = f.Load(Rect(), c.root);
    EXPECT_EQ(page->GetWidth(), c.width) << c.root;
    EXPECT_EQ(page->GetHeight(), c.height) << c.root;
    ASSERT_EQ(page->Warnings().size(), c.warnings.size()) << c.root;
    for (size_t i = 0; i < c.warnings.size(); ++i) {
      const std::string& warning = page->Warnings()[i];
      EXPECT_TRUE(warning.ends_with(c.warnings[i])) << warning;
      EXPECT_TRUE(log.Contains(warning)) << warning;
    }
  }
  PageFixture f;
  auto page = f.Load("<metadata><ZoomFactor>1000</ZoomFactor></metadata>");
  EXPECT_EQ(page->GetZoomFactor(), TBlockDiagram::kMaxZoomFactor);
}

TEST(LoaderTest, LoadErrorsNameTheFileElementAndAttribute) {
  PageFixture f;
  try {
    f.Load(Rect() + "\n<rect x=\"1\" y=\"1O\" width=\"1\" height=\"1\"/>");
    FAIL() << "no error";
  } catch (const TDiagramLoadError& error) {
    EXPECT_NE(error.File().find("page.svg"), std::string::npos);
    EXPECT_EQ(error.Element(), "rect");
    EXPECT_EQ(error.Attribute(), "y");
    EXPECT_EQ(error.Line(), 5);
    const std::string text = error.what();
    EXPECT_NE(text.find("attribute \"y\""), std::string::npos) << text;
    EXPECT_NE(text.find("\"1O\" is not a number"), std::string::npos) << text;
  }
  try {
    f.Load("<metadata><I2CAddress>thirty</I2CAddress></metadata>");
    FAIL() << "no error";
  } catch (const TDiagramLoadError& error) {
    EXPECT_EQ(error.Element(), "I2CAddress");
  }
  try {
    f.Load("<g>" + Rect() + Rect("style=\"fill:#nothex\"") + "</g>");
    FAIL() << "no error";
  } catch (const TDiagramLoadError& error) {
    EXPECT_EQ(error.Attribute(), "style");
  }
  EXPECT_THROW(f.Load("<rect x='1' y='2' <"), TDiagramLoadError);
  try {
    TBlockDiagram page(f.dir.File("absent.svg"), f.context);
    FAIL() << "no error";
  } catch (const TDiagramLoadError& error) {
    EXPECT_NE(std::string(error.what()).find("cannot be read"), std::string::npos);
  }
}

TEST(LoaderTest, EndlessAndHugePageFilesAreRefusedNotRead) {
  PageFixture f;
  ASSERT_EQ(::mkfifo(f.dir.File("fifo.svg").c_str(), 0600), 0);  // no writer: opening must not block
  // Sparse: past the limit without writing the data.
  ASSERT_EQ(::truncate(f.Write("").c_str(), off_t(platform::kMaxFileSize) + 1), 0);
  const struct {
    std::string path;
    const char* problem;
  } cases[] = {
      {"/dev/zero", "cannot be read: not a regular file"},
      {f.dir.File("fifo.svg"), "cannot be read: not a regular file"},
      {f.dir.File("page.svg"), "cannot be read: larger than 64 MB"},
      {f.dir.path(), "cannot be read: a directory, not a file"},
  };
  for (const auto& c : cases) {
    try {
      TBlockDiagram page(c.path, f.context);
      ADD_FAILURE() << c.path << " loaded";
    } catch (const TDiagramLoadError& error) {
      EXPECT_EQ(error.Problem(), c.problem) << c.path;
    }
  }
}

TEST(LoaderTest, HugeValuesAreCutInLoadErrors) {
  const std::string huge(5000000, 'z');
  const struct {
    std::string element;
    const char* attribute;
  } cases[] = {
      {Rect("style=\"fill:#" + huge + "\""), "style"},
      {Rect("ID=\"" + huge + "\""), "ID"},
      {"<rect x=\"1" + huge + "\" y=\"2\" width=\"10\" height=\"20\"/>", "x"},
  };
  for (const auto& c : cases) {
    PageFixture f;
    try {
      f.Load(c.element);
      ADD_FAILURE() << c.attribute << " loaded";
    } catch (const TDiagramLoadError& error) {
      const std::string text = error.what();
      EXPECT_EQ(error.Attribute(), c.attribute);
      EXPECT_LT(text.size(), 400u) << c.attribute;
      EXPECT_NE(text.find("zzz\u2026\""), std::string::npos) << text;
    }
  }
}

TEST(LoaderTest, ElementsMissingRequiredAttributesAreSkippedWithAWarning) {
  PageFixture f;
  auto page = f.Load("<rect x=\"1\" y=\"2\" width=\"3\"/>" + Rect() + "<line x1=\"0\" y1=\"0\" x2=\"1\"/>" +
                     "<rect x=\"1\" y=\"2\" width=\"3\" height=\"4\" function=\"switch\" I2CPage=\"0\"/>" +
                     "<polygon/><path function=\"x\"/><text x=\"1\" y=\"1\"><tspan> </tspan></text>");
  ASSERT_EQ(page->ObjectCount(), 1u);
  EXPECT_EQ(page->Object(0)->GetID(), 1);  // the skipped ones took no id
  ASSERT_EQ(page->Warnings().size(), 3u);
  EXPECT_NE(page->Warnings()[0].find("attribute \"height\""), std::string::npos) << page->Warnings()[0];
  EXPECT_NE(page->Warnings()[2].find("attribute \"Bit\""), std::string::npos) << page->Warnings()[2];
  EXPECT_EQ(page->RegisterWindowCount(), 0u);
}

TEST(LoaderTest, ProgressRunsFrom5ToBelow80OverTheElements) {
  PageFixture f;
  std::string body;
  for (int i = 0; i < 10; ++i) body += Rect();
  auto page = f.Load(body);
  ASSERT_FALSE(f.progress.texts.empty());
  EXPECT_EQ(f.progress.texts[0], "Loading SVG Nodes...");
  ASSERT_EQ(f.progress.positions.size(), 10u);
  EXPECT_EQ(f.progress.positions.front(), 5);
  EXPECT_EQ(f.progress.positions.back(), 9 * 75 / 10 + 5);
  EXPECT_TRUE(std::is_sorted(f.progress.positions.begin(), f.progress.positions.end()));
  EXPECT_GE(f.progress.repaints, 11);
}

TEST(LoaderTest, CapacitiesOfPagesAndGroupsHold) {
  PageFixture f;
  std::string body;
  for (int i = 0; i < 1020; ++i) body += Rect();
  // Switches past the 1024th object are not built, nor their windows registered.
  for (int i = 0; i < 10; ++i) body += Rect("function=\"switch\" Bit=\"1\" I2CPage=\"0\" I2CRegister=\"3\"");
  body += "<g>";
  for (int i = 0; i < 200; ++i) body += Rect();
  body += "</g>";
  testsupport::LogCapture log;
  auto page = f.Load(body);
  EXPECT_EQ(page->ObjectCount(), 1024u);
  EXPECT_EQ(page->RegisterWindowCount(), 4u);
  // One warning names the page and counts what was dropped: 6 switches and the group.
  ASSERT_EQ(page->Warnings().size(), 1u);
  EXPECT_NE(page->Warnings()[0].find("page.svg"), std::string::npos) << page->Warnings()[0];
  EXPECT_TRUE(page->Warnings()[0].ends_with(": 7 further drawing element(s) ignored: a page holds at most 1024 objects"))
      << page->Warnings()[0];
  EXPECT_EQ(log.Lines(), page->Warnings());
  EXPECT_NE(dynamic_cast<TSwitch*>(page->Object(1023)), nullptr);
  // Every fading object is on the page's timer, at most 128 of them.
  EXPECT_EQ(page->GetProximityTimer()->Count(), 4u);

  PageFixture g;
  std::string group = "<g>";
  for (int i = 0; i < 200; ++i) group += Rect("function=\"switch\" Bit=\"1\" I2CPage=\"0\" I2CRegister=\"3\"");
  group += "</g>";
  auto grouped = g.Load(group);
  ASSERT_EQ(grouped->ObjectCount(), 1u);
  EXPECT_EQ(static_cast<TGUIGroup*>(grouped->Object(0))->GetChildCount(), 128u);
  EXPECT_EQ(grouped->RegisterWindowCount(), 128u);
  EXPECT_EQ(grouped->Object(0)->GetID(), 129);
  ASSERT_EQ(grouped->Warnings().size(), 1u);
  EXPECT_TRUE(grouped->Warnings()[0].ends_with("<g> (line 3): 72 further drawing element(s) ignored: a group holds at "
                                               "most 128 objects"))
      << grouped->Warnings()[0];

  // Register windows past 256 are not kept: one warning with their number.
  PageFixture h;
  std::string switches;
  for (int i = 0; i < 300; ++i) switches += Rect("function=\"switch\" Bit=\"1\" I2CPage=\"0\" I2CRegister=\"3\"");
  auto many = h.Load(switches);
  EXPECT_EQ(many->ObjectCount(), 300u);
  EXPECT_EQ(many->RegisterWindowCount(), 256u);
  ASSERT_EQ(many->Warnings().size(), 1u);
  EXPECT_TRUE(many->Warnings()[0].ends_with("page.svg\": 44 register window(s) not kept: a page holds at most 256"))
      << many->Warnings()[0];
}

TEST(LoaderTest, GroupNestingIsCapped) {
  PageFixture f;
  std::string body;
  for (int i = 0; i < 40; ++i) body += "<g>";
  body += Rect();
  for (int i = 0; i < 40; ++i) body += "</g>";
  auto page = f.Load(body);
  ASSERT_EQ(page->ObjectCount(), 1u);
  int depth = 0;
  for (TGUIObject* o = page->Object(0); auto* g = dynamic_cast<TGUIGroup*>(o); o = g->GetChild(0)) ++depth;
  EXPECT_EQ(depth, TBlockDiagram::kMaxGroupDepth);
  ASSERT_EQ(page->Warnings().size(), 1u);
  EXPECT_NE(page->Warnings()[0].find("deeper than"), std::string::npos);
}

TEST(LoaderTest, ZoomVisibilityClearAndReload) {
  PageFixture f;
  auto page = f.Load(Rect("function=\"a\""));
  page->SetZoom(2.0, 0, 0);
  EXPECT_FLOAT_EQ(page->Object(0)->GetScale(), 1.6f);
  EXPECT_FLOAT_EQ(page->Object(0)->GetPlacedPoint(1).x, 11 * 1.6f);
  page->SetVisible(false);
  EXPECT_FALSE(page->Object(0)->IsVisible());
  page->Clear();
  EXPECT_EQ(page->ObjectCount(), 0u);
  EXPECT_EQ(page->GetProximityTimer()->Count(), 0u);  // no dangling fade clients
  page->Load(f.Write(Rect() + Rect(), "", "other.svg"));
  EXPECT_EQ(page->ObjectCount(), 2u);
  EXPECT_EQ(page->Object(1)->GetID(), 2);
}

TEST(LoaderTest, TheProcessingBlockWindowComesLast) {
  PageFixture f;
  struct PB : TI2CObject {
    PB() : TI2CObject(0x30, 0, 60, 1, nullptr) {}
    void Refresh() override {}
  } pb;
  f.context.processingBlockWindow = &pb;
  auto page = f.Load(Rect("function=\"switch\" Bit=\"1\" I2CPage=\"0\" I2CRegister=\"3\""));
  ASSERT_EQ(page->RegisterWindowCount(), 2u);
  EXPECT_EQ(page->RegisterWindow(1), &pb);
  EXPECT_EQ(pb.GetWrite(), nullptr);  // the board window binds it
}
