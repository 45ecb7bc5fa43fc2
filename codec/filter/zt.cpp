#include "codec/filter/zt.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSlider>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <algorithm>
#include <charconv>
#include <cmath>

#include "codec/filter/coeff_display_form.h"
#include "codec/filter/coefficient_text.h"
#include "codec/filter/truncate.h"
#include "platform/gui/dialogs.h"
#include "platform/log.h"

namespace {

const char* const kTypeItems[] = {"EQ", "High Pass", "Low Pass", "Treble Shelf", "Bass Shelf", "Phase Shift", "Notch"};
const char* const kSubtypeItems[] = {"Butterworth 1", "Butterworth 2", "Bessel 2", "Linkwitz Riley 2", "Variable Q 2"};
const char* const kHeaders[] = {"No.", "Enable", "Type", "SubType", "Fc [Hz]", "Gain [dB]", "BW [Hz]", "Q", "S", "O"};
const int kColumnWidths[] = {32, 48, 128, 128, 60, 60, 60, 60, 16, 16};
const double kBaseFrequencies[] = {20, 40, 100, 200, 400, 1000, 2000, 4000, 10000, 20000};
const TColor kCursorColours[] = {0x0000FF, 0x008080, 0x008000, 0x808000, 0xFF0000,
                                 0xFF00FF, 0x00FFFF, 0x00FF00, 0xFFFF00, 0xF0CAA6};
const char* const kQMX7120Rates[] = {"32728.498046875", "47605.0880681818"};

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The value cells' editor: knows which key ended the edit, and reads and
// applies values through the tool (nothing is stored in the model).
class TParameterDelegate : public QStyledItemDelegate {
 public:
  TParameterDelegate(TZT* tool, QObject* parent) : QStyledItemDelegate(parent), tool(tool) {}

  void setEditorData(QWidget* editor, const QModelIndex& index) const override {
    if (auto* line = qobject_cast<QLineEdit*>(editor))
      line->setText(QString::fromStdString(tool->ParametersGetEditText(index.column(), index.row())));
  }
  void setModelData(QWidget* editor, QAbstractItemModel*, const QModelIndex& index) const override {
    if (auto* line = qobject_cast<QLineEdit*>(editor))
      tool->ParametersSetEditText(index.column(), index.row(), line->text().toStdString());
  }

 protected:
  bool eventFilter(QObject* editor, QEvent* event) override {
    // Seen before the base commits the edit on Enter.
    if (event->type() == QEvent::KeyPress) tool->ParametersKeyPress(static_cast<QKeyEvent*>(event)->key());
    return QStyledItemDelegate::eventFilter(editor, event);
  }

 private:
  TZT* tool;
};

// The print button's bitmap, drawn here so that it needs no icon theme: a
// sheet going into a printer and one coming out.
QIcon PrinterGlyph() {
  QPixmap glyph(18, 18);
  glyph.fill(Qt::transparent);
  QPainter p(&glyph);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(0x40, 0x40, 0x40), 1));
  p.setBrush(Qt::white);
  p.drawRect(QRectF(4.5, 1.5, 9, 6));
  p.setBrush(QColor(0xA0, 0xA0, 0xA0));
  p.drawRoundedRect(QRectF(1.5, 6.5, 15, 7), 1.5, 1.5);
  p.setBrush(Qt::white);
  p.drawRect(QRectF(4.5, 11.5, 9, 5));
  p.setPen(QPen(QColor(0x20, 0xA0, 0x20), 2));
  p.drawPoint(QPointF(14, 9));
  return QIcon(glyph);
}

}  // namespace

