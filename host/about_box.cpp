#include "host/about_box.h"

#include <QApplication>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

#include "host/window_util.h"

TAboutBox* AboutBox = nullptr;

TAboutBox::TAboutBox(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
  setObjectName("AboutBox");
  setWindowTitle("About");

  Panel1 = new QFrame(this);
  Panel1->setObjectName("Panel1");
  Panel1->setFrameShape(QFrame::StyledPanel);
  Panel1->setFrameShadow(QFrame::Sunken);

  ProgramIcon = new QLabel(Panel1);
  ProgramIcon->setObjectName("ProgramIcon");
  ProgramIcon->setPixmap(style()->standardIcon(QStyle::SP_ComputerIcon).pixmap(48, 48));

  ProductName = NamedLabel(Panel1, "ProductName", "Palisar Software");
  Version = NamedLabel(Panel1, "Version", "Version 2.03");
  Comments = NamedLabel(Panel1, "Comments", "Firmware Version:");
  Firmware = NamedLabel(Panel1, "Firmware", "N/A");
  Label1 = NamedLabel(Panel1, "Label1", "ID:");
  ID = NamedLabel(Panel1, "ID", "N/A");

  auto* grid = new QGridLayout(Panel1);
  grid->addWidget(ProgramIcon, 0, 0, 2, 1, Qt::AlignTop);
  grid->addWidget(ProductName, 0, 1, 1, 2);
  grid->addWidget(Version, 1, 1, 1, 2);
  grid->addWidget(Comments, 2, 1);
  grid->addWidget(Firmware, 2, 2);
  grid->addWidget(Label1, 3, 1);
  grid->addWidget(ID, 3, 2);
  grid->setColumnStretch(2, 1);

  OKButton = new QPushButton("OK", this);
  OKButton->setObjectName("OKButton");
  OKButton->setDefault(true);
  connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Panel1);
  layout->addWidget(OKButton, 0, Qt::AlignHCenter);
}

void TAboutBox::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  CentreOnScreen(this);
}
