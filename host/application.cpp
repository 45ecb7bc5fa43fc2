#include "host/application.h"

#include <QApplication>
#include <QLocale>

#include <clocale>
#include <cstdlib>

#include "host/about_box.h"
#include "host/load_form.h"
#include "host/log_form.h"
#include "host/main_form.h"
#include "host/select_evm_form.h"
#include "host/tcp_connect_form.h"
#include "registers/evm_applications_form.h"
#include "platform/gui/gui.h"
#include "platform/log.h"

void CreatePermanentWindows() {
  MainForm = new TMainForm;
  LogForm = new TLogForm;
  AboutBox = new TAboutBox;
  LoadForm = new TLoadForm;
  SelectEVMForm = new TSelectEVMForm;
  EVMApplicationsForm = new TEVMApplicationsForm(nullptr);
  TCPConnectForm = new TTCPConnectForm;
}

void DestroyPermanentWindows() {
  delete MainForm;
  MainForm = nullptr;
  delete TCPConnectForm;
  TCPConnectForm = nullptr;
  delete EVMApplicationsForm;
  EVMApplicationsForm = nullptr;
  delete SelectEVMForm;
  SelectEVMForm = nullptr;
  delete LoadForm;
  LoadForm = nullptr;
  delete AboutBox;
  AboutBox = nullptr;
  delete LogForm;
  LogForm = nullptr;
}

int RunPalisar(int argc, char** argv) {
  // Moving top-level windows and reading the cursor need X11; Wayland offers neither.
  if (!std::getenv("QT_QPA_PLATFORM") && std::getenv("DISPLAY")) setenv("QT_QPA_PLATFORM", "xcb", 1);
  // Every number text of the program, files included, uses a point.
  std::setlocale(LC_NUMERIC, "C");
  QApplication application(argc, argv);
  // QApplication takes the locale from the environment.
  std::setlocale(LC_NUMERIC, "C");
  QLocale::setDefault(QLocale::c());
  QApplication::setApplicationName("Palisar");
  QApplication::setApplicationDisplayName("Palisar");
  QApplication::setQuitOnLastWindowClosed(false);

  gui::Install();
  InstallLogSink();
  CreatePermanentWindows();
  QObject::connect(MainForm, &TMainForm::Closed, &application, &QCoreApplication::quit, Qt::QueuedConnection);
  MainForm->show();
  QApplication::exec();

  DestroyPermanentWindows();
  platform::SetLogSink(nullptr);
  gui::Uninstall();
  return 0;
}
