// The host tests run with a real QApplication on the offscreen platform and
// the GUI layer installed, as the program has them.
#include <gtest/gtest.h>

#include <QApplication>
#include <clocale>

#include "host/log_form.h"
#include "platform/gui/gui.h"
#include "platform/log.h"

namespace {

QtMessageHandler qtHandler = nullptr;

// The offscreen platform's notes about window hints are noise here.
void FilterMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (message.contains("propagateSizeHints")) return;
  if (qtHandler) qtHandler(type, context, message);
}

}  // namespace

int main(int argc, char** argv) {
  qtHandler = qInstallMessageHandler(FilterMessages);
  qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&argc, argv);
  QApplication application(argc, argv);
  std::setlocale(LC_NUMERIC, "C");
  gui::Install();
  InstallLogSink();
  const int result = RUN_ALL_TESTS();
  platform::SetLogSink(nullptr);
  gui::Uninstall();
  return result;
}
