#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "capture/monitor_window.h"

// The window the capture monitor reports to, reduced to what tests look at:
// the panes as lists of displayed lines and every caption ever set.
class TFakeMonitorWindow : public TMonitorWindow {
 public:
  std::vector<std::string> PortLines;  // one entry per line written, as written
  // As the real pane shows them: split where its text view starts a line, so
  // the monitor's count and cuts see what they would see in the window.
  std::vector<std::string> MessageLines;
  std::vector<std::string> Captions;
  bool DeleteIfEmptyMark = false;
  int TopValue = 0, LeftValue = 0, HeightValue = 151;
  bool Normal = true;

  std::string Caption() const { return Captions.empty() ? "Tarnock Log" : Captions.back(); }

  void ClearPortLog() override { PortLines.clear(); }
  void AppendPortLine(const std::string& line) override { PortLines.push_back(line); }

  void AppendMessageLine(const std::string& line) override {
    for (const std::string_view part : SplitLines(line, TLineEnds::TextView))
      MessageLines.emplace_back(part);
  }
  int MessageLineCount() const override { return static_cast<int>(MessageLines.size()); }
  void DeleteFirstMessageLines(int count) override {
    MessageLines.erase(MessageLines.begin(), MessageLines.begin() + count);
  }

  void SetCaption(const std::string& caption) override { Captions.push_back(caption); }

  bool DeleteIfEmpty() const override { return DeleteIfEmptyMark; }
  void SetDeleteIfEmpty(bool on) override { DeleteIfEmptyMark = on; }

  int Top() const override { return TopValue; }
  int Left() const override { return LeftValue; }
  int Height() const override { return HeightValue; }
  void SetTop(int top) override { TopValue = top; }
  void SetLeft(int left) override { LeftValue = left; }
  void SetHeight(int height) override { HeightValue = height; }
  bool IsNormalState() const override { return Normal; }
};
