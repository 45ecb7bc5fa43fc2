#include "diagram/block_diagram.h"

#include <QCursor>
#include <QEvent>
#include <QWidget>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <unordered_map>

#include "diagram/bit_widgets.h"
#include "diagram/streaming_widget.h"
#include "platform/file.h"
#include "platform/gui/gui.h"
#include "platform/library.h"
#include "platform/log.h"
#include "platform/text.h"

// ---------------------------------------------------------------- errors

namespace {

std::string ErrorText(const std::string& file, const std::string& element, int line, const std::string& attribute,
                      const std::string& problem) {
  // Every part may come from the file: each is cut to a readable length.
  std::string text = "Diagram " + platform::Quote(file);
  if (!element.empty()) {
    text += ", element <" + platform::Cut(element) + ">";
    if (line > 0) text += " (line " + std::to_string(line) + ")";
  } else if (line > 0) {
    text += ", line " + std::to_string(line);
  }
  if (!attribute.empty()) text += ", attribute " + platform::Quote(attribute);
  return text + ": " + problem;
}

// Comments and processing instructions stay in the tree: they build nothing,
// but a `g` holding one still has child nodes and builds an (empty) group,
// which takes an id like any other object.
constexpr unsigned kParseOptions = pugi::parse_default | pugi::parse_comments | pugi::parse_pi;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
bool IsSeparator(char c) { return c == ',' || c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

std::string Trim(const char* text) {
  std::string s = text ? text : "";
  size_t a = 0, b = s.size();
  while (a < b && IsSpace(s[a])) ++a;
  while (b > a && IsSpace(s[b - 1])) --b;
  return s.substr(a, b - a);
}

void HoldStream(TGUIObject* object, bool hold) {
  if (auto* streaming = dynamic_cast<TStreamingShape*>(object)) streaming->HoldStream(hold);
  if (auto* group = dynamic_cast<TGUIGroup*>(object))
    for (unsigned i = 0; i < group->GetChildCount(); ++i) HoldStream(group->GetChild(i), hold);
}

// A page's controls sit on this layer: it covers the paint box and follows
// its size, and pointer events it does not take (everywhere but on a
// control) go on to the paint box beneath, at the same coordinates.
class TControlLayer : public QWidget {
 public:
  explicit TControlLayer(QWidget* box) : QWidget(box) {
    setObjectName("PageControls");
    // Hover moves, too, must reach the paint box.
    setMouseTracking(true);
    setGeometry(box->rect());
    box->installEventFilter(this);
    show();
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == parentWidget() && event->type() == QEvent::Resize) setGeometry(parentWidget()->rect());
    return false;
  }
};

}  // namespace

TDiagramLoadError::TDiagramLoadError(const std::string& file, const std::string& element, int line,
                                     const std::string& attribute, const std::string& problem)
    : std::runtime_error(ErrorText(file, element, line, attribute, problem)),
      file_(file),
      element_(element),
      attribute_(attribute),
      problem_(problem),
      line_(line) {}

// ---------------------------------------------------------------- numbers

int TBlockDiagram::ReadInteger(const char* text) {
  const std::string s = Trim(text);
  size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  int base = 10;
  if (s.compare(i, 2, "0x") == 0 || s.compare(i, 2, "0X") == 0) {
    base = 16, i += 2;
  } else if (i < s.size() && s[i] == '$') {
    base = 16, i += 1;
  }
  if (i >= s.size()) throw std::invalid_argument(platform::Quote(s) + " is not an integer");
  uint64_t value = 0;
  const auto [end, error] = std::from_chars(s.data() + i, s.data() + s.size(), value, base);
  const uint64_t limit = base == 16 ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
  if (error != std::errc() || end != s.data() + s.size() || value > limit)
    throw std::invalid_argument(platform::Quote(s) + " is not an integer");
  // Hexadecimal spans the 32 bits, as the colour and mask values need.
  const int32_t result = int32_t(uint32_t(value));
  return negative ? int32_t(0u - uint32_t(result)) : result;
}

