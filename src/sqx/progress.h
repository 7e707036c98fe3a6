// Reason-0 reporting for one list entry.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>

#include "sqx/callback.h"

namespace sqx {

// Reports whenever the percentage grows and at least every MiB, so that a
// stop request is heard quickly even on huge files. The value stays below
// 100 until finish() reports 100 once; it never goes down.
class Progress {
  public:
    Progress(Callback& cb, std::string name, uint64_t total)
        : cb_(cb), name_(std::move(name)), total_(total) {}

    void advance(uint64_t bytes) {
        done_ += bytes;
        int percent =
            total_ == 0 ? 99 : static_cast<int>(std::min<uint64_t>(done_ * 100 / total_, 99));
        if (percent > last_ || done_ - lastBytes_ >= kStep) {
            last_ = std::max(last_, percent);
            lastBytes_ = done_;
            cb_.progress(name_, last_);
        }
    }
    void finish() { cb_.progress(name_, 100); }

  private:
    static constexpr uint64_t kStep = 1 << 20;

    Callback& cb_;
    std::string name_;
    uint64_t total_;
    uint64_t done_ = 0;
    uint64_t lastBytes_ = 0;
    int last_ = -1;
};

}  // namespace sqx
