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
// child's read afterwards. The child works in `workingFolder` when one is given.
ProgramRun runProgram(const FakeMachine& m, const std::string& program,
                      const std::vector<std::string>& args, bool withArchivePath = true,
                      const fs::path& workingFolder = {});

inline const std::string kQuillbox = QB_BIN_DIR "/quillbox";
inline const std::string kQbreg = QB_BIN_DIR "/qbreg";

}  // namespace qb::test
