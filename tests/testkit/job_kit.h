// Helpers of the backup and restore job tests. Header only: the test kit library
// itself does not link the job layer.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <initializer_list>
#include <random>
#include <string>
#include <utility>

#include "archive/archive_library.h"
#include "catalog/client_kind.h"
#include "jobs/archive_job.h"
#include "jobs/backup_job.h"
#include "support/msg_texts.h"
#include "testkit/testkit.h"

namespace qb::test {

// `n` bytes of every value, the same for the same seed.
inline std::string randomBytes(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(gen() & 0xFF);
    return s;
}

inline Selection selection(std::initializer_list<std::pair<const char*, bool>> entries) {
    Selection s;
    for (const auto& [name, checked] : entries)
        s.add(name, checked);
    return s;
}

// Loads the job module with the built-in texts written to `languageFile` on the
// machine, and leaves the archive job as a fresh single-volume job without a
// password. Use with ASSERT_NO_FATAL_FAILURE.
inline void startJobModule(const FakeMachine& machine, const char* languageFile) {
    ::setenv("QUILLBOX_SQX", QB_BIN_DIR "/libsqx.so", 0);
    machine.writeFile(languageFile, "");
    ASSERT_TRUE(WriteBuiltInLanguageFile(languageFile));
    ASSERT_TRUE(jobs::InitJobModule(languageFile)) << archive::ArchiveLibraryLoadError();
    jobs::ArchiveJob& job = jobs::archiveJob();
    job.password.clear();
    job.multipleVolumes = false;
    job.volumeSizeIndex = 4;
    job.abortRequest = false;
    job.errorFlag = false;
    job.errorText.clear();
    job.aborted = false;
}

}  // namespace qb::test
