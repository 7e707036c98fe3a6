// The program's start, as far as it runs without windows: the settings, the
// language file, the job module and the client adapters.
#pragma once

namespace qb::app {

// Loads the settings (writing missing defaults), chooses the language file, hands
// the volume settings to the job, initialises the job module and registers every
// client adapter. Problems with the settings are reported on stderr. False when
// the archive library cannot be loaded: the program must end after the command
// line has run (each archive step then fails).
bool StartUp();

}  // namespace qb::app
