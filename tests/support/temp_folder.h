#pragma once

#include <string>

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
