#include "safety/tosser_lock.h"

#include <atomic>
#include <cstring>

#include "platform/file_io.h"
#include "report/paths.h"

namespace twtrim {
namespace {

constexpr uint32_t kLockFileSize = sizeof(kLockFileText) - 1;
static_assert(kLockFileSize == 56);

// The process-wide lock state. The control handler may run at any moment on
// another thread (Windows) or on top of the main thread (POSIX signal), so it
// touches nothing until it has won `owned` in one atomic exchange, and then
// neither allocates nor frees: it closes the file object and deletes the
// path, both prepared by the main thread. The closed object is freed later
// by the main thread.
std::atomic<int> owned{0};
std::atomic<bool> handlerDone{false};
OsFile* handle = nullptr;
Os* lockOs = nullptr;
char storedPath[kMaxPath + 1] = {};
// The same path as a ready-made argument for Os::DeleteFile, so that the
// handler never builds a string.
std::string deletePath;

void ClearStoredPath() { storedPath[0] = '\0'; }

// Closes and deletes; the caller has just taken ownership.
bool CloseAndDelete() {
  bool result = true;
  if (handle != nullptr) result = handle->Close();
  if (storedPath[0] != '\0' && !lockOs->DeleteFile(deletePath)) result = false;
  ClearStoredPath();
  return result;
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
bool ReleaseOnMainThread() {
  Os* os = owned.load() != 0 ? lockOs : nullptr;
  if (os != nullptr) os->HoldControlEvents();
  bool result = true;
  if (owned.exchange(0) == 0) {
    FreeClosedHandle();
  } else {
    result = CloseAndDelete();
    delete handle;
    handle = nullptr;
  }
  if (os != nullptr) os->ReleaseControlEvents();
  return result;
}

}  // namespace

bool AcquireSharedTosserLock(Os& os, const std::string& path) {
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
  if (!file) {
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
    ReleaseOnMainThread();
    return false;
  }
  return true;
}

bool ReleaseSharedTosserLock() { return ReleaseOnMainThread(); }

void ConsoleControlHandler() {
  if (owned.exchange(0) == 1) CloseAndDelete();
  handlerDone.store(true);
}

bool SharedTosserLockOwned() { return owned.load() != 0; }

std::string SharedTosserLockPath() { return owned.load() != 0 ? storedPath : std::string(); }

}  // namespace twtrim
