#include "jobs/job_feature_set.h"

#include <cstring>
#include <exception>
#include <utility>

#include "base/text.h"
#include "capture/ini_file.h"
#include "jobs/advertised_services.h"
#include "jobs/after_job.h"
#include "jobs/job_index.h"
#include "jobs/job_notifier.h"
#include "jobs/listening_here.h"
#include "jobs/lpd_protocol.h"
#include "jobs/port_protocol.h"
#include "jobs/sender_filter.h"
#include "jobs/service_advertiser.h"
#include "jobs/status_conversation.h"

TJobFeatureSet::TJobFeatureSet(TJobHost& host, std::string settingsPath, TFinishedListener listener)
    : host_(host),
      settingsPath_(std::move(settingsPath)),
      listener_(std::move(listener)),
      retention_(
          settingsPath_, [this](const TFileIdentity& file) { return host_.FileInUse(file); },
          [this](const std::string& path, int days, int platformErrno) {
            ReportRetention(path, days, platformErrno);
          }) {}

TJobFeatureSet::~TJobFeatureSet() = default;

bool TJobFeatureSet::Admits(const TJob& job) {
  return TSenderFilter(job.Options.AllowedSenders).Allows(job.PeerAddress);
}

std::unique_ptr<TJobConversation> TJobFeatureSet::Converse(const TJob& job) {
  return MakeStatusConversation(
      job, settingsPath_,
      [this](const std::string& key, const std::string& text) { host_.JobFailure(key, text); });
}

// A port whose Protocol nobody knows still captures every byte, as a raw
// port, and says so: the operator's typo must not lose a job.
std::unique_ptr<TJobProtocol> TJobFeatureSet::Frames(const TJob& job) {
  const std::optional<TPortProtocol> protocol = ParsePortProtocol(job.Options.Protocol);
  if (!protocol) {
    host_.JobFailure("protocol " + job.Port, "Port " + job.Port + ": " +
                                                 UnknownProtocolText(job.Options.Protocol) +
                                                 "; its jobs are captured raw");
    return nullptr;
  }
  if (*protocol == TPortProtocol::Raw) return nullptr;
  TLpdLimits limits;
  limits.maxJobBytes = static_cast<uint64_t>(job.Options.MaxJobBytes);
  return std::make_unique<TLpdProtocol>(limits);
}

// The index line comes first, so a command or the operator that looks at
// the index finds the job in it. A job the program's end cut short gets its
// index line only: nothing is started while the program ends.
void TJobFeatureSet::Finished(const TJob& job) {
  if (job.Options.JobIndex) AddToIndex(job);
  if (listener_) listener_(job);
  if (job.Outcome == TJob::TOutcome::Ended) return;
  if (!job.Options.AfterJob.empty()) RunAfterJob(job);
  if (job.Options.Notify) Notify(job);
}

// The listeners are open when this starts, so only ports that really
// listen are published; they are withdrawn before the listeners close.
void TJobFeatureSet::Start() {
  retention_.Start();
  Advertise();
}

void TJobFeatureSet::Stop() {
  retention_.Stop();
  if (advertiser_) advertiser_->Withdraw();
}

void TJobFeatureSet::AddToIndex(const TJob& job) {
  try {
    AppendToJobIndex(job);
  } catch (const std::exception& failure) {
    const std::string index = job.Folder + kJobIndexName;
    host_.JobFailure("index\n" + std::string(failure.what()),
                     "Job index " + index + ": " + failure.what());
  }
}

void TJobFeatureSet::RunAfterJob(const TJob& job) {
  if (!afterJob_)
    afterJob_ = std::make_unique<TAfterJobRunner>(
        [this](const std::string& text, const std::string& cause) {
          host_.JobFailure("after-job\n" + cause, text);
        });
  afterJob_->Run(job, job.Options.AfterJob, job.Options.AfterJobParallel,
                 job.Options.AfterJobSeconds);
}

// Why a notification was not shown goes into the message log, which a
// person watches, and with it onto standard error.
void TJobFeatureSet::Notify(const TJob& job) {
  if (!notifier_) {
    TJobNotifierOptions options;
    options.Say = [this](const std::string& line) { host_.JobLine(line); };
    notifier_ = std::make_unique<TJobNotifier>(
        [this](const std::string& file) { host_.OpenCapture(file); }, std::move(options));
  }
  notifier_->Notify(job);
}

// A settings file that cannot be read opened no port, and the port log
// said so already: nothing is published then.
void TJobFeatureSet::Advertise() {
  TAdvertPlan plan;
  try {
    plan = PlanAdvertisements(TIniFile(settingsPath_).Load(), ShortHostName(), ListeningHere);
  } catch (const std::exception&) {
    return;
  }
  for (const std::string& refusal : plan.Refusals)
    host_.PortFailure("advertise\n" + refusal, refusal);
  if (plan.Services.empty() && !advertiser_) return;
  if (!advertiser_) {
    TServiceAdvertiserOptions options;
    options.Say = [this](const std::string& line) { host_.PortLine(line); };
    options.Fail = [this](const std::string& key, const std::string& line) {
      host_.PortFailure(key, line);
    };
    advertiser_ = std::make_unique<TServiceAdvertiser>(std::move(options));
  }
  advertiser_->Publish(std::move(plan.Services));
}

void TJobFeatureSet::ReportRetention(const std::string& path, int days, int platformErrno) {
  if (platformErrno == 0)
    host_.JobLine(path + " deleted, older than " + FormatInteger(days) +
                  (days == 1 ? " day" : " days"));
  else
    host_.JobFailure("retention\n" + std::to_string(platformErrno),
                     "Unable to delete " + path + ": " + std::strerror(platformErrno));
}

std::unique_ptr<TJobFeatures> MakeJobFeatures(TJobHost& host, const std::string& settingsPath) {
  return std::make_unique<TJobFeatureSet>(host, settingsPath);
}

TJobFeaturesMaker JobFeaturesTelling(TJobFeatureSet::TFinishedListener listener) {
  return [listener = std::move(listener)](TJobHost& host, const std::string& settingsPath) {
    return std::make_unique<TJobFeatureSet>(host, settingsPath, listener);
  };
}
