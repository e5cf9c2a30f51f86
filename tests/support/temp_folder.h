#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

// A fresh folder under /tmp, removed with everything in it when the object
// goes. Plain POSIX, so tests without a Qt application object can use it.
class TTempFolder {
 public:
  TTempFolder();
  ~TTempFolder();
  TTempFolder(const TTempFolder&) = delete;
  TTempFolder& operator=(const TTempFolder&) = delete;

  // False when the folder could not be made; Path() is then empty.
  bool IsValid() const { return !path_.empty(); }
  const std::string& Path() const { return path_; }
  std::string FilePath(const std::string& relative) const { return path_ + "/" + relative; }

 private:
  std::string path_;
};

// A test in a fresh temporary folder, root_.
class TempFolderTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(folder_.IsValid()); }

  // Names in the folder other than the given one: what a save left behind.
  std::vector<std::string> NamesBesides(const std::string& name) const;

  TTempFolder folder_;
  std::string root_ = folder_.Path();
};