TZT::TZT(QWidget* owner) : QWidget(owner, Qt::Tool | Qt::WindowStaysOnTopHint) {
  setObjectName("ZT");
  setWindowTitle("Orvane Biquad Coefficient Calculator");
  setFixedSize(843, 516);

  BodePlot = new TBodePlotBox(this, this);
  BodePlot->setObjectName("BodePlot");
  BodePlot->setGeometry(8, 8, 827, 337);
  OrvaneLogo = new QLabel(this);
  OrvaneLogo->setObjectName("OrvaneLogo");
  OrvaneLogo->hide();
  OrvaneLogo->setEnabled(false);

  Parameters = new QTableWidget(0, 10, this);
  Parameters->setObjectName("Parameters");
  Parameters->setGeometry(8, 357, 641, 151);
  Parameters->setFont(QFont("Tahoma", 8));
  // The titles are the grid's fixed row: its font too (a header view takes
  // its own from the platform otherwise).
  Parameters->horizontalHeader()->setFont(Parameters->font());
  Parameters->verticalHeader()->hide();
  Parameters->verticalHeader()->setDefaultSectionSize(18);
  Parameters->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  Parameters->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                              QAbstractItemView::AnyKeyPressed | QAbstractItemView::SelectedClicked);
  Parameters->setItemDelegate(new TParameterDelegate(this, Parameters));
  for (int c = 0; c < 10; ++c) {
    Parameters->setHorizontalHeaderItem(c, new QTableWidgetItem(kHeaders[c]));
    Parameters->setColumnWidth(c, kColumnWidths[c]);
  }
  Parameters->viewport()->setMouseTracking(true);
  Parameters->viewport()->installEventFilter(this);
  Parameters->installEventFilter(this);
  connect(Parameters->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { PlaceRowControls(); });
  connect(Parameters->horizontalScrollBar(), &QScrollBar::valueChanged, this, [this] { PlaceRowControls(); });

  StaticText1 = new QLabel("Fs:", this);
  StaticText1->move(708, 360);
  SampleRateEdit = new QLineEdit(this);
  SampleRateEdit->setObjectName("SampleRateEdit");
  SampleRateEdit->setGeometry(728, 357, 71, 21);
  // Leaving this edit applies its rate again, which designs every filter
  // anew: it takes the focus only when clicked, never because the window
  // was activated or a grid editor closed.
  SampleRateEdit->setFocusPolicy(Qt::ClickFocus);
  StaticText2 = new QLabel("[Hz]", this);
  StaticText2->move(805, 360);

  GroupBox1 = new QGroupBox("Graph", this);
  GroupBox1->setGeometry(728, 415, 107, 60);
  Gain = new QCheckBox("Gain", GroupBox1);
  Gain->setObjectName("Gain");
  Gain->setChecked(true);
  Gain->move(8, 16);
  Phase = new QCheckBox("Phase", GroupBox1);
  Phase->setObjectName("Phase");
  Phase->setChecked(true);
  Phase->move(8, 36);

  CoeffButton = new QPushButton("Coeff", this);
  CoeffButton->setObjectName("CoeffButton");
  CoeffButton->setGeometry(728, 483, 71, 25);
  // A bitmap button: 30 pixels hold a printer, not the word.
  Print = new QPushButton(this);
  Print->setObjectName("Print");
  Print->setIcon(PrinterGlyph());
  Print->setIconSize(QSize(18, 18));
  Print->setToolTip("Print");
  Print->setAccessibleName("Print");
  Print->setGeometry(805, 479, 30, 29);

  Volume = new QSlider(Qt::Vertical, this);
  Volume->setObjectName("Volume");
  Volume->setRange(0, 175);
  Volume->setValue(48);
  // +24 dB at the top: Up and the wheel turned up step towards it.
  Volume->setInvertedAppearance(true);
  Volume->setInvertedControls(true);
  Volume->setTickInterval(16);
  Volume->setTickPosition(QSlider::TicksBothSides);
  Volume->setGeometry(655, 351, 45, 130);
  EditVolume = new QLineEdit("0", this);
  EditVolume->setObjectName("EditVolume");
  EditVolume->setGeometry(655, 487, 40, 21);
  StaticText3 = new QLabel("dB", this);
  StaticText3->move(699, 490);

  QMX7120Fs = new QGroupBox("Sample Rate", this);
  QMX7120Fs->setObjectName("QMX7120Fs");
  QMX7120Fs->setGeometry(702, 351, 133, 60);
  for (int k = 0; k < 2; ++k) {
    QMX7120FsItems[k] = new QRadioButton(kQMX7120Rates[k], QMX7120Fs);
    QMX7120FsItems[k]->move(8, 16 + 20 * k);
    connect(QMX7120FsItems[k], &QRadioButton::clicked, this, [this] { QMX7120FsClick(); });
  }
  QMX7120FsItems[0]->setChecked(true);

  UpdateCodec = new QPushButton("Update", this);
  UpdateCodec->setObjectName("UpdateCodec");
  UpdateCodec->setGeometry(728, 390, 71, 21);

  plotCanvas = nullptr;
  plotCanvasImage.SetView(BodePlot);
  printer = std::make_unique<QPrinter>(QPrinter::HighResolution);

  writer = std::make_unique<TRefreshEVMThread>();
  for (unsigned i = 0; i < kFilters; ++i) {
    filters[i] = new TBiquad(int(i));
    filters[i]->writer = writer.get();

    QWidget* grid = Parameters->viewport();
    enableBoxes[i] = new QCheckBox(grid);
    enableBoxes[i]->setObjectName(QString("Enable%1").arg(i));
    enableBoxes[i]->hide();
    secondBoxes[i] = new QCheckBox(grid);
    secondBoxes[i]->setObjectName(QString("Second%1").arg(i));
    secondBoxes[i]->setEnabled(false);
    secondBoxes[i]->hide();
    typeBoxes[i] = new QComboBox(grid);
    typeBoxes[i]->setObjectName(QString("Type%1").arg(i));
    for (const char* item : kTypeItems) typeBoxes[i]->addItem(item);
    typeBoxes[i]->setMaxVisibleItems(4);
    typeBoxes[i]->hide();
    subtypeBoxes[i] = new QComboBox(grid);
    subtypeBoxes[i]->setObjectName(QString("Subtype%1").arg(i));
    for (const char* item : kSubtypeItems) subtypeBoxes[i]->addItem(item);
    subtypeBoxes[i]->setMaxVisibleItems(5);
    subtypeBoxes[i]->setEnabled(false);
    subtypeBoxes[i]->hide();

    connect(enableBoxes[i], &QCheckBox::clicked, this, [this, i] { EnableClick(i); });
    connect(secondBoxes[i], &QCheckBox::clicked, this, [this, i] { SecondClick(i); });
    connect(typeBoxes[i], &QComboBox::activated, this, [this, i] { TypeChange(i, false); });
    connect(subtypeBoxes[i], &QComboBox::activated, this, [this, i] { TypeChange(i, true); });
  }

  coefficientWindow = new TCoeffDisplayForm(this);
  coefficientWindow->SetChangedHandler([this] {
    RepaintPlot();
    RefreshGrid();
  });

  connect(SampleRateEdit, &QLineEdit::editingFinished, this, [this] { SampleRateEditExit(); });
  connect(Gain, &QCheckBox::clicked, this, [this] { RepaintPlot(); });
  connect(Phase, &QCheckBox::clicked, this, [this] { RepaintPlot(); });
  connect(CoeffButton, &QPushButton::clicked, this, [this] { CoeffButtonClick(); });
  connect(Print, &QPushButton::clicked, this, [this] { PrintClick(); });
  connect(Volume, &QSlider::valueChanged, this, [this] { VolumeChange(); });
  connect(EditVolume, &QLineEdit::editingFinished, this, [this] { EditVolumeExit(); });
  connect(UpdateCodec, &QPushButton::clicked, this, [this] { UpdateCodecClick(); });

  SetSampleRate(sampleRate);
  SetFilterCount(filterCount);
  CheckCodecName("");
}

