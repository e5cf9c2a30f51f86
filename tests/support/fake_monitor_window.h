#pragma once

#include <string>
#include <vector>

#include "capture/monitor_window.h"

// The window the capture monitor reports to, reduced to what tests look at:
// the panes as lists of displayed lines and every caption ever set.
class TFakeMonitorWindow : public TMonitorWindow {
 public:
  std::vector<std::string> PortLines;
  std::vector<std::string> MessageLines;  // as displayed: CR LF splits a line
  std::vector<std::string> Captions;
  bool DeleteIfEmptyMark = false;
  int TopValue = 0, LeftValue = 0, HeightValue = 151;
  bool Normal = true;

  std::string Caption() const { return Captions.empty() ? "Tarnock Log" : Captions.back(); }

  void ClearPortLog() override { PortLines.clear(); }
  void AppendPortLine(const std::string& line) override { PortLines.push_back(line); }

  void AppendMessageLine(const std::string& line) override {
    std::string::size_type start = 0;
    for (auto end = line.find("\r\n"); end != std::string::npos; end = line.find("\r\n", start)) {
      MessageLines.push_back(line.substr(start, end - start));
      start = end + 2;
    }
    MessageLines.push_back(line.substr(start));
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
