// An elliptical button that runs one command script when switched on and
// another when switched off ("Codecs\" + the script names); buttons of
// type "radiobutton" form a group through their links.
#pragma once

#include <QPointer>
#include <QWidget>
#include <string>
#include <vector>

#include "common/shapes.h"
#include "diagram/context.h"

class TI2CCommand;

// A hidden command window holding the script `file` (mapped to this
// platform), titled `caption`; a file that cannot be read leaves it empty.
// The file is read (and a failure logged) when the script is set; the
// window, a large form, is built at its first use, since a page holds many
// scripts that are never run or shown.
class TScriptWindow {
 public:
  TScriptWindow() = default;
  ~TScriptWindow();
  TScriptWindow(const TScriptWindow&) = delete;
  TScriptWindow& operator=(const TScriptWindow&) = delete;

  void Set(const std::string& file, const std::string& caption, void* window, TScriptTransferCallback transfer,
           TScriptGPIOCallback gpio);
  // The window, built now when it is not yet (null before Set).
  TI2CCommand* Window();
  bool Built() const;
  // The whole script at once (TI2CCommand::RunSync), and the window shown.
  void RunSync();
  void Show();

 private:
  bool set = false;
  std::string path, caption;
  std::vector<std::string> lines;
  void* window = nullptr;
  TScriptTransferCallback transfer = nullptr;
  TScriptGPIOCallback gpio = nullptr;
  QPointer<TI2CCommand> command;
};

class TScriptButton : public TGUIEllipse {
 public:
  // The scripts' directory, as the file names are given.
  static constexpr const char* kScriptDirectory = "Codecs\\";

  // `rect`: the rectangle geometry of the element; the ellipse fills its box.
  TScriptButton(QWidget* owner, const float* rect, void* window, TScriptTransferCallback transfer,
                TScriptGPIOCallback gpio, const std::string& onScript, const std::string& offScript,
                const std::string& type);
  ~TScriptButton() override;

  // Sets the state and runs its script (also when the state is unchanged);
  // with `notify` the window hears of it first (event 5).
  void SetState(bool value, bool notify);
  using TGUIEllipse::SetState;
  // The state alone, without a script (while a page loads).
  void SetButtonState(bool value) { buttonOn = value; }
  bool IsOn() const { return buttonOn; }
  bool GetButtonState() const { return buttonOn; }

  bool Click(int x, int y) override;
  void Draw(TCanvas* canvas) override;

  const std::string& GetOnScript() const { return onScriptFile; }
  const std::string& GetOffScript() const { return offScriptFile; }
  const std::string& GetType() const { return type; }
  TScriptTransferCallback GetTransfer() const { return transfer; }
  TScriptGPIOCallback GetGPIO() const { return gpio; }
  // The scripts' windows, built at this call when they are not yet.
  TI2CCommand* GetOnWindow() { return onScript.Window(); }
  TI2CCommand* GetOffWindow() { return offScript.Window(); }

 protected:
  QWidget* owner;
  void* window;
  TScriptTransferCallback transfer;
  TScriptGPIOCallback gpio;
  std::string onScriptFile, offScriptFile;
  bool buttonOn = false;
  std::string type;
  TScriptWindow onScript, offScript;
};