double TBlockDiagram::ReadReal(const char* text) {
  const std::string s = Trim(text);
  size_t i = (!s.empty() && s[0] == '+') ? 1 : 0;
  double value = 0;
  const auto [end, error] = std::from_chars(s.data() + i, s.data() + s.size(), value);
  if (i >= s.size() || error != std::errc() || end != s.data() + s.size() || !std::isfinite(value))
    throw std::invalid_argument(platform::Quote(s) + " is not a number");
  return value;
}

double TBlockDiagram::ListReal(const char* text, const char** endOut) {
  const char* p = text ? text : "";
  while (IsSpace(*p)) ++p;
  const char* start = p;
  if (*p == '+' || *p == '-') ++p;
  const char* digits = p;
  while (*p >= '0' && *p <= '9') ++p;
  bool any = p != digits;
  if (*p == '.') {
    const char* fraction = ++p;
    while (*p >= '0' && *p <= '9') ++p;
    any = any || p != fraction;
  }
  if (!any) {
    if (endOut) *endOut = text;
    return 0;
  }
  if (*p == 'e' || *p == 'E') {
    const char* q = p + 1;
    if (*q == '+' || *q == '-') ++q;
    if (*q >= '0' && *q <= '9') {
      while (*q >= '0' && *q <= '9') ++q;
      p = q;
    }
  }
  if (endOut) *endOut = p;
  const char* from = *start == '+' ? start + 1 : start;
  double value = 0;
  std::from_chars(from, p, value);
  return value;
}

