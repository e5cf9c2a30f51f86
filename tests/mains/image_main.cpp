#include <gtest/gtest.h>

#include <QGuiApplication>
#include <csignal>

// Tests that draw images need fonts and a painter, never a display or a
// widget: the offscreen platform draws nowhere.
int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  std::signal(SIGPIPE, SIG_IGN);
  QGuiApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
