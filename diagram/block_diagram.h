// One diagram page of a board window: reads its diagram file, builds the
// drawable objects through the element builders, links them, registers
// their register windows, and declares the page's codec device.
#pragma once

#include <QPointer>
#include <functional>
#include <memory>
#include <pugixml.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/gui_object.h"
#include "common/i2c_object.h"
#include "diagram/context.h"

// A load that cannot go on: the file cannot be read or parsed, or an
// integer or real attribute does not convert. Names the file, the element
// (with its line) and the attribute.
class TDiagramLoadError : public std::runtime_error {
 public:
  TDiagramLoadError(const std::string& file, const std::string& element, int line, const std::string& attribute,
                    const std::string& problem);
  const std::string& File() const { return file_; }
  const std::string& Element() const { return element_; }
  int Line() const { return line_; }
  const std::string& Attribute() const { return attribute_; }
  const std::string& Problem() const { return problem_; }

 private:
  std::string file_, element_, attribute_, problem_;
  int line_;
};

class TBlockDiagram {
 public:
  static constexpr unsigned kMaxObjects = 1024;
  static constexpr unsigned kMaxRegisterWindows = 256;
  static constexpr unsigned kMaxPointPairs = 256;
  static constexpr unsigned kMaxGainValues = 1024;
  static constexpr unsigned kMaxSourcePositions = 32;
  static constexpr unsigned kMaxDestinationPositions = 16;
  // Groups nest no deeper than this: a hostile file cannot exhaust the stack.
  static constexpr int kMaxGroupDepth = 32;
  // Page size and zoom factor limits (a size of 0 would divide by zero
  // later, a huge one allocate gigabytes).
  static constexpr int kMinPageSize = 1;
  static constexpr int kMaxPageSize = 10000;
  static constexpr double kMinZoomFactor = 0.1;
  static constexpr double kMaxZoomFactor = 4.0;

  // Loads `fileName` at once (relative to the current directory; names
  // written for the original platform are mapped). Throws TDiagramLoadError.
  TBlockDiagram(const std::string& fileName, const TDiagramContext& context);
  ~TBlockDiagram();
  TBlockDiagram(const TBlockDiagram&) = delete;
  TBlockDiagram& operator=(const TBlockDiagram&) = delete;

  void Load(const std::string& fileName);
  // Shows or hides the page's objects and every control of the page.
  void SetVisible(bool visible);
  // Holds (ends, and starts no more) or frees the streams of the page's
  // streaming widgets, inside groups too: the window holds every page but
  // the one it shows, and all of them while it is hidden or minimised.
  void HoldStreams(bool hold);
  // Places every object at zoom x 0.8.
  void SetZoom(double zoom, int dx, int dy);
  // Deletes every object; register windows are not deleted.
  void Clear();

  // The plug-in's sample-rate report (taken to the GUI thread) and object
  // dialog (for objects other than the page switches "DConf" and
  // "return"); nothing is sent while the page has no library or the window
  // no instance.
  void SetSampleRate(unsigned rate);
  void ShowPluginDialog(TGUIObject* object);
  // The callbacks `_Init` is given besides the command callback: nothing.
  static int PluginCallbackStub1();
  static int PluginCallbackStub2();

  // What the board window reads.
  TGUIObject* const* Objects() const { return objects; }
  unsigned ObjectCount() const { return objectCount; }
  TGUIObject* Object(unsigned i) const { return i < objectCount ? objects[i] : nullptr; }
  TI2CObject* const* RegisterWindows() const { return registerWindows; }
  unsigned RegisterWindowCount() const { return registerWindowCount; }
  TI2CObject* RegisterWindow(unsigned i) const { return i < registerWindowCount ? registerWindows[i] : nullptr; }
  int GetI2CAddress() const { return I2CAddress; }
  int GetPages() const { return pages; }
  int GetBooks() const { return books; }
  double GetZoomFactor() const { return ZoomFactor; }
  int GetWidth() const { return width; }
  int GetHeight() const { return height; }
  const std::string& GetInitScriptFile() const { return initScriptFile; }
  // The plug-in library the page names (`dll`), and its handle once bound.
  const std::string& GetLibraryPath() const { return libraryPath; }
  void* GetModule() const { return module; }
  TProximityTimer* GetProximityTimer() const { return proximityTimer.get(); }
  // The widget every real control of the page sits on: a layer over the
  // owner's paint box that shows and hides with the page, so that no
  // control of a hidden page stays on screen. None when headless.
  QWidget* ControlLayer() const { return controlLayer.data(); }
  const TDiagramContext& Context() const { return context; }
  const std::string& FileName() const { return fileName; }
  // The text of the root's `title` element; empty without one.
  const std::string& GetTitle() const { return title; }
  // The scripts widgets run as the page loads (a script button's default
  // state) wait for the board: the window runs them once it holds its
  // board, or, with `send` false, logs each as not sent. Each runs once.
  void RunLoadScripts(bool send);
  unsigned PendingLoadScripts() const { return unsigned(loadScripts.size()); }

  // Elements that were skipped or cut (a required attribute missing, too
  // deep a group, past a capacity) and page sizes not taken as written, one
  // line each naming file, element and attribute; each is logged too.
  const std::vector<std::string>& Warnings() const { return warnings; }

