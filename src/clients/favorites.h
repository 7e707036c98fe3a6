// The Internet Explorer Favorites: the Internet shortcuts (".url") of the user's
// Favorites folder and of all its sub-folders, backed up folder by folder and
// restored into the Favorites folder or into a folder the person picks.
#pragma once

#include "jobs/backup_job.h"
#include "jobs/restore_job.h"

namespace qb::clients {

// Registers the backup and both restores for kind::Favorites.
void RegisterFavorites();

void BackupFavorites(jobs::BackupContext& ctx);
// Into the Favorites folder, or below ctx.targetFolder for a restore into a folder.
bool RestoreFavorites(jobs::RestoreContext& ctx);

}  // namespace qb::clients
