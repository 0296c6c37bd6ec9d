#pragma once
// What a firmware update leaves behind, the same for Orva_Upgrade and kvtool:
// the configuration read before the flash kept as a data file, and the job
// recorded in the building register (the backup, the flash with the firmware
// before and after, an upload of the backup that put the configuration back).
#include "jobs/flash_job.h"
#include "registry/building_register.h"

#include <string>
#include <vector>

namespace kelvane::jobs {

// Keeps `image`, read from the controller `id` before a flash, in `folder`
// (it and its parent 0700, the file 0600, through the one file writer) as
// "before-flash-SERIAL-yyyyMMdd-HHmmss.kvd"; the path, or empty when it could
// not be written.
std::string keepFlashBackup(const std::string& folder, const Image& image, const link::ProbeReply& id);

// The visits a job leaves, in order: the backup with its image (when one was
// taken), then the flash itself: the firmware the controller reported after
// it (else before), the outcome naming both versions, the configuration read
// after it. Nothing without the controller's identity.
std::vector<registry::NewVisit> flashVisits(const JobResult& job, const std::string& port);

// Records flashVisits() and the backup file; false with `why` when the
// register refused one.
bool recordFlash(registry::Register& reg, const JobResult& job, const std::string& port, std::string& why);
// Records the upload of the backup that followed a job (FlashJob::restore).
bool recordRestore(registry::Register& reg, const JobResult& restored, const std::string& port, std::string& why);

}  // namespace kelvane::jobs
