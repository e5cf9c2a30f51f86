#pragma once

#include <functional>
#include <memory>
#include <string>

#include "capture/job_features.h"
#include "jobs/retention.h"

class TAfterJobRunner;
class TJobNotifier;
class TServiceAdvertiser;

// Every feature that acts on jobs, behind the one interface the monitor
// calls: who may send, what the peer is answered, the index line, the
// after-job command and the notification of a finished job, the
// deletion of old captures, and the ports published on the network. Each
// works only when its option is on for the job at hand.
class TJobFeatureSet : public TJobFeatures {
 public:
  // Told of every finished job, whatever the options: the job list shows
  // them all.
  using TFinishedListener = std::function<void(const TJob& job)>;

  TJobFeatureSet(TJobHost& host, std::string settingsPath, TFinishedListener listener = {});
  ~TJobFeatureSet() override;

  bool Admits(const TJob& job) override;
  std::unique_ptr<TJobConversation> Converse(const TJob& job) override;
  std::unique_ptr<TJobProtocol> Frames(const TJob& job) override;
  void Finished(const TJob& job) override;
  void Start() override;
  void Stop() override;

 private:
  void AddToIndex(const TJob& job);
  void RunAfterJob(const TJob& job);
  void Notify(const TJob& job);
  void ReportRetention(const std::string& path, int days, int platformErrno);
  void Advertise();

  TJobHost& host_;
  std::string settingsPath_;
  TFinishedListener listener_;
  TRetention retention_;
  // Made at their first use: most runs never need them.
  std::unique_ptr<TAfterJobRunner> afterJob_;
  std::unique_ptr<TJobNotifier> notifier_;
  std::unique_ptr<TServiceAdvertiser> advertiser_;
};

// What the program's windows give the monitor.
std::unique_ptr<TJobFeatures> MakeJobFeatures(TJobHost& host, const std::string& settingsPath);
// The same, telling the listener of every finished job.
TJobFeaturesMaker JobFeaturesTelling(TJobFeatureSet::TFinishedListener listener);