TZT::~TZT() {
  writer.reset();  // wakes the thread and waits for it
  delete coefficientWindow;
  coefficientWindow = nullptr;
  for (TBiquad*& filter : filters) {
    delete filter;
    filter = nullptr;
  }
}

// ---- operations of the codec instance ---------------------------------------------------

void TZT::SetResolution(int bits) {
  for (TBiquad* filter : filters) filter->SetBits(bits);
  coefficientWindow->Resolution->setText(QString::number(unsigned(filters[0]->bits)));
  coefficientWindow->Resolution->setEnabled(false);
}

void TZT::SetSampleRate(double fs) {
  if (!std::isfinite(fs) || fs <= 0) {
    platform::LogLine("Filter tool: sample rate " + ShortestDecimal(fs) + " ignored");
    return;
  }
  sampleRate = fs;
  freqMax = fs / 2;
  // A zoomed range starting at or above the new half rate has nothing left
  // to show and would turn the axis round: it starts from the lowest
  // frequency again.
  if (freqMin >= freqMax) freqMin = std::min(10.0, freqMax / 10);
  for (unsigned i = 0; i < kFilters; ++i) {
    const double f0 = kBaseFrequencies[i % 10];
    int x, y;
    FreqGainToPixel(f0, 0, x, y);
    cursors[i].SetColour(kCursorColours[i % 10]);
    cursors[i].SetPosition(float(x), float(y));
    const double fc = fs * (1 / 44100.0) * f0;
    filters[i]->Design(fc, 0.2 * fc, fs, 0.0, true);
  }
  RepaintPlot();
  RefreshGrid();
  RebuildCoefficients();
  SampleRateEdit->setText(QString::fromStdString(ShortestDecimal(fs)));
}

