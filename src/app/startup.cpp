#include "app/startup.h"

#include <iostream>

#include "app/settings.h"
#include "jobs/archive_job.h"
#include "jobs/backup_job.h"
#ifdef QB_HAVE_CLIENT_ADAPTERS
#include "clients/all_clients.h"
#endif

namespace qb::app {

bool StartUp() {
    Settings& s = settings();
    LoadSettings(s);
    ChooseLanguageFile(s);
    for (const std::string& problem : s.problems)
        std::cerr << "quillbox: settings: " << problem << "\n";
    jobs::ArchiveJob& job = jobs::archiveJob();
    job.multipleVolumes = s.multipleVolumes;
    job.volumeSizeIndex = s.volumeSizeIndex;
    const bool loaded = jobs::InitJobModule(s.languageFile);
#ifdef QB_HAVE_CLIENT_ADAPTERS
    clients::RegisterAllClients();
#endif
    return loaded;
}

}  // namespace qb::app
