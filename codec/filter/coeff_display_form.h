// The "Coefficients" window: the listing of the enabled sections' integer
// coefficients as an editable text. Enter in the text reads it back into
// the sections as custom coefficients; "Save" writes it to a file.
#pragma once

#include <QWidget>
#include <functional>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class TBiquad;

class TCoeffDisplayForm : public QWidget {
 public:
  explicit TCoeffDisplayForm(QWidget* owner);

  // Stores the 40 sections (not owned), shows section 1's resolution and
  // replaces the text by their listing. Nothing without sections.
  void ShowCoefficients(TBiquad** filters);
  // Reads the text back into the enabled sections, then rebuilds it.
  void ParseCoefficients();
  void ResolutionExit();
  void SaveClick();
  // Run after a read-back changed the sections (the filter tool repaints).
  void SetChangedHandler(std::function<void()> handler) { changed = std::move(handler); }

  QPlainTextEdit* Memo;
  QLabel* StaticText1;
  QLineEdit* Resolution;
  QLabel* StaticText2;
  QPushButton* Save;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  TBiquad** filters = nullptr;
  std::function<void()> changed;
};
