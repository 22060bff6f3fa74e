#pragma once

#include <algorithm>

namespace orl {

// Told how far one piece of long work has come: a fraction from 0 (begun)
// to 1 (done) of that piece. Work that reports through it calls it as it
// goes, never with a smaller fraction than before, and reports 1 only when
// the piece is done. Free of Qt, so that every layer can report through it.
class Progress {
 public:
  virtual ~Progress() = default;
  virtual void reached(double fraction) = 0;
};

// One piece of a larger piece of work: its fractions are passed on as the
// stretch from `from` to `to` of the whole, never going back.
class ProgressShare final : public Progress {
 public:
  ProgressShare(Progress& whole, double from, double to) : whole_(whole), from_(from), to_(to) {}

  void reached(double fraction) override {
    // The end is passed on exactly, so that the next piece begins where this one ended.
    const double at = fraction >= 1.0 ? to_ : from_ + (to_ - from_) * std::max(fraction, 0.0);
    if (at <= reachedSoFar_) return;
    reachedSoFar_ = at;
    whole_.reached(at);
  }

 private:
  Progress& whole_;
  double from_;
  double to_;
  double reachedSoFar_ = -1.0;
};

}  // namespace orl
