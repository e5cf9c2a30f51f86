#include <gtest/gtest.h>

#include <QApplication>
#include <csignal>

// Widget tests never need a display: the offscreen platform draws nowhere.
int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  std::signal(SIGPIPE, SIG_IGN);
  QApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
