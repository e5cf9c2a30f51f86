#include "support/lpd_client.h"

namespace {

const std::string kAckText(1, TLpdClient::kAck);

std::string FileLine(char subcommand, uint64_t count, const std::string& name) {
  return std::string(1, subcommand) + std::to_string(count) + " " + name + "\n";
}

}  // namespace

TLpdClient& TLpdClient::PrintWaitingJobs(const std::string& queue) {
  return Raw("\x01" + queue + "\n", kAckText);
}

TLpdClient& TLpdClient::ReceiveJob(const std::string& queue) {
  return Raw("\x02" + queue + "\n", kAckText);
}

TLpdClient& TLpdClient::QueueState(const std::string& queue, bool longForm) {
  return Raw((longForm ? "\x04" : "\x03") + queue + "\n", "no entries\n");
}

TLpdClient& TLpdClient::RemoveJobs(const std::string& queue, const std::string& agent) {
  return Raw("\x05" + queue + " " + agent + "\n", kAckText);
}

TLpdClient& TLpdClient::AbortJob() { return Raw("\x01\n", kAckText); }

TLpdClient& TLpdClient::ControlFile(const std::string& name, const std::string& text) {
  Raw(FileLine('\x02', text.size(), name), kAckText);
  return Raw(text + '\0', kAckText);
}

TLpdClient& TLpdClient::DataFile(const std::string& name, const std::string& bytes) {
  Raw(FileLine('\x03', bytes.size(), name), kAckText);
  return Raw(bytes + '\0', kAckText);
}

TLpdClient& TLpdClient::DataFileToTheEnd(const std::string& name, const std::string& bytes) {
  Raw(FileLine('\x03', 0, name), kAckText);
  return Raw(bytes, "");
}

TLpdClient& TLpdClient::Raw(const std::string& send, const std::string& expect) {
  steps_.push_back({send, expect});
  return *this;
}

std::string TLpdClient::AllSent() const {
  std::string all;
  for (const TLpdStep& step : steps_) all += step.send;
  return all;
}

std::string TLpdClient::AllExpected() const {
  std::string all;
  for (const TLpdStep& step : steps_) all += step.expect;
  return all;
}

std::string LpdControlText(const TLpdJobFields& fields, const std::vector<std::string>& dataFiles) {
  std::string text = "H" + fields.host + "\nP" + fields.user + "\nJ" + fields.jobName + "\n";
  for (const std::string& name : dataFiles) text += "N" + fields.sourceName + "\nl" + name + "\n";
  for (const std::string& name : dataFiles) text += "U" + name + "\n";
  return text;
}