  // Number readings of the diagram format (throw std::invalid_argument).
  static int ReadInteger(const char* text);
  static double ReadReal(const char* text);
  // The C library's leading-number rule; no digits give 0.
  static double ListReal(const char* text, const char** end = nullptr);
  static int ListInteger(const char* text, const char** end = nullptr);
  // List items, split at runs of ',', blanks and line ends.
  static std::vector<std::string> SplitList(const char* text);

  // Parsers of the element builders. Both stay inside `capacity`.
  static unsigned ParsePoints(TPointF* pairs, unsigned capacity, const char* text);
  static unsigned ParseNumbers(float* values, unsigned capacity, const char* text);
  static std::string StyleValue(const std::string& style, const std::string& key);
  struct TStyle {
    int fillKind = 0;
    uint32_t fillColour = 0;
    int strokeKind = 0;
    uint32_t strokeColour = 0;
  };
  static TStyle ParseStyle(const char* style);
  static void ParseTransform(TGUIObject* object, const char* transform);
  static void ReadLinkTo(TGUIObject* object, const char* linkTo);
  // The page size rule; `whole` (when given) tells whether the text up to
  // the first '.' was one number and nothing else.
  static int ReadSizeValue(const char* text, bool* whole = nullptr);

  // Element builders: one object or none; the caller owns the result.
  std::unique_ptr<TGUIObject> BuildPolygon(pugi::xml_node node);
  std::unique_ptr<TGUIObject> BuildPolyline(pugi::xml_node node, bool closed);
  std::unique_ptr<TGUIObject> BuildLine(pugi::xml_node node);
  std::unique_ptr<TGUIObject> BuildEllipse(pugi::xml_node node);
  std::unique_ptr<TGUIObject> BuildRect(pugi::xml_node node);
  std::unique_ptr<TGUIObject> BuildPath(pugi::xml_node node);
  std::unique_ptr<TGUIObject> BuildText(pugi::xml_node node);

 private:
  using ObjectList = std::vector<std::unique_ptr<TGUIObject>>;

  void ReadMetadata(pugi::xml_node root);
  unsigned LoadElements(ObjectList& list, unsigned capacity, pugi::xml_node parent, int depth);
  std::unique_ptr<TGUIObject> BuildElement(pugi::xml_node node, int depth);
  // Whether the node is a drawing element (one that may build an object).
  static bool BuildsObject(pugi::xml_node node);
  void ApplyCommonAttributes(TGUIObject* object, pugi::xml_node node);
  void ResolveLinks();
  void ReadSize(pugi::xml_node root);
  void AddRegisterWindow(TI2CObject* window);
  // Binds a widget's register window and registers it on the page.
  void BindWriteOnly(TI2CObject* window);
  // The plug-in hooks: loading the library the page names, and binding the
  // instance and its register windows after the elements.
  void LoadLibrary(const std::string& path);
  void BindPlugin();
  void FreePluginInstance();
  // An export of the page's library, looked up at every use; null without.
  void* Export(const char* name) const;
  void* PluginInstance() const;

  // Attribute readings that name the element and attribute on failure.
  [[noreturn]] void Fail(pugi::xml_node node, const char* attribute, const std::string& problem) const;
  void Warn(pugi::xml_node node, const char* attribute, const std::string& problem);
  // A warning about the whole page (names the file only).
  void WarnPage(const std::string& problem);
  bool Has(pugi::xml_node node, const char* attribute) const { return bool(node.attribute(attribute)); }
  int Integer(pugi::xml_node node, const char* attribute, int fallback) const;
  double Real(pugi::xml_node node, const char* attribute, double fallback) const;
  // Required attributes: false (and a warning) when one is missing.
  bool Require(pugi::xml_node node, std::initializer_list<const char*> attributes);
  std::string Text(pugi::xml_node node, const char* attribute, const char* fallback) const;
  int LineOf(pugi::xml_node node) const;
  void Progress(const char* text, int position);

  TDiagramContext context;
  // Owner and parent of the widgets' controls (the layer, or none).
  QWidget* ControlOwner() const { return controlLayer.data(); }
  QPointer<QWidget> controlLayer;
  std::string fileName;
  std::string title;
  std::string source;  // the file's text while it loads (for line numbers)
  TGUIObject* objects[kMaxObjects] = {};
  unsigned objectCount = 0;
  TI2CObject* registerWindows[kMaxRegisterWindows] = {};
  unsigned registerWindowCount = 0;
  unsigned droppedRegisterWindows = 0;  // past kMaxRegisterWindows during this load
  int nextID = 1;
  std::string initScriptFile;
  int I2CAddress = 0x30;
  int pages = 0;
  int books = 0;
  std::unique_ptr<TProximityTimer> proximityTimer;
  double ZoomFactor = 1.0;
  int width = 100;
  int height = 100;
  std::string libraryPath;
  void* module = nullptr;
  std::vector<std::string> warnings;
  // Rate reports queued to the GUI thread run only while the page lives.
  std::shared_ptr<int> lifeToken = std::make_shared<int>(0);
  // What runs a load-time script (true: send it) and what names it.
  struct TLoadScript {
    std::function<void()> run;
    std::string name;
  };
  std::vector<TLoadScript> loadScripts;
};
