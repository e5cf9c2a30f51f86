#include "capture/job_file_names.h"

#include "base/text.h"

namespace {

// The first free number from `from` on, taking the taken numbers as one
// unbroken run, as one file per job makes them.
int64_t FirstFreeFrom(const std::string& stem, int64_t from,
                      const TJobFileNames::TIsTaken& isTaken) {
  if (!isTaken(NumberedName(stem, from))) return from;
  int64_t taken = from;
  int64_t step = 1;
  int64_t free = from + step;
  while (isTaken(NumberedName(stem, free))) {
    taken = free;
    step *= 2;
    free = from + step;
  }
  while (free - taken > 1) {
    const int64_t middle = taken + (free - taken) / 2;
    (isTaken(NumberedName(stem, middle)) ? taken : free) = middle;
  }
  return free;
}

}  // namespace

std::string NumberedName(const std::string& stem, int64_t number) {
  std::string name = stem;
  if (number > 1) {
    name += '-';
    name += FormatInteger(number);
  }
  name += ".txt";
  return name;
}

int64_t TJobFileNames::NumberToTry(const std::string& stem, const TIsTaken& isTaken) {
  const auto found = next_.find(stem);
  // A remembered number is tried as it is: its create tells whether it is
  // still free, and only a refusal costs a probe.
  if (found != next_.end()) return found->second;
  return FirstFreeFrom(stem, 1, isTaken);
}

int64_t TJobFileNames::NumberAfter(const std::string& stem, int64_t refused,
                                   const TIsTaken& isTaken) const {
  return FirstFreeFrom(stem, refused + 1, isTaken);
}

void TJobFileNames::Claimed(const std::string& stem, int64_t number) {
  if (next_.size() >= kMaxStems && next_.find(stem) == next_.end()) next_.clear();
  next_[stem] = number + 1;
}
