#include <gtest/gtest.h>

#include <QCoreApplication>
#include <csignal>

// Socket and capture tests run the real event loop, so they need the
// application object; the program itself ignores SIGPIPE and so do they.
int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  QCoreApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