void TZT::SetWriteCallback(void* context, TBiquadWriteCallback callback) { writer->SetCallback(context, callback); }

void TZT::SetAsyncWrite(bool manual) {
  UpdateCodec->setVisible(manual);
  for (TBiquad* filter : filters) filter->writer = manual ? nullptr : writer.get();
}

void TZT::SetFilterCount(unsigned n) {
  filterCount = std::min(n, kFilters);
  Parameters->setRowCount(int(filterCount));
  RefreshGrid();
  RepaintPlot();
}

void TZT::CheckCodecName(const std::string& name) {
  codecName = name;
  const bool visible = name.find("QMX7120") != std::string::npos;
  QMX7120Fs->setVisible(visible);
  if (visible) QMX7120FsClick();
}

void TZT::PlaceCursors() {
  for (unsigned i = 0; i < filterCount; ++i) {
    if (!filters[i]->enabled || !filters[i]->designed) continue;
    int x, y;
    FreqGainToPixel(filters[i]->fc, filters[i]->gain, x, y);
    cursors[i].SetPosition(float(x), float(y));
  }
}

// ---- parse and clamp ---------------------------------------------------------------------

bool TZT::ClampDouble(const std::string& text, double min, double max, double& value) {
  const std::string t = Trimmed(text);
  double parsed = 0;
  const char* end = t.data() + t.size();
  const char* begin = t.data() + (!t.empty() && t[0] == '+');
  const auto [stop, error] = std::from_chars(begin, end, parsed);
  if (t.empty() || error != std::errc() || stop != end || std::isnan(parsed)) return false;
  value = std::clamp(parsed, min, std::max(min, max));  // a tiny rate gives max < min
  return true;
}

bool TZT::ClampInt(const std::string& text, int min, int max, int& value) {
  const std::string t = Trimmed(text);
  long long parsed = 0;
  const char* end = t.data() + t.size();
  const char* begin = t.data() + (!t.empty() && t[0] == '+');
  const auto [stop, error] = std::from_chars(begin, end, parsed);
  if (t.empty() || error != std::errc() || stop != end) return false;
  value = int(std::clamp<long long>(parsed, min, std::max(min, max)));
  return true;
}

bool TZT::ClampIntEdit(QLineEdit* edit, int min, int max, int& value) {
  const bool converted = ClampInt(edit->text().toStdString(), min, max, value);
  edit->setText(QString::number(value));
  return converted;
}

// ---- the grid -----------------------------------------------------------------------------

bool TZT::ParametersCanEdit(int column, int row) const {
  if (row < 0 || unsigned(row) >= filterCount || column < 4 || column > 7) return false;
  const TBiquad& f = *filters[row];
  if (column == 6) return f.type == kBiquadEQ || f.type == kBiquadNotch;
  if (column == 7) return (f.type == kBiquadHighPass || f.type == kBiquadLowPass) && f.subtype == kVariableQ2;
  return true;
}

void TZT::RefreshGrid() {
  const QColor grey(0x80, 0x80, 0x80);
  for (unsigned r = 0; r < filterCount; ++r) {
    const TBiquad& f = *filters[r];
    const bool designed = f.designed;
    auto cell = [&](int column, const std::string& text, bool greyed = false) {
      QTableWidgetItem* item = Parameters->item(int(r), column);
      if (!item) {
        item = new QTableWidgetItem;
        Parameters->setItem(int(r), column, item);
      }
      item->setText(QString::fromStdString(text));
      item->setForeground(greyed ? grey : QColor(Qt::black));
      Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
      if (ParametersCanEdit(column, int(r))) flags |= Qt::ItemIsEditable;
      item->setFlags(flags);
    };
    cell(0, Format("%i", int(r + 1)));
    cell(1, "");
    cell(2, designed ? typeBoxes[r]->currentText().toStdString() : "Custom");
    cell(3, designed ? subtypeBoxes[r]->currentText().toStdString() : "N/A", !subtypeBoxes[r]->isEnabled());
    cell(4, designed ? Format("%i", TruncInt32(f.fc)) : "N/A");
    cell(5, designed ? Format("%.1f", f.gain) : "N/A");
    cell(6, designed ? Format("%i", TruncInt32(f.bandwidth)) : "N/A", f.type != kBiquadEQ && f.type != kBiquadNotch);
    cell(7, designed ? Format("%.3f", f.q) : "N/A",
         !((f.type == kBiquadHighPass || f.type == kBiquadLowPass) && f.subtype == kVariableQ2));
    cell(8, "?");
    cell(9, " ?");
  }
  PlaceRowControls();
}

