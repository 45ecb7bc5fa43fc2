// The element builders: one drawing element of a diagram file becomes one
// drawable object; register-bound widgets get their register window bound
// to the board window and registered on the page.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>

#include "common/image_hint.h"
#include "common/shapes.h"
#include "diagram/amplifier.h"
#include "diagram/bit_widgets.h"
#include "diagram/block_diagram.h"
#include "diagram/coefficient_slider.h"
#include "diagram/data_readouts.h"
#include "diagram/pin_select.h"
#include "diagram/routing.h"
#include "diagram/sar_data.h"
#include "diagram/script_button.h"
#include "diagram/streaming_widget.h"
#include "diagram/touch_screen.h"
#include "platform/library.h"

namespace {

constexpr TColor kShapeColour = 0x555555;

bool IsBlankText(const std::string& text) {
  for (char c : text)
    if (c != ' ' && c != '\t' && c != '\n' && c != '\r') return false;
  return true;
}

// The text of a node that holds only text (at least one text child);
// false when it holds anything else.
bool OnlyText(pugi::xml_node node, std::string& text) {
  text.clear();
  if (!node.first_child()) return false;
  for (pugi::xml_node child : node.children()) {
    if (child.type() != pugi::node_pcdata && child.type() != pugi::node_cdata) return false;
    text += child.value();
  }
  return true;
}

}  // namespace

std::unique_ptr<TGUIObject> TBlockDiagram::BuildPolygon(pugi::xml_node node) {
  if (!Has(node, "points")) return nullptr;
  if (std::strcmp(node.attribute("function").value(), "amplifier") != 0) return BuildPolyline(node, true);

  if (!Require(node, {"min", "max", "step", "I2CPage", "I2CRegister", "Mask", "Shift"})) return nullptr;
  TPointF points[kMaxPointPairs];
  const unsigned n = ParsePoints(points, kMaxPointPairs, node.attribute("points").value());
  if (n < 3) {
    Warn(node, "points", "an amplifier needs three points; the element is skipped");
    return nullptr;
  }
  const float min = float(Real(node, "min", 0)), max = float(Real(node, "max", 0)), step = float(Real(node, "step", 0));
  const int device = Integer(node, "I2CAddress", I2CAddress);
  const int page = Integer(node, "I2CPage", 0), reg = Integer(node, "I2CRegister", 0);
  const int shiftValue = Integer(node, "Shift", 0);
  const uint8_t mask = uint8_t(Integer(node, "Mask", 0)), shift = uint8_t(shiftValue);
  const int gainLaw = Integer(node, "CustomGain", 0);
  // Every law and the slider's range divide by the step.
  if (!(step > 0) || float(max - min) / step > float(std::numeric_limits<int>::max())) {
    Warn(node, "step", std::to_string(Real(node, "step", 0)) + " is no step above 0 for min " +
                           std::to_string(min) + " and max " + std::to_string(max) + "; the element is skipped");
    return nullptr;
  }
  if (shiftValue < 0 || shiftValue > 7) {
    Warn(node, "Shift", std::to_string(shiftValue) + " is outside 0..7; the element is skipped");
    return nullptr;
  }
  // The law's second bit lives 34 registers above, on the same page.
  if (gainLaw == TAmplifier::kLawTwoRegisters &&
      (reg < 0 || reg > 127 - TAmplifier::kSecondRegisterOffset)) {
    Warn(node, "I2CRegister",
         std::to_string(reg) + " leaves no register " + std::to_string(TAmplifier::kSecondRegisterOffset) +
             " above it on the page for CustomGain " + std::to_string(gainLaw) + "; the element is skipped");
    return nullptr;
  }
  const bool showMute = Integer(node, "ShowMute", 0) != 0, showPower = Integer(node, "ShowPower", 0) != 0;
  TPointF textLocation = {0, 0};
  if (Has(node, "TextLocation")) ParsePoints(&textLocation, 1, node.attribute("TextLocation").value());
  std::vector<float> gains(kMaxGainValues);
  const unsigned gainCount = Has(node, "CustomGainValues") ? ParseNumbers(gains.data(), kMaxGainValues,
                                                                          node.attribute("CustomGainValues").value())
                                                           : 0;
  const float triangle[6] = {points[0].x, points[0].y, points[1].x, points[1].y, points[2].x, points[2].y};
  auto amplifier = std::make_unique<TAmplifier>(ControlOwner(), 0.0f, min, max, step, device, page, reg, mask, shift,
                                                gainLaw, gains.data(), gainCount, textLocation.x, textLocation.y,
                                                triangle, showMute, showPower);
  amplifier->SetCallbacks(context.window, context.objectWrite, nullptr, context.blockTransfer);
  AddRegisterWindow(amplifier.get());
  return amplifier;
}

