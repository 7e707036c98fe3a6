// Where a running job reports its progress: the progress windows install their own
// implementation; command-line runs and tests use the console one.
#pragma once

#include <string>
#include <string_view>

namespace qb::jobs {

class JobProgress {
  public:
    virtual ~JobProgress() = default;
    // A job begins packing or extracting.
    virtual void start() {}
    // Overall percent and the current item's percent (0..100) and the item's label
    // (the progress heading followed by the item's name).
    virtual void progress(int overall, int item, std::string_view label) = 0;
};

// The implementation in force; the console one until another is installed.
JobProgress& jobProgress();
// Installs `impl` (not owned) and returns the previous one; nullptr restores the console.
JobProgress* setJobProgress(JobProgress* impl);

// Progress on stderr: a line when a new item begins and one for every further five
// percent overall, so a long job prints about twenty lines plus one per item.
class ConsoleJobProgress : public JobProgress {
  public:
    void start() override;
    void progress(int overall, int item, std::string_view label) override;

  private:
    std::string label_;
    int lastOverall_ = -1;
};

// Installs a progress implementation for the lifetime of a scope.
class ScopedJobProgress {
  public:
    explicit ScopedJobProgress(JobProgress& impl) : previous_(setJobProgress(&impl)) {}
    ~ScopedJobProgress() { setJobProgress(previous_); }
    ScopedJobProgress(const ScopedJobProgress&) = delete;
    ScopedJobProgress& operator=(const ScopedJobProgress&) = delete;

  private:
    JobProgress* previous_;
};

}  // namespace qb::jobs