void TZT::PlaceRowControls() {
  for (unsigned i = 0; i < kFilters; ++i) {
    if (i >= filterCount) {
      enableBoxes[i]->hide();
      secondBoxes[i]->hide();
      typeBoxes[i]->hide();
      subtypeBoxes[i]->hide();
      continue;
    }
    const QRect box = Parameters->visualRect(Parameters->model()->index(int(i), 1));
    enableBoxes[i]->setGeometry(box.left() + 10, box.top() + 2, 13, 13);
    secondBoxes[i]->setGeometry(box.left() + 30, box.top() + 2, 13, 13);
    enableBoxes[i]->show();
    secondBoxes[i]->show();
    const QRect type = Parameters->visualRect(Parameters->model()->index(int(i), 2));
    typeBoxes[i]->setGeometry(type.left() + 2, type.top(), type.width(), type.height());
    const QRect sub = Parameters->visualRect(Parameters->model()->index(int(i), 3));
    subtypeBoxes[i]->setGeometry(sub.left() + 2, sub.top(), sub.width(), sub.height());
  }
}

std::string TZT::ParametersGetEditText(int column, int row) const {
  if (row < 0 || unsigned(row) >= filterCount) return {};
  const TBiquad& f = *filters[row];
  switch (column) {
    case 4: return Format("%i", TruncInt32(f.fc));
    case 5: return Format("%.1f", f.gain);
    case 6: return Format("%i", TruncInt32(f.bandwidth));
    case 7: return Format("%.3f", f.q);
    default: return Parameters->item(row, column) ? Parameters->item(row, column)->text().toStdString() : "";
  }
}

void TZT::ParametersKeyPress(int key) { enterPressed = key == Qt::Key_Return || key == Qt::Key_Enter; }

void TZT::ParametersSetEditText(int column, int row, const std::string& text) {
  if (row < 0 || unsigned(row) >= filterCount || column < 4 || column > 7) return;
  if (!enterPressed) {
    RefreshGrid();
    return;
  }
  TBiquad& f = *filters[row];
  int fc = TruncInt32(f.fc);
  int bandwidth = TruncInt32(f.bandwidth);
  double gain = f.gain;
  double q = f.q;
  switch (column) {
    case 4:
      if (ClampInt(text, 10, TruncInt32(sampleRate / 2), fc)) f.fc = fc;
      break;
    case 5:
      if (ClampDouble(text, gainBottom, gainTop, gain)) f.gain = gain;
      break;
    case 6:
      if (ClampInt(text, 2, TruncInt32(sampleRate / 4), bandwidth)) f.bandwidth = bandwidth;
      break;
    case 7:
      if (ClampDouble(text, 0.001, 1000, q)) f.q = q;
      break;
  }
  f.Design(f.fc, f.bandwidth, sampleRate, f.gain, false);
  RefreshGrid();
  int x, y;
  FreqGainToPixel(fc, f.gain, x, y);
  cursors[row].SetPosition(float(x), float(y));
  RepaintPlot();
  RebuildCoefficients();
  f.UpdateDevice();
}

void TZT::ParametersMouseMove(int x, int y) {
  const QModelIndex index = Parameters->indexAt(QPoint(x, y));
  QComboBox* selected = nullptr;
  if (index.isValid() && unsigned(index.row()) < filterCount) {
    if (index.column() == 2) selected = typeBoxes[index.row()];
    if (index.column() == 3 && subtypeBoxes[index.row()]->isEnabled()) selected = subtypeBoxes[index.row()];
  }
  for (unsigned i = 0; i < filterCount; ++i) {
    if (typeBoxes[i] != selected) typeBoxes[i]->hide();
    if (subtypeBoxes[i] != selected) subtypeBoxes[i]->hide();
  }
  if (selected) selected->show();
}

bool TZT::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Parameters->viewport() && event->type() == QEvent::MouseMove) {
    const QPoint pos = static_cast<QMouseEvent*>(event)->position().toPoint();
    ParametersMouseMove(pos.x(), pos.y());
  }
  if (watched == Parameters && event->type() == QEvent::KeyPress)
    ParametersKeyPress(static_cast<QKeyEvent*>(event)->key());
  if ((watched == Parameters || watched == Parameters->viewport()) && event->type() == QEvent::Resize)
    PlaceRowControls();
  return QWidget::eventFilter(watched, event);
}