std::unique_ptr<TGUIObject> TBlockDiagram::BuildPolyline(pugi::xml_node node, bool closed) {
  if (!Has(node, "points")) return nullptr;
  TPointF points[kMaxPointPairs];
  const unsigned n = ParsePoints(points, kMaxPointPairs, node.attribute("points").value());
  const TColor activeColour = TColor(Integer(node, "ActiveColor", 0xFF0000));
  if (n < 2) return nullptr;
  if (closed) return std::make_unique<TGUIPolygon>(points, n, 2, kShapeColour);
  std::vector<std::unique_ptr<TGUIObject>> lines;
  for (unsigned i = 1; i < n && lines.size() < TGUIGroup::kMaxChildren; ++i) {
    const float ends[4] = {points[i - 1].x, points[i - 1].y, points[i].x, points[i].y};
    auto line = std::make_unique<TGUILine>(ends, 2, kShapeColour);
    line->SetBackgroundColour(context.backgroundColour);
    line->SetHighlightColour(255);
    line->SetOnColour(activeColour);
    line->SetOnWidth(2);
    lines.push_back(std::move(line));
  }
  std::vector<TGUIObject*> raw;
  for (auto& line : lines) raw.push_back(line.get());
  auto group = std::make_unique<TGUIGroup>(raw.data(), unsigned(raw.size()));
  for (auto& line : lines) (void)line.release();
  return group;
}

std::unique_ptr<TGUIObject> TBlockDiagram::BuildLine(pugi::xml_node node) {
  if (!Require(node, {"x1", "y1", "x2", "y2"})) return nullptr;
  const float ends[4] = {float(Real(node, "x1", 0)), float(Real(node, "y1", 0)), float(Real(node, "x2", 0)),
                         float(Real(node, "y2", 0))};
  return std::make_unique<TGUILine>(ends, 2, TColor(Integer(node, "BaseColor", int(kShapeColour))));
}

std::unique_ptr<TGUIObject> TBlockDiagram::BuildEllipse(pugi::xml_node node) {
  if (!Require(node, {"cx", "cy", "rx", "ry"})) return nullptr;
  const float cx = float(Real(node, "cx", 0)), cy = float(Real(node, "cy", 0));
  const float rx = float(Real(node, "rx", 0)), ry = float(Real(node, "ry", 0));
  const float box[4] = {cx - rx, cy - ry, cx + rx, cy + ry};
  const char* function = node.attribute("function").value();
  if (!std::strcmp(function, "mixer")) return std::make_unique<TMixer>(box, false, 1, 0);
  if (!std::strcmp(function, "mutex_mixer")) return std::make_unique<TMixer>(box, true, 1, 0);
  return std::make_unique<TGUIEllipse>(box, 1, 0);
}

