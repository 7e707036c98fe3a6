#include "jobs/job_progress.h"

#include <iostream>

namespace qb::jobs {

namespace {

JobProgress*& current() {
    static JobProgress* impl = nullptr;
    return impl;
}

ConsoleJobProgress& console() {
    static ConsoleJobProgress c;
    return c;
}

}  // namespace

JobProgress& jobProgress() {
    JobProgress* impl = current();
    return impl ? *impl : console();
}

JobProgress* setJobProgress(JobProgress* impl) {
    JobProgress* previous = current();
    current() = impl;
    return previous;
}

void ConsoleJobProgress::start() {
    label_.clear();
    lastOverall_ = -1;
}

void ConsoleJobProgress::progress(int overall, int item, std::string_view label) {
    (void)item;
    const bool newItem = label != label_;
    const bool step = lastOverall_ < 0 || overall / 5 > lastOverall_ / 5;
    if (!newItem && !step) return;
    if (newItem) label_ = std::string(label);
    if (step) lastOverall_ = overall;
    std::cerr << "quillbox: " << overall << "%";
    if (!label_.empty()) std::cerr << "  " << label_;
    std::cerr << "\n";
}

}  // namespace qb::jobs
