// A text that shows a picture beside itself when clicked, and its pop-up
// panel. The picture is a JPEG decoded with libjpeg.
#pragma once

#include <QFrame>
#include <QImage>
#include <QPointer>
#include <string>

#include "common/shapes.h"

class COMMON_API TImagePanel : public QFrame {
 public:
  // Loads the picture and sizes the panel to it plus 10 each way. A file
  // that cannot be shown leaves a panel with a line that says so.
  TImagePanel(QWidget* owner, const std::string& fileName);

  bool HasPicture() const { return !picture_.isNull(); }
  const QImage& Picture() const { return picture_; }
  const std::string& Error() const { return error_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage picture_;
  std::string error_;
};

class COMMON_API TGUITextImageHint : public TGUIText {
 public:
  // `owner`: the control the panel is shown in (the diagram's scroll box;
  // when it is a scroll area, the panel sits on its viewport).
  TGUITextImageHint(QWidget* owner, const std::string& fileName, int hintYOffset, const float* position,
                    const std::string& text, int fontSize);
  ~TGUITextImageHint() override;

  bool Click(int x, int y) override;
  void OnUnhighlighted() override;

  TImagePanel* GetPanel() const { return panel.data(); }
  const std::string& GetFileName() const { return fileName; }
  int GetHintYOffset() const { return hintYOffset; }

 private:
  void ClosePanel();

  std::string fileName;
  QPointer<QWidget> owner;
  // Guarded: the owner control deletes its children when it goes first.
  QPointer<TImagePanel> panel;
  int hintYOffset;
};
