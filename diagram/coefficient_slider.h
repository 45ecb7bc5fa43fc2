// The coefficient slider: a vertical track bar through the records of a
// coefficient file; each step writes one record's thirteen coefficients into
// both channels (page 1) and its volume into page 0 registers 43 and 44.
// Mute and Power boxes run their scripts; three radio buttons choose the file.
#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QPointer>
#include <QRadioButton>
#include <QSlider>
#include <QWidget>
#include <array>
#include <string>
#include <vector>

#include "diagram/bound_shape.h"
#include "diagram/context.h"
#include "diagram/control_layout.h"
#include "diagram/script_button.h"

class TI2CCommand;

class TQMX7350Slider : public TBoundShape<TGUIRectangle> {
 public:
  static constexpr int kMaxRecords = 128;
  static constexpr int kFields = 14;
  // The coefficients' register order among the first thirteen fields.
  static constexpr int kRegisterOrder[13] = {0, 1, 2, 5, 6, 7, 3, 4, 8, 9, 10, 11, 12};
  static constexpr const char* kModeFiles[3] = {"Codecs\\QMX7350_VolumeCoeff.txt",
                                                "Codecs\\QMX7350_VolumeFilterCoeff.txt",
                                                "Codecs\\QMX7350_FilterCoeff.txt"};
  using Record = std::array<uint32_t, kFields>;

  TQMX7350Slider(QWidget* owner, void* window, TScriptTransferCallback transfer, const std::string& coeffFile,
                 const std::string& muteScript, const std::string& unmuteScript, const std::string& powerUpScript,
                 const std::string& powerDownScript, const float* rect);
  ~TQMX7350Slider() override;

  void Place(float scale, int dx, int dy) override;
  bool Click(int, int) override { return false; }
  void SetVisible(bool) override {}
  void Refresh() override {}

  // Reads the complete records of `name`; false (slider disabled, a log
  // line) when the file cannot be read or holds none.
  bool LoadCoefficients(const std::string& name);
  void PositionChange();
  void ApplyMode();
  void MuteClick();
  void PowerClick();
  // The track bar's context menu: a coefficient file of the user's choice.
  void ChooseFile();

  // Complete records of 14 numbers in `text`, at most 128.
  static std::vector<Record> ParseRecords(const std::string& text);

  const std::string& GetCoeffFile() const { return coeffFile; }
  const std::string& GetScript(int i) const { return scripts[i & 3]; }
  const std::vector<Record>& Records() const { return records; }
  QSlider* TrackBar() const { return trackBar.data(); }
  QLabel* StepText() const { return stepText.data(); }
  QCheckBox* MuteBox() const { return muteBox.data(); }
  QCheckBox* PowerBox() const { return powerBox.data(); }
  QLabel* MuteLabel() const { return muteLabel.data(); }
  QLabel* PowerLabel() const { return powerLabel.data(); }
  // The command window of script i (mute, unmute, power-up, power-down),
  // or null while it has not been needed.
  TI2CCommand* ScriptWindow(int i) { return commands[i & 3].Built() ? commands[i & 3].Window() : nullptr; }
  QRadioButton* ModeButton(int i) const { return modeButtons[i % 3].data(); }

 private:
  void Run(int script);

  QPointer<QWidget> owner;
  std::string coeffFile;
  std::string scripts[4];
  TScriptWindow commands[4];  // mute, unmute, power-up, power-down
  QPointer<QSlider> trackBar;
  TControlFit fit;  // of the rows under the bar
  QPointer<QLabel> stepText, muteLabel, powerLabel;
  QPointer<QCheckBox> muteBox, powerBox;
  QPointer<QRadioButton> modeButtons[3];
  std::vector<Record> records;
};
