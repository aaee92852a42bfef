// The shared tosser lock: VIZIZE.BSY in the message directory, created
// atomically, held open unshared for the whole run and deleted at its end.
// While it exists the mail tosser and any second run stay out.
//
// The lock state is process-wide because the control handler, which the
// system runs on a thread (Windows) or in a signal handler (POSIX), must
// reach it without arguments. Whichever of the handler and the main thread
// takes ownership first, in one atomic exchange, closes and deletes the file,
// and only when the name still refers to the file this run created: a lock
// someone else put in its place is never deleted.
#pragma once

#include <string>

#include "platform/os.h"
#include "version.h"

namespace twtrim {

// The line written into the lock file, with its CR LF.
inline constexpr char kLockFileText[] =
    "TWTRIM32 " TWTRIM_VERSION_TEXT " active - shared message-base lock\r\n";

// Why an acquisition failed.
enum class LockFailure {
  kNotCreated,     // the name could not be created (it exists, or the system refused)
  kUnwritten,      // created, but its line could not be written and flushed; removed again
  kUnwrittenLeft,  // the same, and the file this run created could not be removed
};

// True when this run created, wrote and flushed the lock file.
bool AcquireSharedTosserLock(Os& os, const std::string& path, LockFailure* failure = nullptr);
// True when nothing was owned or the file this run created is gone. False
// when it is still there, or when the name now holds another file, which is
// left alone (`*replaced` then true).
bool ReleaseSharedTosserLock(bool* replaced = nullptr);
// The release, for the control handler: async-signal-safe, reports nothing.
void ConsoleControlHandler();
bool SharedTosserLockOwned();
// Owned, and the lock's name still refers to the file this run created.
bool SharedTosserLockIntact();
// The path the lock was created with; empty when not owned.
std::string SharedTosserLockPath();

}  // namespace twtrim
