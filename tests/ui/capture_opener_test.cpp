#include "ui/capture_opener.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QByteArray>
#include <filesystem>
#include <string>
#include <vector>

#include "support/dialog_driver.h"
#include "support/file_contents.h"
#include "support/temp_folder.h"
#include "support/wait.h"

namespace {

struct TOpenCase {
  const char* name;
  bool folder;
  // Whether the desktop's opener is on the search path.
  bool openerInstalled;
  // The box shown, "@" standing for the path; "" for none.
  const char* box;
};

// The search path holds only a folder of the test's own, with or without an
// opener that writes down what it was given. The platform the tests run on
// has no desktop launcher of its own, so the opener is all there is.
class CaptureOpenerTest : public TempFolderTest, public testing::WithParamInterface<TOpenCase> {
 protected:
  void SetUp() override {
    TempFolderTest::SetUp();
    std::filesystem::create_directories(root_ + "/bin");
    std::filesystem::create_directories(root_ + "/cap");
    WriteWholeFile(root_ + "/cap/job.txt", "x");
    savedPath_ = qgetenv("PATH");
    qputenv("PATH", QByteArray::fromStdString(root_ + "/bin"));
  }
  void TearDown() override { qputenv("PATH", savedPath_); }

  void InstallOpener() {
    const std::string opener = root_ + "/bin/xdg-open";
    WriteWholeFile(opener, "#!/bin/sh\nprintf '%s\\n' \"$1\" >'" + Opened() + "'\n");
    ::chmod(opener.c_str(), 0755);
  }
  std::string Opened() const { return root_ + "/opened"; }

  TBoxRecorder boxes_;
  QByteArray savedPath_;
};

TEST_P(CaptureOpenerTest, OpensWithTheDesktopsOpenerOrSaysWhatToInstall) {
  const TOpenCase& c = GetParam();
  if (c.openerInstalled) InstallOpener();
  const std::string path = root_ + (c.folder ? "/cap/" : "/cap/job.txt");
  if (c.folder)
    OpenCaptureFolder(nullptr, path);
  else
    OpenCaptureFile(nullptr, path);
  if (c.openerInstalled) {
    EXPECT_TRUE(WaitUntil([&] { return ReadWholeFile(Opened()) == path + "\n"; }));
    EXPECT_TRUE(boxes_.Boxes.empty());
    return;
  }
  std::string box = c.box;
  box.replace(box.find('@'), 1, path);
  EXPECT_EQ(boxes_.Texts(), std::vector<std::string>{box});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CaptureOpenerTest,
    testing::Values(
        TOpenCase{"File", false, true, ""}, TOpenCase{"Folder", true, true, ""},
        TOpenCase{"FileWithoutOpener", false, false,
                  "Nothing opened @: no program to open files is set up (install xdg-utils)."},
        TOpenCase{"FolderWithoutOpener", true, false,
                  "Nothing opened @: no program to open folders is set up (install xdg-utils)."}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