int TBlockDiagram::ListInteger(const char* text, const char** endOut) {
  const char* p = text ? text : "";
  while (IsSpace(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  const char* digits = p;
  int64_t value = 0;
  while (*p >= '0' && *p <= '9') {
    value = std::min<int64_t>(value * 10 + (*p - '0'), int64_t(1) << 32);
    ++p;
  }
  if (p == digits) {
    if (endOut) *endOut = text;
    return 0;
  }
  if (endOut) *endOut = p;
  if (negative) value = -value;
  return int(std::clamp<int64_t>(value, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

std::vector<std::string> TBlockDiagram::SplitList(const char* text) {
  std::vector<std::string> items;
  const char* p = text ? text : "";
  while (*p) {
    while (*p && IsSeparator(*p)) ++p;
    const char* start = p;
    while (*p && !IsSeparator(*p)) ++p;
    if (p != start) items.emplace_back(start, p);
  }
  return items;
}

unsigned TBlockDiagram::ParsePoints(TPointF* pairs, unsigned capacity, const char* text) {
  unsigned count = 0;
  bool haveX = false;
  float x = 0;
  for (const std::string& item : SplitList(text)) {
    const float value = float(ListReal(item.c_str()));
    if (!haveX) {
      x = value;
      haveX = true;
      continue;
    }
    haveX = false;
    if (count < capacity) pairs[count] = {x, value};
    ++count;
  }
  // A trailing lone number is kept as the x of one more pair, never past
  // the caller's buffer, and not counted.
  const unsigned complete = std::min(count, capacity);
  if (haveX && complete < capacity) pairs[complete] = {x, 0};
  return complete;
}

unsigned TBlockDiagram::ParseNumbers(float* values, unsigned capacity, const char* text) {
  unsigned count = 0;
  for (const std::string& item : SplitList(text)) {
    if (count >= capacity) break;
    values[count++] = float(ListReal(item.c_str()));
  }
  return count;
}

std::string TBlockDiagram::StyleValue(const std::string& style, const std::string& key) {
  const size_t at = style.find(key);
  if (at == std::string::npos) return "";
  const size_t start = at + key.size();
  const size_t end = style.find(';', start);
  return style.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

TBlockDiagram::TStyle TBlockDiagram::ParseStyle(const char* text) {
  TStyle style;
  const std::string s = text ? text : "";
  auto read = [&](const char* key, int& kind, uint32_t& colour) {
    const std::string value = Trim(StyleValue(s, key).c_str());
    if (value.empty() || value[0] != '#') return;
    const std::string digits = Trim(value.c_str() + 1);
    uint32_t parsed = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), parsed, 16);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size())
      throw std::invalid_argument("colour " + platform::Quote(value) + " is not a hexadecimal number");
    kind = 2;
    colour = parsed;
  };
  read("fill:", style.fillKind, style.fillColour);
  read("stroke:", style.strokeKind, style.strokeColour);
  return style;
}

void TBlockDiagram::ParseTransform(TGUIObject* object, const char* text) {
  std::string s = text ? text : "";
  std::replace(s.begin(), s.end(), '(', ' ');
  std::replace(s.begin(), s.end(), ')', ' ');
  size_t i = 0;
  while (i < s.size() && IsSpace(s[i])) ++i;
  size_t j = i;
  while (j < s.size() && !IsSpace(s[j])) ++j;
  const std::string word = s.substr(i, j - i);
  float n[6] = {};
  const std::vector<std::string> items = SplitList(s.c_str() + j);
  for (size_t k = 0; k < items.size() && k < 6; ++k) n[k] = float(ListReal(items[k].c_str()));
  if (word == "matrix") {
    object->Transform(n[0], n[1], n[2], n[3], n[4], n[5]);
  } else if (word == "scale") {
    object->Scale(n[0], n[1]);
  } else if (word == "translate") {
    object->Translate(n[0], n[1]);
  }
}

void TBlockDiagram::ReadLinkTo(TGUIObject* object, const char* text) {
  int value = 0;
  for (const std::string& item : SplitList(text)) {
    const size_t colon = item.find(':');
    const int linkID = ListInteger(item.substr(0, colon).c_str());
    if (colon != std::string::npos) value = ListInteger(item.c_str() + colon + 1);
    object->AddLinkTo(linkID, value);
  }
}

int TBlockDiagram::ReadSizeValue(const char* text, bool* whole) {
  const char* p = text ? text : "";
  while (*p == '.') ++p;
  const char* dot = std::strchr(p, '.');
  const std::string digits = dot ? std::string(p, dot) : std::string(p);
  const char* end = nullptr;
  const int value = ListInteger(digits.c_str(), &end);
  if (whole) {
    // Only blanks may follow the number ("1e30" reads as 1, "abc" as 0).
    *whole = end != digits.c_str();
    for (; *whole && *end; ++end) *whole = IsSpace(*end);
  }
  return value;
}

// ---------------------------------------------------------------- page

TBlockDiagram::TBlockDiagram(const std::string& name, const TDiagramContext& pageContext)
    : context(pageContext), proximityTimer(std::make_unique<TProximityTimer>()) {
  if (QWidget* box = DiagramControlParent(context.owner)) controlLayer = new TControlLayer(box);
  try {
    Load(name);
  } catch (...) {
    delete controlLayer.data();
    throw;
  }
}

TBlockDiagram::~TBlockDiagram() {
  // The first page with a library frees the window's instance; the others
  // find none. The library itself stays loaded.
  FreePluginInstance();
  proximityTimer->Clear();  // no tick may reach an object being deleted
  Clear();
  proximityTimer.reset();
  // Each widget took its own controls; the layer holds what is left.
  delete controlLayer.data();
}

void TBlockDiagram::Clear() {
  if (proximityTimer) proximityTimer->Clear();
  for (unsigned i = 0; i < objectCount; ++i) delete objects[i];
  std::fill(std::begin(objects), std::end(objects), nullptr);
  std::fill(std::begin(registerWindows), std::end(registerWindows), nullptr);
  objectCount = 0;
  registerWindowCount = 0;
  droppedRegisterWindows = 0;
  loadScripts.clear();
}

void TBlockDiagram::RunLoadScripts(bool send) {
  std::vector<TLoadScript> pending;
  pending.swap(loadScripts);
  for (const TLoadScript& script : pending) {
    if (send) script.run();
    else platform::LogLine(fileName + ": " + script.name + " not sent: no board");
  }
}

void TBlockDiagram::SetVisible(bool visible) {
  if (!visible && controlLayer) controlLayer->hide();
  for (unsigned i = 0; i < objectCount; ++i) objects[i]->SetVisible(visible);
  if (visible && controlLayer) {
    controlLayer->show();
    controlLayer->raise();
  }
}

void TBlockDiagram::HoldStreams(bool hold) {
  for (unsigned i = 0; i < objectCount; ++i) HoldStream(objects[i], hold);
}

void TBlockDiagram::SetZoom(double zoom, int dx, int dy) {
  const float scale = float(zoom * 0.8);
  for (unsigned i = 0; i < objectCount; ++i) objects[i]->Place(scale, dx, dy);
}

void TBlockDiagram::Progress(const char* text, int position) {
  if (!context.progress) return;
  if (text) context.progress->SetText(text);
  if (position >= 0) context.progress->SetPosition(position);
  context.progress->Repaint();
}

void TBlockDiagram::Load(const std::string& name) {
  Clear();
  fileName = name;
  nextID = 1;
  warnings.clear();
  // No name: the empty page a board window without diagrams shows.
  if (name.empty()) return;
  try {
    const std::string path = platform::MapPath(name);
    std::string error;
    if (!platform::ReadFile(path, source, error)) throw TDiagramLoadError(name, "", 0, "", "cannot be read: " + error);

    pugi::xml_document document;
    const pugi::xml_parse_result parsed =
        document.load_buffer(source.data(), source.size(), kParseOptions, pugi::encoding_auto);
    if (!parsed) {
      const int line =
          1 + int(std::count(source.begin(), source.begin() + std::min<size_t>(size_t(parsed.offset), source.size()),
                             '\n'));
      throw TDiagramLoadError(name, "", line, "", std::string("XML parse error: ") + parsed.description());
    }
    const pugi::xml_node root = document.document_element();
    if (root) {
      ReadMetadata(root);
      // The page's name in the board window's View menu.
      title = Trim(root.child("title").child_value());
      ObjectList list;
      LoadElements(list, kMaxObjects, root, 0);
      for (auto& object : list) objects[objectCount++] = object.release();
      ResolveLinks();
      for (unsigned i = 0; i < objectCount; ++i) objects[i]->AfterLoad();
      ReadSize(root);
      if (context.addDevice) context.addDevice(unsigned(I2CAddress), unsigned(books), unsigned(pages));
      BindPlugin();
      if (context.processingBlockWindow) AddRegisterWindow(context.processingBlockWindow);
      if (droppedRegisterWindows > 0)
        WarnPage(std::to_string(droppedRegisterWindows) + " register window(s) not kept: a page holds at most " +
                 std::to_string(kMaxRegisterWindows));
    }
  } catch (...) {
    source.clear();
    Clear();
    throw;
  }
  source.clear();
  source.shrink_to_fit();
}

void TBlockDiagram::ReadMetadata(pugi::xml_node root) {
  const pugi::xml_node metadata = root.child("metadata");
  if (!metadata) return;
  auto convert = [&](pugi::xml_node node, auto reader) {
    try {
      return reader(node.child_value());
    } catch (const std::invalid_argument& error) {
      Fail(node, "", error.what());
    }
  };
  if (const pugi::xml_node file = metadata.child("file")) initScriptFile = Trim(file.child_value());
  if (const pugi::xml_node dll = metadata.child("dll")) {
    libraryPath = Trim(dll.child_value());
    Progress(("Loading DLL: " + libraryPath).c_str(), 5);
    LoadLibrary(libraryPath);
  }
  if (const pugi::xml_node node = metadata.child("I2CAddress")) I2CAddress = convert(node, ReadInteger);
  pages = 0;
  if (const pugi::xml_node node = metadata.child("pages")) pages = convert(node, ReadInteger);
  books = 0;
  if (const pugi::xml_node node = metadata.child("books")) books = convert(node, ReadInteger);
  ZoomFactor = 1.0;
  if (const pugi::xml_node node = metadata.child("ZoomFactor")) {
    const double zoom = convert(node, ReadReal);
    ZoomFactor = std::clamp(zoom, kMinZoomFactor, kMaxZoomFactor);
    if (ZoomFactor != zoom)
      platform::LogF("%s: ZoomFactor %g is out of range, %g is used", platform::Cut(fileName).c_str(), zoom, ZoomFactor);
  }
}

void TBlockDiagram::LoadLibrary(const std::string& path) {
  module = nullptr;
  if (path.empty()) return;
  std::string error;
  module = platform::LoadModule(path, &error);
  if (!module) platform::LogLine(fileName + ": the plug-in library " + path + " cannot be loaded: " + error);
}

void* TBlockDiagram::Export(const char* name) const { return platform::ResolveSymbol(module, name); }

void* TBlockDiagram::PluginInstance() const {
  return context.getPluginInstance ? context.getPluginInstance() : nullptr;
}

void TBlockDiagram::BindPlugin() {
  // Without a window to keep it, no instance is made.
  if (!module || !context.getPluginInstance || !context.setPluginInstance) return;
  // 1. The window's one instance, made by the first page that binds.
  if (!PluginInstance()) {
    Progress("Initializing Library...", 80);
    if (auto init = reinterpret_cast<TPluginInit>(Export("_Init"))) {
      uint8_t* image = context.pluginImage ? context.pluginImage() : nullptr;
      void* instance = init(context.window, PluginCallbackStub1, PluginCallbackStub2, context.pluginCommand, image);
      if (context.setPluginInstance) context.setPluginInstance(instance);
    }
  }
  void* instance = PluginInstance();
  if (!instance) return;
  // 2. Its name: the board window's caption.
  if (auto setName = reinterpret_cast<TPluginSetCodecName>(Export("_SetCodecName"))) {
    const std::string caption = context.caption ? context.caption() : std::string();
    setName(instance, caption.c_str());
  }
  // 3. Its register windows, bound to the board window and registered here.
  if (auto getWindow = reinterpret_cast<TPluginGetI2CObject>(Export("_GetI2CObject"))) {
    for (unsigned i = 0;; ++i) {
      TI2CObject* window = getWindow(instance, i);
      if (!window) break;
      window->SetCallbacks(context.window, context.objectWrite, context.objectRefreshRequest, context.blockTransfer);
      AddRegisterWindow(window);
    }
  }
}

void TBlockDiagram::FreePluginInstance() {
  if (!module) return;
  void* instance = PluginInstance();
  if (!instance) return;
  if (auto free = reinterpret_cast<TPluginFreeCodecInstance>(Export("_FreeCodecInstance"))) free(instance);
  if (context.setPluginInstance) context.setPluginInstance(nullptr);
}

int TBlockDiagram::PluginCallbackStub1() { return 0; }
int TBlockDiagram::PluginCallbackStub2() { return 0; }

void TBlockDiagram::SetSampleRate(unsigned rate) {
  if (!module) return;
  // The rate may come with a status report on the link's thread: the
  // plug-in's dialogs take it on the GUI thread only.
  if (gui::Installed() && !gui::IsGuiThread()) {
    std::weak_ptr<int> alive = lifeToken;
    gui::Post([this, alive, rate] {
      if (alive.lock()) SetSampleRate(rate);
    });
    return;
  }
  void* instance = PluginInstance();
  if (!instance) return;
  if (auto setRate = reinterpret_cast<TPluginSetSampleRate>(Export("_SetSampleRate"))) setRate(instance, rate);
}

void TBlockDiagram::ShowPluginDialog(TGUIObject* object) {
  if (!module || !object) return;
  const std::string& name = object->GetFunctionName();
  // Page switches are the board window's own.
  if (name == "DConf" || name == "return") return;
  void* instance = PluginInstance();
  if (!instance) return;
  if (auto show = reinterpret_cast<TPluginShowDialog>(Export("_ShowDialog"))) {
    const QPoint at = QCursor::pos();
    show(instance, name.c_str(), at.x(), at.y(), object);
  }
}

unsigned TBlockDiagram::LoadElements(ObjectList& list, unsigned capacity, pugi::xml_node parent, int depth) {
  Progress("Loading SVG Nodes...", -1);
  const int n = int(std::distance(parent.begin(), parent.end()));
  int j = 0;
  unsigned ignored = 0;
  for (pugi::xml_node node : parent.children()) {
    Progress(nullptr, j * 75 / n + 5);
    ++j;
    if (list.size() >= capacity) {  // full: nothing more is built
      if (BuildsObject(node)) ++ignored;
      continue;
    }
    std::unique_ptr<TGUIObject> object = BuildElement(node, depth);
    if (!object) continue;
    ApplyCommonAttributes(object.get(), node);
    list.push_back(std::move(object));
  }
  if (ignored > 0)
    Warn(parent, "",
         std::to_string(ignored) + " further drawing element(s) ignored: " +
             (depth == 0 ? "a page" : "a group") + " holds at most " + std::to_string(capacity) + " objects");
  return unsigned(list.size());
}

bool TBlockDiagram::BuildsObject(pugi::xml_node node) {
  if (node.type() != pugi::node_element) return false;
  static const char* const kNames[] = {"polygon", "polyline", "line", "ellipse", "rect", "text", "path", "g"};
  for (const char* name : kNames)
    if (!std::strcmp(node.name(), name)) return true;
  return false;
}

std::unique_ptr<TGUIObject> TBlockDiagram::BuildElement(pugi::xml_node node, int depth) {
  if (node.type() != pugi::node_element) return nullptr;
  const char* name = node.name();
  if (!std::strcmp(name, "polygon")) return BuildPolygon(node);
  if (!std::strcmp(name, "polyline")) return BuildPolyline(node, false);
  if (!std::strcmp(name, "line")) return BuildLine(node);
  if (!std::strcmp(name, "ellipse")) return BuildEllipse(node);
  if (!std::strcmp(name, "rect")) return BuildRect(node);
  if (!std::strcmp(name, "text")) return BuildText(node);
  if (!std::strcmp(name, "path")) return BuildPath(node);
  if (!std::strcmp(name, "g")) {
    if (!node.first_child()) return nullptr;
    if (depth >= kMaxGroupDepth) {
      Warn(node, "", "groups nest deeper than " + std::to_string(kMaxGroupDepth) + " levels; the group is skipped");
      return nullptr;
    }
    ObjectList children;
    LoadElements(children, TGUIGroup::kMaxChildren, node, depth + 1);
    std::vector<TGUIObject*> raw;
    raw.reserve(children.size());
    for (auto& child : children) raw.push_back(child.get());
    auto group = std::make_unique<TGUIGroup>(raw.data(), unsigned(raw.size()));
    for (auto& child : children) (void)child.release();  // the group owns them now
    return group;
  }
  return nullptr;
}

void TBlockDiagram::ApplyCommonAttributes(TGUIObject* object, pugi::xml_node node) {
  const int objectID = Has(node, "ID") ? Integer(node, "ID", 0) : nextID++;
  if (Has(node, "LinkTo")) ReadLinkTo(object, node.attribute("LinkTo").value());
  if (Has(node, "Net")) {
    for (const std::string& item : SplitList(node.attribute("Net").value())) object->AddNet(ListInteger(item.c_str()));
  }
  object->SetOnColour(TColor(Integer(node, "ActiveColor", 0xFF0000)));
  object->SetOnWidth(2);
  if (Has(node, "active")) object->SetState(Integer(node, "active", 0) != 0);
  object->SetHighlightColour(TColor(Integer(node, "HighlightColor", 255)));
  object->SetHighlightWidth(2);
  object->SetColour(0x444444);
  object->SetWidth(2);
  if (Has(node, "shadow")) object->SetShadow(true);
  if (Has(node, "gradient")) object->SetGradient(true);
  if (Has(node, "style")) {
    try {
      const TStyle style = ParseStyle(node.attribute("style").value());
      object->SetStyle(style.fillKind, style.fillColour, style.strokeKind, style.strokeColour);
    } catch (const std::invalid_argument& error) {
      Fail(node, "style", error.what());
    }
  }
  if (Has(node, "function")) {
    object->SetMode(1, proximityTimer.get());
    object->SetFunctionName(node.attribute("function").value());
  }
  if (Has(node, "transform")) ParseTransform(object, node.attribute("transform").value());
  object->SetBackgroundColour(context.backgroundColour);
  object->SetCallback(context.window, context.objectEvent);
  object->SetID(objectID);
  object->Place(1.0f, 0, 0);
}

void TBlockDiagram::ResolveLinks() {
  // Indexes keep the list order, so each lookup visits the same objects in
  // the same order as a scan of the whole list would.
  std::unordered_map<int, std::vector<TGUIObject*>> byID, byNet;
  for (unsigned i = 0; i < objectCount; ++i) {
    TGUIObject* b = objects[i];
    byID[b->GetID()].push_back(b);
    for (unsigned k = 0; k < b->GetNetCount(); ++k) byNet[b->GetNet(k)->number].push_back(b);
  }
  for (unsigned i = 0; i < objectCount; ++i) {
    TGUIObject* a = objects[i];
    for (int e = 0; e < a->GetLinkToCount(); ++e) {
      const int targetID = a->GetLinkToID(e);
      if (targetID == 0) continue;
      const auto found = byID.find(targetID);
      if (found == byID.end()) continue;
      for (TGUIObject* b : found->second) a->Link(b, a->GetLinkToValue(e));
    }
    for (unsigned k = 0; k < a->GetNetCount(); ++k) {
      const int number = a->GetNet(k)->number;
      if (number == 0) continue;
      const auto found = byNet.find(number);
      if (found == byNet.end()) continue;
      for (TGUIObject* b : found->second) a->AddNetMember(b, k);
    }
  }
}

void TBlockDiagram::ReadSize(pugi::xml_node root) {
  auto read = [&](const char* attribute) {
    if (!Has(root, attribute)) return 100;
    const char* text = root.attribute(attribute).value();
    bool whole = true;
    const int value = ReadSizeValue(text, &whole);
    const int kept = std::clamp(value, kMinPageSize, kMaxPageSize);
    if (!whole)
      Warn(root, attribute, platform::Quote(text) + " is not a whole number; " + std::to_string(kept) + " is used");
    else if (kept != value)
      Warn(root, attribute, std::to_string(value) + " is out of range, " + std::to_string(kept) + " is used");
    return kept;
  };
  width = read("width");
  height = read("height");
}

void TBlockDiagram::AddRegisterWindow(TI2CObject* window) {
  if (registerWindowCount < kMaxRegisterWindows)
    registerWindows[registerWindowCount++] = window;
  else
    ++droppedRegisterWindows;
}

void TBlockDiagram::BindWriteOnly(TI2CObject* window) {
  window->SetCallbacks(context.window, context.objectWrite, nullptr, nullptr);
  AddRegisterWindow(window);
}

// ---------------------------------------------------------------- attributes

int TBlockDiagram::LineOf(pugi::xml_node node) const {
  const ptrdiff_t offset = node.offset_debug();
  if (offset < 0 || source.empty()) return 0;
  return 1 + int(std::count(source.begin(), source.begin() + std::min<size_t>(size_t(offset), source.size()), '\n'));
}

void TBlockDiagram::Fail(pugi::xml_node node, const char* attribute, const std::string& problem) const {
  throw TDiagramLoadError(fileName, node.name(), LineOf(node), attribute ? attribute : "", problem);
}

void TBlockDiagram::Warn(pugi::xml_node node, const char* attribute, const std::string& problem) {
  std::string text = ErrorText(fileName, node.name(), LineOf(node), attribute ? attribute : "", problem);
  platform::LogLine(text);
  warnings.push_back(std::move(text));
}

void TBlockDiagram::WarnPage(const std::string& problem) {
  std::string text = ErrorText(fileName, "", 0, "", problem);
  platform::LogLine(text);
  warnings.push_back(std::move(text));
}

int TBlockDiagram::Integer(pugi::xml_node node, const char* attribute, int fallback) const {
  const pugi::xml_attribute value = node.attribute(attribute);
  if (!value) return fallback;
  try {
    return ReadInteger(value.value());
  } catch (const std::invalid_argument& error) {
    Fail(node, attribute, error.what());
  }
}

double TBlockDiagram::Real(pugi::xml_node node, const char* attribute, double fallback) const {
  const pugi::xml_attribute value = node.attribute(attribute);
  if (!value) return fallback;
  try {
    return ReadReal(value.value());
  } catch (const std::invalid_argument& error) {
    Fail(node, attribute, error.what());
  }
}

bool TBlockDiagram::Require(pugi::xml_node node, std::initializer_list<const char*> attributes) {
  for (const char* attribute : attributes) {
    if (!Has(node, attribute)) {
      Warn(node, attribute, "a required attribute is missing; the element is skipped");
      return false;
    }
  }
  return true;
}

std::string TBlockDiagram::Text(pugi::xml_node node, const char* attribute, const char* fallback) const {
  const pugi::xml_attribute value = node.attribute(attribute);
  return value ? value.value() : fallback;
}