void TZT::showEvent(QShowEvent* event) {
  shown.store(true);
  QWidget::showEvent(event);
}

void TZT::hideEvent(QHideEvent* event) {
  shown.store(false);
  QWidget::hideEvent(event);
}

// ---- row controls -------------------------------------------------------------------------

void TZT::EnableClick(unsigned i) {
  if (i >= filterCount) return;
  filters[i]->SetEnabled(enableBoxes[i]->isChecked());
  secondBoxes[i]->setEnabled(enableBoxes[i]->isChecked());
  RepaintPlot();
  RefreshGrid();
  RebuildCoefficients();
}

void TZT::SecondClick(unsigned i) {
  if (i >= filterCount) return;
  RepaintPlot();
  RebuildCoefficients();
}

void TZT::TypeChange(unsigned i, bool subtype) {
  if (i >= filterCount) return;
  TBiquad& f = *filters[i];
  if (subtype) {
    f.subtype = subtypeBoxes[i]->currentIndex();
  } else {
    f.type = typeBoxes[i]->currentIndex();
    subtypeBoxes[i]->setEnabled(f.type == kBiquadHighPass || f.type == kBiquadLowPass);
  }
  f.Design(f.fc, f.bandwidth, sampleRate, f.gain, false);
  RefreshGrid();
  RepaintPlot();
  RebuildCoefficients();
}

void TZT::SetRowEnabled(unsigned i, bool on) {
  filters[i]->SetEnabled(on);
  enableBoxes[i]->setChecked(on);
  secondBoxes[i]->setEnabled(on);
}

void TZT::RebuildCoefficients() { coefficientWindow->ShowCoefficients(filters); }

// ---- other handlers ---------------------------------------------------------------------

void TZT::SampleRateEditExit() {
  int rate = TruncInt32(sampleRate);
  if (ClampIntEdit(SampleRateEdit, 4000, 196000, rate)) SetSampleRate(rate);
}

void TZT::CoeffButtonClick() {
  coefficientWindow->ShowCoefficients(filters);
  coefficientWindow->show();
}

void TZT::PrintClick() {
  QPrintDialog dialog(printer.get(), this);
  if (Dialogs().RunModal(&dialog) != QDialog::Accepted) return;
  const QImage image = grab().toImage();
  QPainter painter;
  if (!painter.begin(printer.get())) {
    Dialogs().Warning(this, "Print", "Printing failed.");
    return;
  }
  const QRect page = painter.viewport();
  const QSize size = image.size().scaled(page.size(), Qt::KeepAspectRatio);
  painter.setViewport(page.x(), page.y(), size.width(), size.height());
  painter.setWindow(image.rect());
  painter.drawImage(0, 0, image);
  painter.end();
}

void TZT::VolumeChange() {
  volumeDb = 24 - Volume->value() * 0.5;
  EditVolume->setText(QString::fromStdString(ShortestDecimal(volumeDb)));
  RefreshGrid();
}

void TZT::EditVolumeExit() {
  double db = volumeDb;
  if (!ClampDouble(EditVolume->text().toStdString(), -63.5, 24, db)) {
    EditVolume->setText(QString::fromStdString(ShortestDecimal(volumeDb)));
    return;
  }
  // The slider's position is the volume: a value between two of its steps
  // shows, and is, the step it lands on, even when the slider stays.
  const int position = TruncInt32((24 - db) * 2);
  if (Volume->value() == position) VolumeChange();
  else Volume->setValue(position);
}

void TZT::QMX7120FsClick() {
  for (int k = 0; k < 2; ++k)
    if (QMX7120FsItems[k]->isChecked()) SetSampleRate(std::strtod(kQMX7120Rates[k], nullptr));
}

void TZT::UpdateCodecClick() {
  if (!writer) return;
  writer->Queue(TRefreshEVMThread::kBatchStart, nullptr, nullptr, false);
  for (unsigned i = 0; i < kFilters; ++i) {
    const TBiquad& f = *filters[i];
    if (!f.enabled) continue;
    const int32_t num[3] = {f.N0, f.N1, f.N2};
    const int32_t den[3] = {f.D0, f.D1, f.D2};
    writer->Queue(i, num, den, false);
  }
  writer->Queue(TRefreshEVMThread::kBatchEnd, nullptr, nullptr, false);
}
