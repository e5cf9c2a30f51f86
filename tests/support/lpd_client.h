#pragma once

#include <cstdint>
#include <string>
#include <vector>

// An LPD client's side of one connection as bytes: what it sends, step by
// step, and what a daemon answers to each step. A unit test feeds the steps
// to the receiver; a socket test sends each and reads the answer before the
// next, as a client does.
struct TLpdStep {
  std::string send;
  std::string expect;  // the daemon's answer to send; empty: none
};

// The fields a test's control file carries.
struct TLpdJobFields {
  std::string host = "client";
  std::string user = "alice";
  std::string jobName = "report";
  std::string sourceName = "report.txt";
};

class TLpdClient {
 public:
  static constexpr char kAck = '\0';

  // Commands: one per connection.
  TLpdClient& PrintWaitingJobs(const std::string& queue);
  TLpdClient& ReceiveJob(const std::string& queue);
  TLpdClient& QueueState(const std::string& queue, bool longForm);
  TLpdClient& RemoveJobs(const std::string& queue, const std::string& agent);
  // Subcommands of receive job.
  TLpdClient& AbortJob();
  TLpdClient& ControlFile(const std::string& name, const std::string& text);
  TLpdClient& DataFile(const std::string& name, const std::string& bytes);
  // Announced with count 0: the bytes run to the connection's end, unanswered.
  TLpdClient& DataFileToTheEnd(const std::string& name, const std::string& bytes);
  // Bytes of the test's own and the answer it expects.
  TLpdClient& Raw(const std::string& send, const std::string& expect);

  const std::vector<TLpdStep>& Steps() const { return steps_; }
  std::string AllSent() const;
  std::string AllExpected() const;

 private:
  std::vector<TLpdStep> steps_;
};

// A control file that prints each data file (l: as is) under the fields, one
// N line before each, as a client sends it.
std::string LpdControlText(const TLpdJobFields& fields, const std::vector<std::string>& dataFiles);
