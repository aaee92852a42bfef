// The shared tosser lock: VIZIZE.BSY in the message directory, created
// atomically, held open unshared for the whole run and deleted at its end.
// While it exists the mail tosser and any second run stay out.
//
// The lock state is process-wide because the control handler, which the
// system runs on a thread (Windows) or in a signal handler (POSIX), must
// reach it without arguments. Whichever of the handler and the main thread
// takes ownership first, in one atomic exchange, closes and deletes the file.
#pragma once

#include <string>

#include "platform/os.h"

namespace twtrim {

// The line written into the lock file (56 bytes with its CR LF).
inline constexpr char kLockFileText[] =
    "TWTRIM32 0.6.0-beta1 active - shared message-base lock\r\n";

// 1 when this run created, wrote and flushed the lock file.
bool AcquireSharedTosserLock(Os& os, const std::string& path);
// True when nothing was owned or the file was closed and deleted.
bool ReleaseSharedTosserLock();
// The release, for the control handler: async-signal-safe, reports nothing.
void ConsoleControlHandler();
bool SharedTosserLockOwned();
// The path the lock was created with; empty when not owned.
std::string SharedTosserLockPath();

}  // namespace twtrim