std::unique_ptr<TGUIObject> TBlockDiagram::BuildRect(pugi::xml_node node) {
  if (!Require(node, {"x", "y", "width", "height"})) return nullptr;
  const float x = float(Real(node, "x", 0)), y = float(Real(node, "y", 0));
  const float w = float(Real(node, "width", 0)), h = float(Real(node, "height", 0));
  const float rect[6] = {x, y, x + w, y + h, float(Real(node, "rx", 1.0)), float(Real(node, "ry", 1.0))};
  const std::string function = node.attribute("function").value();
  void* window = context.window;
  QWidget* owner = ControlOwner();

  // A widget with a register window bound write only: mode 1, registered.
  auto writeOnly = [&](auto widget) -> std::unique_ptr<TGUIObject> {
    BindWriteOnly(widget.get());
    widget->SetMode(1, nullptr);
    return widget;
  };
  // A value the widget cannot work with (a bit or shift outside the byte,
  // a toggle that would divide by zero or reach past its nets) rejects the
  // element with a warning.
  auto inRange = [&](const char* attribute, int value, int low, int high) {
    if (value >= low && value <= high) return true;
    Warn(node, attribute,
         std::to_string(value) + " is outside " + std::to_string(low) + ".." + std::to_string(high) +
             "; the element is skipped");
    return false;
  };
  auto streaming = [&](auto widget) -> std::unique_ptr<TGUIObject> {
    widget->SetRefreshRequest(context.objectRefreshRequest);
    return writeOnly(std::move(widget));
  };

  if (function == "touchscreen")
    return streaming(std::make_unique<TTouchScreen>(owner, rect, window, context.scriptTransfer,
                                                    Integer(node, "I2CAddress", I2CAddress)));
  if (function == "DSVoiceRecordData")
    return streaming(std::make_unique<TDSVoiceRecordData>(owner, rect, window, context.scriptTransfer,
                                                          Integer(node, "I2CAddress", 0)));
  if (function == "IN1IN2Data")
    return streaming(
        std::make_unique<TIN1IN2Data>(owner, rect, window, context.scriptTransfer, Integer(node, "I2CAddress", 0)));
  if (function == "SARData") return streaming(std::make_unique<TSARData>(I2CAddress, owner, rect));
  if (function == "toggle") {
    if (!Require(node, {"Mask", "Shift", "I2CPage", "I2CRegister"})) return nullptr;
    const int shift = Integer(node, "Shift", 0), positions = Integer(node, "Positions", 2);
    if (!inRange("Shift", shift, 0, 7) ||
        !inRange("Positions", positions, TToggle::kMinPositions, TToggle::kMaxPositions))
      return nullptr;
    return writeOnly(std::make_unique<TToggle>(window, Integer(node, "Mask", 0), shift,
                                               Integer(node, "I2CAddress", I2CAddress), Integer(node, "I2CPage", 0),
                                               Integer(node, "I2CRegister", 0), rect, positions));
  }
  if (function == "DIRSelect") {
    if (!Require(node, {"I2CPage", "I2CRegister", "SrcPositions", "DstPositions"})) return nullptr;
    float sources[kMaxSourcePositions], destinations[kMaxDestinationPositions];
    const unsigned sourceCount = ParseNumbers(sources, kMaxSourcePositions, node.attribute("SrcPositions").value());
    const unsigned destinationCount =
        ParseNumbers(destinations, kMaxDestinationPositions, node.attribute("DstPositions").value());
    return writeOnly(std::make_unique<TDIRSelect>(window, 15u, 0u, Integer(node, "I2CAddress", I2CAddress),
                                                  Integer(node, "I2CPage", 0), Integer(node, "I2CRegister", 0), rect,
                                                  sources, sourceCount, destinations, destinationCount));
  }
  if (function == "impedance_select") {
    if (!Require(node, {"Mask", "Shift", "I2CPage", "I2CRegister"})) return nullptr;
    if (!inRange("Shift", Integer(node, "Shift", 0), 0, 7)) return nullptr;
    return writeOnly(std::make_unique<TImpedanceSelect>(window, Integer(node, "Mask", 0), Integer(node, "Shift", 0),
                                                        Integer(node, "I2CPage", 0), Integer(node, "I2CRegister", 0),
                                                        rect));
  }
  if (function == "switch" || function == "AmpSwitch") {
    if (!Require(node, {"Bit", "I2CPage", "I2CRegister"})) return nullptr;
    const int bit = Integer(node, "Bit", 0), device = Integer(node, "I2CAddress", I2CAddress);
    const int page = Integer(node, "I2CPage", 0), reg = Integer(node, "I2CRegister", 0);
    if (!inRange("Bit", bit, 0, 7)) return nullptr;
    if (function == "switch") return writeOnly(std::make_unique<TSwitch>(window, bit, device, page, reg, rect));
    auto amp = std::make_unique<TAmpSwitch>(window, bit, device, page, reg, rect);
    amp->SetHintText("Coax Amp: I2C Address: " + HexAddress(device) + ", Register: " + std::to_string(reg) +
                     ", Bit: " + std::to_string(bit));
    return writeOnly(std::move(amp));
  }
  if (function == "ScriptButton") {
    auto button = std::make_unique<TScriptButton>(owner, rect, window, context.scriptTransfer, context.scriptGPIO,
                                                  Text(node, "ScriptOn", "empty.txt"),
                                                  Text(node, "ScriptOff", "empty.txt"), Text(node, "type", "button"));
    // The default state's script waits until the window holds its board.
    const bool on = Integer(node, "default", 0) != 0;
    button->SetButtonState(on);
    TScriptButton* raw = button.get();
    loadScripts.push_back({[raw, on] { raw->SetState(on, true); },
                           "script button script " + (on ? raw->GetOnScript() : raw->GetOffScript())});
    button->SetMode(1, nullptr);
    return button;
  }
  if (function == "IOArrow") {
    if (!Require(node, {"Bit", "I2CPage", "I2CRegister"})) return nullptr;
    if (!inRange("Bit", Integer(node, "Bit", 0), 0, 7)) return nullptr;
    return writeOnly(std::make_unique<TIOArrow>(window, Integer(node, "Bit", 0), Integer(node, "I2CPage", 0),
                                                Integer(node, "I2CRegister", 0), rect));
  }
  if (function == "PinSelect") return writeOnly(std::make_unique<TPinSelect>(owner, rect));
  if (function == "QMX7350Slider") {
    if (!Require(node, {"CoeffFile", "MuteScript", "UnMuteScript", "PowerUpScript", "PowerDownScript"})) return nullptr;
    auto slider = std::make_unique<TQMX7350Slider>(
        owner, window, context.scriptTransfer, Text(node, "CoeffFile", ""), Text(node, "MuteScript", ""),
        Text(node, "UnMuteScript", ""), Text(node, "PowerUpScript", ""), Text(node, "PowerDownScript", ""), rect);
    BindWriteOnly(slider.get());
    slider->SetMode(0, nullptr);
    return slider;
  }
  if (function == "CheckBox") {
    if (!Require(node, {"Bit", "I2CPage", "I2CRegister"})) return nullptr;
    if (!inRange("Bit", Integer(node, "Bit", 0), 0, 7)) return nullptr;
    return writeOnly(std::make_unique<TPlCheckBox>(owner, Integer(node, "I2CAddress", I2CAddress),
                                                   Integer(node, "I2CPage", 0), Integer(node, "I2CRegister", 0),
                                                   Text(node, "Caption", ""), Integer(node, "Bit", 0), rect));
  }
  return std::make_unique<TGUIRectangle>(rect, 2, kShapeColour);
}

