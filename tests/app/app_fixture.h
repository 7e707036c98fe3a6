// Shared pieces of the app tests: a fake machine with the language file and the
// job module set up, test adapters that record how they were called, and the
// programs run as child processes.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/settings.h"
#include "jobs/archive_job.h"
#include "jobs/backup_job.h"
#include "platform/files.h"
#include "support/interaction.h"
#include "support/msg_texts.h"
#include "testkit/program_run.h"
#include "testkit/testkit.h"

namespace qb::test {

struct AdapterCall {
    ClientKind kind;
    std::string path;
    Selection identities;
    Selection items;
};

class AppFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        ::setenv("QUILLBOX_SQX", QB_BIN_DIR "/libsqx.so", 0);
        app::Settings& s = app::settings();
        s = app::Settings{};
        s.programFolder = "C:\\Program Files\\Quillbox\\";
        platform::forceDirectories(s.programFolder);
        app::ChooseLanguageFile(s);
        ASSERT_TRUE(jobs::InitJobModule(s.languageFile));
    }
    void TearDown() override {
        for (ClientKind k : registered)
            jobs::RegisterBackupAdapter(k, nullptr);
        jobs::JobTexts().CloseFile();
    }

    // An adapter that records its call and packs the manifest; `fail` makes it
    // record an error instead, naming a file whose name holds terminal control.
    void adapter(ClientKind kind, bool fail = false) {
        registered.push_back(kind);
        jobs::RegisterBackupAdapter(kind, [this, kind, fail](jobs::BackupContext& ctx) {
            calls.push_back({kind, ctx.backupPath, ctx.identities, ctx.items});
            if (fail) {
                jobs::archiveJob().errorFlag = true;
                jobs::archiveJob().errorText = "Access denied! C:\\Locked\\\x1b[2J\a\rfile.dat";
                return;
            }
            jobs::StartBackupFrame(ctx);
            jobs::WriteManifest(ctx);
            jobs::AddStagingFileToJob(jobs::kManifestName);
            jobs::FinishBackupFrame(ctx);
        });
    }

    // Runs the command line with its output and stderr captured in `out` and `err`.
    app::CommandLineResult run(std::vector<std::string> params) {
        out.str("");
        ::testing::internal::CaptureStderr();
        app::CommandLineResult r = app::RunCommandLine(params, out);
        err = ::testing::internal::GetCapturedStderr();
        return r;
    }

    bool invalidCommandShown() const {
        for (const auto& b : boxes.boxes)
            if (b.text == "Invalid command!" && b.icon == MsgIcon::Error) return true;
        return false;
    }

    FakeMachine machine;
    ScriptedInteraction boxes;
    ScopedInteraction scope{boxes};
    std::vector<ClientKind> registered;
    std::vector<AdapterCall> calls;
    std::ostringstream out;
    std::string err;
};

inline const std::string kQuillsched = QB_BIN_DIR "/quillsched";

}  // namespace qb::test
