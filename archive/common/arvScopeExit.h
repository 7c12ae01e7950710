// TScopeExit: runs a function when the scope that holds it is left, by return or by exception
// (restoring saved state, ending a decoder, firing a closing event). It does nothing else; a
// function that may throw must catch inside, because it runs during unwinding.
#pragma once

#include <utility>

template <typename TFunction>
class TScopeExit {
 public:
  explicit TScopeExit(TFunction function) : FFunction(std::move(function)) {}
  ~TScopeExit() { FFunction(); }
  TScopeExit(const TScopeExit&) = delete;
  TScopeExit& operator=(const TScopeExit&) = delete;

 private:
  TFunction FFunction;
};