std::unique_ptr<TGUIObject> TBlockDiagram::BuildPath(pugi::xml_node node) {
  if (!Has(node, "d")) return nullptr;
  const std::string data = node.attribute("d").value();
  if (std::strcmp(node.attribute("function").value(), "QMX7460_RSEL") != 0) return std::make_unique<TSVGPath>(data);
  if (!Require(node, {"I2CPage", "I2CRegister", "Mask", "Shift"})) return nullptr;
  auto select = std::make_unique<TQMX7460RSEL>(context.window, ControlOwner(), Integer(node, "I2CAddress", I2CAddress),
                                               Integer(node, "I2CPage", 0), Integer(node, "I2CRegister", 0),
                                               Integer(node, "Mask", 0) & 0xFF, Integer(node, "Shift", 0) & 0xFF, data);
  BindWriteOnly(select.get());
  select->SetMode(1, nullptr);
  return select;
}

std::unique_ptr<TGUIObject> TBlockDiagram::BuildText(pugi::xml_node node) {
  if (!Require(node, {"x", "y"})) return nullptr;
  float position[2] = {float(Real(node, "x", 0)) - 3, float(Real(node, "y", 0))};
  const bool imageHint = std::strcmp(node.attribute("function").value(), "ImageHint") == 0;
  int fontSize = 10;
  int lineOffset = 10;
  std::unique_ptr<TGUIText> text;
  for (pugi::xml_node child : node.children()) {
    if (child.type() != pugi::node_element || std::strcmp(child.name(), "tspan") != 0) continue;
    // In 64 bits: the smallest int as a size must not wrap below it.
    if (Has(child, "font-size"))
      fontSize = int(std::max<int64_t>(int64_t(Integer(child, "font-size", 11)) - 1, std::numeric_limits<int>::min()));
    position[1] -= float(fontSize + 1);
    std::string content;
    if (!OnlyText(child, content) || IsBlankText(content)) continue;
    if (!text) {
      if (imageHint) {
        if (!Require(node, {"file", "HintYOffset"})) return nullptr;
        text = std::make_unique<TGUITextImageHint>(ControlOwner(), platform::MapPath(node.attribute("file").value()),
                                                   Integer(node, "HintYOffset", 0), position, content, fontSize);
      } else {
        text = std::make_unique<TGUIText>(position, content, fontSize);
      }
    } else {
      // Kept within the placed range so the conversion stays defined.
      if (Has(child, "dy")) lineOffset = int(ClampCoordinate(float(Real(child, "dy", 0))));
      text->AddLine(content, lineOffset + 5);
    }
  }
  return text;
}
