#include "safety/tosser_lock.h"

#include <atomic>
#include <cstring>

#include "platform/file_io.h"
#include "platform/paths.h"

namespace twtrim {
namespace {

constexpr uint32_t kLockFileSize = sizeof(kLockFileText) - 1;

// The process-wide lock state. The control handler may run at any moment on
// another thread (Windows) or on top of the main thread (POSIX signal), so it
// touches nothing until it has won `owned` in one atomic exchange, and then
// neither allocates nor frees: it compares identities, closes the file object
// and deletes the path, all prepared by the main thread. The closed object is
// freed later by the main thread.
std::atomic<int> owned{0};
std::atomic<bool> handlerDone{false};
OsFile* handle = nullptr;
Os* lockOs = nullptr;
char storedPath[kMaxPath + 1] = {};
// The same path as a ready-made argument for Os calls, so that the handler
// never builds a string.
std::string deletePath;
// What the handle held right after creation: the name must still refer to it
// before anything is deleted by that name.
FileIdentity createdIdentity;

enum class Outcome { kRemoved, kNotRemoved, kReplaced };

void ClearStoredPath() { storedPath[0] = '\0'; }

// Whether the lock's name refers to the file this run created. Only an
// lstat-like call: safe in a signal handler.
bool NameIsOurs(bool* named) {
  FileIdentity now;
  *named = lockOs->PathIdentity(deletePath, &now);
  return *named && now == createdIdentity;
}

// Closes and deletes; the caller has just taken ownership. The name is
// checked while the handle still pins the file, so its identity cannot have
// been handed to another file. A failed close is judged by the delete: what
// counts is whether our file is gone.
Outcome CloseAndDelete() {
  bool named = false;
  const bool ours = storedPath[0] != '\0' && NameIsOurs(&named);
  if (handle != nullptr) handle->Close();
  Outcome outcome = Outcome::kNotRemoved;
  if (ours) {
    const bool deleted = lockOs->DeleteFile(deletePath);
    outcome = deleted || !NameIsOurs(&named) ? Outcome::kRemoved : Outcome::kNotRemoved;
  } else if (named) {
    outcome = Outcome::kReplaced;
  }
  ClearStoredPath();
  return outcome;
}

// Frees the file object the handler left closed. Main thread only, and only
// once the handler is known to have finished with it.
void FreeClosedHandle() {
  if (owned.load() == 0 && handle != nullptr && handlerDone.load()) {
    delete handle;
    handle = nullptr;
  }
}

// The control handler is held back from taking ownership to the delete: an
// interrupt in between would end the process with the file still there.
Outcome ReleaseOnMainThread() {
  Os* os = owned.load() != 0 ? lockOs : nullptr;
  if (os != nullptr) os->HoldControlEvents();
  Outcome outcome = Outcome::kRemoved;
  if (owned.exchange(0) == 0) {
    FreeClosedHandle();
  } else {
    outcome = CloseAndDelete();
    delete handle;
    handle = nullptr;
  }
  if (os != nullptr) os->ReleaseControlEvents();
  return outcome;
}

// A lock whose identity cannot be learned cannot be proved ours later, so it
// is given up at once, while nothing else can have replaced it.
bool TakeIdentity(Os& os, OsFile& file, const std::string& path, LockFailure* failure) {
  if (file.Identity(&createdIdentity)) return true;
  file.Close();
  const bool removed = os.DeleteFile(path);
  if (failure != nullptr)
    *failure = removed ? LockFailure::kUnwritten : LockFailure::kUnwrittenLeft;
  return false;
}

}  // namespace

bool AcquireSharedTosserLock(Os& os, const std::string& path, LockFailure* failure) {
  if (failure != nullptr) *failure = LockFailure::kNotCreated;
  if (owned.load() != 0) return false;
  FreeClosedHandle();
  if (path.size() > kMaxPath) {
    ClearStoredPath();
    return false;
  }
  std::memcpy(storedPath, path.c_str(), path.size() + 1);
  // Held from the creation until ownership is recorded: an interrupt in
  // between would end the process with a lock file that nobody removes.
  os.HoldControlEvents();
  std::unique_ptr<OsFile> file = os.CreateNew(path);
  if (!file || !TakeIdentity(os, *file, path, failure)) {
    os.ReleaseControlEvents();
    ClearStoredPath();
    return false;
  }
  deletePath = path;
  lockOs = &os;
  handle = file.release();
  handlerDone.store(false);
  owned.store(1);
  os.ReleaseControlEvents();
  if (!WriteExact(*handle, kLockFileText, kLockFileSize) || !handle->Flush()) {
    const bool removed = ReleaseOnMainThread() == Outcome::kRemoved;
    if (failure != nullptr)
      *failure = removed ? LockFailure::kUnwritten : LockFailure::kUnwrittenLeft;
    return false;
  }
  return true;
}

bool ReleaseSharedTosserLock(bool* replaced) {
  const Outcome outcome = ReleaseOnMainThread();
  if (replaced != nullptr) *replaced = outcome == Outcome::kReplaced;
  return outcome == Outcome::kRemoved;
}

void ConsoleControlHandler() {
  if (owned.exchange(0) == 1) CloseAndDelete();
  handlerDone.store(true);
}

bool SharedTosserLockOwned() { return owned.load() != 0; }

bool SharedTosserLockIntact() {
  if (owned.load() == 0) return false;
  bool named = false;
  return NameIsOurs(&named);
}

std::string SharedTosserLockPath() { return owned.load() != 0 ? storedPath : std::string(); }

}  // namespace twtrim
