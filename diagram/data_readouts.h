// The streaming data readouts: a scope of 56 voice samples from the link's
// pseudo-page 255 (with an optional sample log), and the IN1/IN2 converter
// values polled through page 103 and read from page 251. Both stream while
// the pointer rests on them.
#pragma once

#include <QCheckBox>
#include <QPointer>
#include <QWidget>
#include <deque>
#include <string>

#include "common/canvas.h"
#include "diagram/context.h"
#include "diagram/control_layout.h"
#include "diagram/script_button.h"
#include "diagram/streaming_widget.h"

class QCheckBox;
class TI2CCommand;

// What both readouts share: the off-screen image, the "Active" box, the
// set-up script, and drawing on the GUI thread.
class TDataReadout : public TStreamingShape {
 public:
  TDataReadout(int page, int reg, int count, QWidget* owner, const float* rect, void* window,
               TScriptTransferCallback transfer, const std::string& scriptFile, const std::string& caption);
  ~TDataReadout() override;

  void SetActiveObjects(bool flag) override;
  // The "Active" box's click: reacts to the pointer only while checked and enabled.
  void UpdateMode();

  bool ShowsBitmap() const { return showBitmap; }
  bool IsStreaming() const { return streaming; }
  const TCanvas& Bitmap() const { return bitmap; }
  QCheckBox* ActiveBox() const { return activeBox.data(); }
  // The set-up script's window, built at this call when it is not yet.
  TI2CCommand* Script() { return script.Window(); }

 protected:
  // Resizes the image to the placed rectangle and puts the "Active" box
  // beside its lower right corner.
  void PlaceImage();
  void RunScript();
  // Runs `draw` on the GUI thread and waits for it.
  static void OnGuiThread(const std::function<void()>& draw);
  void CopyBitmap();

  TCanvas bitmap;
  bool showBitmap = true;
  bool streaming = false;
  QPointer<QWidget> owner;
  QPointer<QCheckBox> activeBox;
  TControlFit activeFit;
  TScriptWindow script;
};

class TDSVoiceRecordData : public TDataReadout {
 public:
  static constexpr int kSamples = 56;
  static constexpr const char* kLogFile = "DSVoiceRecord.txt";
  // The log keeps the newest blocks up to this many (about five minutes at
  // 20 blocks a second); older ones are dropped.
  static constexpr size_t kMaxLogBlocks = 6000;

  TDSVoiceRecordData(QWidget* owner, const float* rect, void* window, TScriptTransferCallback transfer, int address);
  // Saves a running log.
  ~TDSVoiceRecordData() override;

  void Place(float scale, int dx, int dy) override;
  bool Click(int x, int y) override;
  void OnHighlighted() override;
  void OnUnhighlighted() override;
  void Draw(TCanvas* canvas) override;
  void OnRegisterChanged(int device, int page, unsigned reg) override;
  void Refresh() override { DecodeSamples(); }

  void DecodeSamples();
  void DrawSamples();
  // The "Record" box's click.
  void RecordClick();
  static int DecodeSample(uint8_t hi, uint8_t lo) { return (((hi << 5) & 0xFFF) | (lo >> 3)) - 2048; }

  int GetAddress() const { return address; }
  int Sample(int n) const { return samples[n % kSamples]; }
  QCheckBox* RecordBox() const { return recordBox.data(); }
  size_t LogBlocks() const { return log.size(); }

 private:
  void SaveLog();
  // The scope of the last block into the image.
  void RenderScope();

  int samples[kSamples] = {};
  QPointer<QCheckBox> recordBox;
  TControlFit recordFit;
  bool logging = false;
  std::deque<std::string> log;  // one text block of 56 lines and a blank line per decoded block
  int address;
};

class TIN1IN2Data : public TDataReadout {
 public:
  // Bit 1 of the polled status byte (page 103, register 38) is set while a
  // conversion runs; clear, page 251 holds new values.
  static constexpr uint8_t kBusyBit = 0x02;

  TIN1IN2Data(QWidget* owner, const float* rect, void* window, TScriptTransferCallback transfer, int address);

  void Place(float scale, int dx, int dy) override;
  bool Click(int x, int y) override;
  void OnHighlighted() override;
  void OnUnhighlighted() override;
  void Draw(TCanvas* canvas) override;
  void OnRegisterChanged(int device, int page, unsigned reg) override;
  void Refresh() override {}

  // Values fed by the touch-screen block.
  void SetValues(int in1, int in2);
  void SetDriven(bool flag) { driven = flag; }
  bool IsDriven() const { return driven; }
  void SetStreaming(bool flag) { streaming = flag; }
  // The text the image shows.
  std::string Text() const;
  int GetIn1() const { return in1; }
  int GetIn2() const { return in2; }
  bool ShowsVolts() const { return showVolts; }
  int GetAddress() const { return address; }

 private:
  void Render();
  void Delivered();

  int in1 = 0, in2 = 0;
  bool showVolts = true;
  bool driven = false;
  int address;
};
