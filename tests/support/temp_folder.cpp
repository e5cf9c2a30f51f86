#include "support/temp_folder.h"

#include <stdlib.h>

#include <filesystem>
#include <system_error>

TTempFolder::TTempFolder() {
  char pattern[] = "/tmp/tarnock-test-XXXXXX";
  if (mkdtemp(pattern) != nullptr) path_ = pattern;
}

TTempFolder::~TTempFolder() {
  if (path_.empty()) return;
  // A destructor must not throw: whatever cannot be removed stays behind.
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> TempFolderTest::NamesBesides(const std::string& name) const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(root_)) {
    if (entry.path().filename() != name) names.push_back(entry.path().filename());
  }
  return names;
}
