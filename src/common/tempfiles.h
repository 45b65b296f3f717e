// The run's temporary files (images, templates and tile cache entries being
// written), so that SIGINT and SIGTERM remove them before the run ends.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <string>

namespace qv {

// Creates a new file for writing beside `target` ("<target>.XXXXXX",
// O_EXCL: never an existing file, never through a link) and registers it.
// Returns the descriptor and sets `path`; -1 with errno set on failure.
int createTempBeside(const std::string& target, std::string& path);

// Writes `size` bytes to such a new file and closes it. Returns 0 and sets
// `path` (and *st, when given, to the finished file's status); else errno,
// with nothing left behind.
int writeTempBeside(const std::string& target, const void* data, size_t size, std::string& path,
                    struct stat* st = nullptr);

// Writes a file whole beside `target` and renames it over `target`, so a
// reader sees the old file or the new one, never a part. 0 or errno.
int replaceFile(const std::string& target, const void* data, size_t size);

// Forgets a temporary file that was renamed into place or removed. Cheap
// and safe from any thread.
void forgetTempFile(const std::string& path);

// Removes a registered temporary file and forgets it.
void removeTempFile(const std::string& path);

// On SIGINT or SIGTERM, on whichever thread it comes: removes every
// registered temporary file, then ends the process by the same signal (its
// usual exit status). A thread making a file meanwhile makes none.
void removeTempFilesOnSignal();

}  // namespace qv
