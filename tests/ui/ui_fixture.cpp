#include "ui_fixture.h"

#include "app/settings.h"
#include "jobs/archive_job.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "ui/windows.h"

namespace qb::test {

WindowsOnFakeMachine::WindowsOnFakeMachine() : machine_(std::make_unique<FakeMachine>()) {
    app::Settings& s = app::settings();
    s = app::Settings{};
    s.programFolder = kProgramFolder;
    platform::forceDirectories(s.programFolder);
    ui::CreateWindows();
}

WindowsOnFakeMachine::~WindowsOnFakeMachine() {
    ui::DestroyWindows();
    jobs::JobTexts().CloseFile();
    app::settings() = app::Settings{};
}

}  // namespace qb::test
