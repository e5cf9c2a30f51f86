#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>

// "<stem>.txt" for number 1, then "<stem>-2.txt", "<stem>-3.txt", ...
std::string NumberedName(const std::string& stem, int64_t number);

// Where one file per job looks for a free name: the next number per name
// pattern's rendering (stem), so that the k-th job within one name's time
// window tries one name, not k. A stem not remembered, or a remembered
// number another program has taken meanwhile, is found by probing: numbers
// double until one is free, then a bisection finds the first free one after
// the taken run. The exclusive create stays the claim; this only says where
// to try first.
class TJobFileNames {
 public:
  using TIsTaken = std::function<bool(const std::string& name)>;
  // Stems remembered at most; past it they are forgotten and found again.
  static constexpr std::size_t kMaxStems = 1024;

  // The number to try for the stem.
  int64_t NumberToTry(const std::string& stem, const TIsTaken& isTaken);
  // The number to try after another program took the one tried.
  int64_t NumberAfter(const std::string& stem, int64_t refused, const TIsTaken& isTaken) const;
  // The number was claimed: the next job of the stem tries the one after.
  void Claimed(const std::string& stem, int64_t number);

 private:
  std::unordered_map<std::string, int64_t> next_;
};
