// The project's programs run as child processes on a machine's prefix.
#pragma once

#include <string>
#include <vector>

#include "testkit/testkit.h"

namespace qb::test {

// A program that ran as a child process.
struct ProgramRun {
    int status = -1;  // exit status, or -1 when the program did not exit normally
    std::string out;
    std::string err;
};

// Runs `program` with `args` on the machine's prefix, stdin empty, and collects
// both output streams. The test's registry changes are written first and the
// child's read afterwards.
ProgramRun runProgram(const FakeMachine& m, const std::string& program,
                      const std::vector<std::string>& args, bool withArchivePath = true);

inline const std::string kQuillbox = QB_BIN_DIR "/quillbox";

}  // namespace qb::test
