// The run's temporary files (images, templates and tile cache entries being
// written), so that a signal that ends the run (SIGINT, SIGTERM, SIGHUP,
// SIGQUIT) removes them first, however many are staged, and the log's last
// line says which signal it was.
#pragma once

#include <signal.h>
#include <sys/stat.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace qv {

// Creates a new file for writing beside `target` ("<target>.XXXXXX",
// O_EXCL: never an existing file, never through a link) and registers it.
// Returns the descriptor and sets `path`; -1 with errno set on failure
// (ENOMEM when it could not be registered: no file is left then).
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

// On SIGINT, SIGTERM, SIGHUP or SIGQUIT, on whichever thread it comes:
// removes every registered temporary file, stops the work a database
// server does for the run, writes the log's last line ("ERROR: The run was
// ended by the signal SIGTERM.") and ends the process by the same signal,
// which a shell reports as status 128 + its number (SIGQUIT without a core
// file). A thread making a file meanwhile makes none.
void removeTempFilesOnSignal();

// Writes all of `line` to descriptor `fd`, unless it would wait more than
// a second (a pipe nobody reads). Safe in a signal handler.
void writeWhole(int fd, std::string_view line);

// The descriptors the log writes to (standard error and the --log file;
// -1 for none): the line a signal ends the run with goes there too.
void logSignalsTo(int stream, int file);

// Work that the signal handler must not find half done (a file being made
// and registered, a log line being written): while an object of this class
// lives, those signals wait on this thread, and the handler, come on
// another thread, waits for it to end. Once the run is being ended, no such
// work starts: the thread waits to be ended with the process.
class SignalsHeld {
 public:
  SignalsHeld();
  ~SignalsHeld();
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t old_;
};

}  // namespace qv
