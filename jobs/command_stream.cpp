#include "jobs/command_stream.h"

std::size_t TCommandStream::StepWithin(std::string_view at, uint64_t atOffset, TReplyHost& host) {
  const std::size_t step = Step(at, atOffset, host);
  // A step that claims to need more than kLongestHead bytes would make the
  // kept head grow without bound; it is read as one byte instead.
  return step == 0 && at.size() >= kLongestHead ? 1 : step;
}

std::size_t TCommandStream::FinishPending(std::string_view bytes, TReplyHost& host) {
  std::size_t used = 0;
  while (!pending_.empty() && used < bytes.size()) {
    std::string joint = pending_;
    joint.append(bytes.substr(used, kLongestHead));
    const std::size_t step = StepWithin(joint, pendingOffset_, host);
    if (step == 0) {
      // Short of kLongestHead bytes, so all of this receive is in the joint.
      pending_ = std::move(joint);
      return bytes.size();
    }
    if (step >= pending_.size()) {
      used += step - pending_.size();
      pending_.clear();
    } else {
      pending_.erase(0, step);
      pendingOffset_ += step;
    }
  }
  return used;
}

void TCommandStream::Read(std::string_view bytes, uint64_t offset, TReplyHost& host) {
  std::size_t at = FinishPending(bytes, host);
  while (at < bytes.size()) {
    const std::size_t step = StepWithin(bytes.substr(at), offset + at, host);
    if (step == 0) {
      pending_.assign(bytes.substr(at));
      pendingOffset_ = offset + at;
      return;
    }
    at += step;
  }
}
