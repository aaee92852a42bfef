#include "platform/posix/posix_os.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <limits.h>
#include <stdlib.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "platform/bytes.h"
#include "platform/listing_order.h"

namespace twtrim {
namespace {

constexpr mode_t kNewFileMode = 0644;
constexpr mode_t kNewDirectoryMode = 0755;
// Longest path handed to the system; the program's own limit is 511.
constexpr size_t kSystemPathBuffer = 4096;

// Set while the control handler runs: its calls keep no failure, since
// keeping one allocates.
volatile sig_atomic_t g_inControlHandler = 0;

// Keeps the failure of `call` on `path` with the system's words for `code`;
// false, for the caller to return.
bool Keep(Os& os, const char* call, const std::string& path, int code) {
  if (g_inControlHandler == 0) {
    os.RememberFailure(
        {call, path, "errno", static_cast<unsigned long>(code), std::strerror(code)});
  }
  return false;
}

// A failure the system gave no code for.
bool KeepText(Os& os, const char* call, const std::string& path, const char* text) {
  if (g_inControlHandler == 0) os.RememberFailure({call, path, "", 0, text});
  return false;
}

// Copies `path` into `out` with every '\' turned into '/'. No allocation, so
// the signal path can use it. Fails, with errno set, on a path that does not
// fit or that holds a NUL byte (the system would see a different, shorter
// name).
bool ToSystemPath(const std::string& path, char (&out)[kSystemPathBuffer]) {
  const size_t size = path.size();
  if (size >= kSystemPathBuffer) {
    errno = ENAMETOOLONG;
    return false;
  }
  const char* in = path.data();
  for (size_t i = 0; i < size; ++i) {
    if (in[i] == '\0') {
      errno = EINVAL;
      return false;
    }
    out[i] = in[i] == '\\' ? '/' : in[i];
  }
  out[size] = '\0';
  return true;
}

FileIdentity IdentityOf(const struct stat& info) {
  FileIdentity identity;
  identity.volume = static_cast<uint64_t>(info.st_dev);
  identity.file = static_cast<uint64_t>(info.st_ino);
  return identity;
}

// A 32-bit system's ssize_t cannot report a transfer of 2 GiB or more, so a
// larger request becomes a short one, which every caller already handles.
uint32_t ClampToSsize(uint32_t count) {
  return static_cast<uint32_t>(std::min<uint64_t>(count, static_cast<uint64_t>(SSIZE_MAX)));
}

int OpenRetrying(const char* path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(path, flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// A closed file keeps fd_ -1, on which every call fails with EBADF.
class PosixFile : public OsFile {
 public:
  PosixFile(int fd, Os& os, std::string path) : fd_(fd), os_(os), path_(std::move(path)) {}
  ~PosixFile() override {
    if (fd_ >= 0) Close();
  }

  bool Read(void* buffer, uint32_t count, uint32_t* got) override {
    *got = 0;
    count = ClampToSsize(count);
    ssize_t n;
    do {
      n = ::read(fd_, buffer, count);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return Fail("read", errno);
    *got = static_cast<uint32_t>(n);
    return true;
  }

  bool Write(const void* buffer, uint32_t count, uint32_t* put) override {
    *put = 0;
    count = ClampToSsize(count);
    ssize_t n;
    do {
      n = ::write(fd_, buffer, count);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return Fail("write", errno);
    *put = static_cast<uint32_t>(n);
    return true;
  }

  bool Seek(uint64_t offset) override {
    if (offset > static_cast<uint64_t>(INT64_MAX)) return Fail("lseek", EINVAL);
    return ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) >= 0 || Fail("lseek", errno);
  }

  bool SeekToEnd() override {
    return ::lseek(fd_, 0, SEEK_END) >= 0 || Fail("lseek", errno);
  }

  bool Size(uint64_t* size) override {
    struct stat info;
    if (::fstat(fd_, &info) != 0) return Fail("fstat", errno);
    *size = static_cast<uint64_t>(info.st_size);
    return true;
  }

  bool Flush() override {
    return ::fsync(fd_) == 0 || Fail("fsync", errno);
  }

  bool Identity(FileIdentity* identity) override {
    struct stat info;
    if (::fstat(fd_, &info) != 0) return Fail("fstat", errno);
    *identity = IdentityOf(info);
    return true;
  }

  // Run as root, a pack must not leave the board's files owned by root and
  // readable by everyone: the copy takes the original's owner and mode.
  bool CopyOwnerAndMode(const std::string& originalPath) override {
    char name[kSystemPathBuffer];
    struct stat original;
    if (!ToSystemPath(originalPath, name) || ::stat(name, &original) != 0) {
      return Keep(os_, "stat", originalPath, errno);
    }
    struct stat mine;
    if (::fstat(fd_, &mine) != 0) return Fail("fstat", errno);
    if ((mine.st_uid != original.st_uid || mine.st_gid != original.st_gid) &&
        ::fchown(fd_, original.st_uid, original.st_gid) != 0) {
      return Fail("fchown", errno);
    }
    return ::fchmod(fd_, original.st_mode & 07777) == 0 || Fail("fchmod", errno);
  }

  // Async-signal-safe: the control handler closes the lock file with it.
  bool Close() override {
    const int fd = fd_;
    if (fd < 0) return Fail("close", EBADF);
    fd_ = -1;
    // Linux releases the descriptor even when close() is interrupted.
    return ::close(fd) == 0 || errno == EINTR || Fail("close", errno);
  }

 private:
  bool Fail(const char* call, int code) { return Keep(os_, call, path_, code); }

  int fd_;
  Os& os_;
  std::string path_;
};

std::unique_ptr<OsFile> OpenFile(Os& os, const std::string& path, int flags) {
  char name[kSystemPathBuffer];
  if (!ToSystemPath(path, name)) {
    Keep(os, "open", path, errno);
    return nullptr;
  }
  const int fd = OpenRetrying(name, flags, kNewFileMode);
  if (fd < 0) {
    Keep(os, "open", path, errno);
    return nullptr;
  }
  // Only plain files: a directory opens read-only on POSIX, and a FIFO or
  // device under a message-file name could block the run or feed it garbage.
  struct stat info;
  if (::fstat(fd, &info) != 0) {
    Keep(os, "fstat", path, errno);
  } else if (!S_ISREG(info.st_mode)) {
    KeepText(os, "open", path, "not a regular file");
  } else {
    return std::make_unique<PosixFile>(fd, os, path);
  }
  ::close(fd);
  return nullptr;
}

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Makes a rename in `directory` durable.
bool SyncDirectory(const std::string& directory) {
  const int fd = OpenRetrying(directory.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return false;
  const bool synced = ::fsync(fd) == 0;
  ::close(fd);
  return synced;
}

bool IsDirectoryEntry(int directoryFd, const struct dirent* entry) {
  if (entry->d_type == DT_DIR) return true;
  if (entry->d_type != DT_UNKNOWN && entry->d_type != DT_LNK) return false;
  struct stat info;
  return ::fstatat(directoryFd, entry->d_name, &info, 0) == 0 && S_ISDIR(info.st_mode);
}

// Reads up to `capacity` bytes of a small file such as /proc/<pid>/comm.
size_t ReadSmallFile(const std::string& path, char* buffer, size_t capacity) {
  const int fd = OpenRetrying(path.c_str(), O_RDONLY);
  if (fd < 0) return 0;
  size_t total = 0;
  while (total < capacity) {
    const ssize_t n = ::read(fd, buffer + total, capacity - total);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    total += static_cast<size_t>(n);
  }
  ::close(fd);
  return total;
}

bool IsAllDigits(const char* text) {
  if (*text == '\0') return false;
  for (; *text != '\0'; ++text) {
    if (*text < '0' || *text > '9') return false;
  }
  return true;
}

void AddUnique(std::vector<std::string>* names, std::string name) {
  if (!name.empty() && (names->empty() || names->back() != name)) {
    names->push_back(std::move(name));
  }
}

// The executable's name as the kernel keeps it (at most 15 characters) and
// the base name of argv[0], which shows the full name of a program run under
// Wine ("C:\...\VIZIZE32.EXE").
void AddProcessNames(const std::string& pid, std::vector<std::string>* names) {
  char buffer[4096];
  size_t size = ReadSmallFile("/proc/" + pid + "/comm", buffer, sizeof buffer);
  while (size > 0 && (buffer[size - 1] == '\n' || buffer[size - 1] == '\0')) --size;
  AddUnique(names, std::string(buffer, size));

  size = ReadSmallFile("/proc/" + pid + "/cmdline", buffer, sizeof buffer);
  const std::string_view command(buffer, strnlen(buffer, size));
  const size_t slash = command.find_last_of("/\\");
  AddUnique(names,
            std::string(slash == std::string_view::npos ? command : command.substr(slash + 1)));
}

// --- control handler ------------------------------------------------------

constexpr int kControlSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
volatile ControlHandler g_controlHandler = nullptr;

extern "C" void OnControlSignal(int signal) {
  const int savedErrno = errno;
  ControlHandler handler = g_controlHandler;
  g_inControlHandler = 1;
  if (handler != nullptr) handler();
  g_inControlHandler = 0;
  // Die of the signal, as without a handler: default action, then re-raise.
  // The signal is blocked while this runs and is delivered on return.
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  ::sigaction(signal, &action, nullptr);
  ::raise(signal);
  errno = savedErrno;
}

// --- console keys ---------------------------------------------------------

constexpr uint16_t kVirtualKeyEscape = 27;

// Windows-style virtual-key code of an ordinary byte, 0 when it has none.
uint16_t VirtualKeyOf(unsigned char c) {
  if (c >= 'a' && c <= 'z') return static_cast<uint16_t>(c - 'a' + 'A');
  if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ' ') return c;
  if (c == '\r' || c == '\n') return 13;
  if (c == '\t') return 9;
  if (c == 8 || c == 127) return 8;
  return 0;
}

// True when another byte arrives within `milliseconds`.
bool InputPending(int milliseconds) {
  struct pollfd input = {0, POLLIN, 0};
  int ready;
  do {
    ready = ::poll(&input, 1, milliseconds);
  } while (ready < 0 && errno == EINTR);
  return ready > 0 && (input.revents & POLLIN) != 0;
}

bool ReadByte(unsigned char* byte) {
  ssize_t n;
  do {
    n = ::read(0, byte, 1);
  } while (n < 0 && errno == EINTR);
  return n == 1;
}

// Puts the terminal in non-canonical, no-echo mode for one key and restores
// it on every path out.
class RawTerminal {
 public:
  RawTerminal() {
    if (::tcgetattr(0, &saved_) != 0) return;
    struct termios raw = saved_;
    // ISIG off too: the interrupt key comes back as a byte, the terminal is
    // restored first and then the signal is raised, so a Ctrl+C at the pager
    // never leaves the terminal without echo.
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO | ISIG));
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    active_ = ::tcsetattr(0, TCSANOW, &raw) == 0;
  }
  ~RawTerminal() { Restore(); }
  void Restore() {
    if (active_) ::tcsetattr(0, TCSANOW, &saved_);
    active_ = false;
  }
  bool active() const { return active_; }
  // The signal this byte raises in the normal terminal mode, or 0.
  int SignalFor(unsigned char c) const {
    if ((saved_.c_lflag & ISIG) == 0 || c == _POSIX_VDISABLE) return 0;
    if (c == saved_.c_cc[VINTR]) return SIGINT;
    if (c == saved_.c_cc[VQUIT]) return SIGQUIT;
    return 0;
  }

 private:
  struct termios saved_ {};
  bool active_ = false;
};

// Case-insensitive match of a name against a pattern whose only wildcard is
// '*' (any run of characters, also none).
bool WildcardMatch(std::string_view pattern, std::string_view name) {
  // Greedy match with backtracking to the last '*'.
  size_t p = 0, n = 0, starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (p < pattern.size() && FoldCase(pattern[p]) == FoldCase(name[n])) {
      ++p;
      ++n;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace

PosixOs::PosixOs(int argc, char** argv) {
  sigemptyset(&heldMask_);
  // Every argument is kept: the option parser refuses more than it takes,
  // rather than lose the surplus without a word.
  for (int i = 0; i < argc; ++i) {
    arguments_.emplace_back(argv[i] != nullptr ? argv[i] : "");
  }
}

std::unique_ptr<OsFile> PosixOs::OpenSharedRead(const std::string& path) {
  return OpenFile(*this, path, O_RDONLY | O_NONBLOCK);
}

// O_EXCL never follows a symbolic link, not even a dangling one; O_NOFOLLOW
// says so once more for systems that bend the rule.
std::unique_ptr<OsFile> PosixOs::CreateNew(const std::string& path) {
  return OpenFile(*this, path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW);
}

// O_APPEND: with no sharing modes to keep a second run out of the report
// file, every write must land at the end of the file as it is then, never
// over another run's lines.
std::unique_ptr<OsFile> PosixOs::OpenForAppend(const std::string& path) {
  // O_NONBLOCK: a FIFO put in the report file's place fails at once instead
  // of waiting forever for a reader; on a regular file it changes nothing.
  // O_NOFOLLOW: a link planted under the report's name would have a run from
  // root's crontab append to whatever file it names.
  return OpenFile(*this, path, O_WRONLY | O_CREAT | O_APPEND | O_NONBLOCK | O_NOFOLLOW);
}

bool PosixOs::DeleteFile(const std::string& path) {
  char name[kSystemPathBuffer];
  if (ToSystemPath(path, name) && ::unlink(name) == 0) return true;
  // A name that is not there is an answer, not a failure.
  return errno == ENOENT || errno == ENOTDIR ? false : Keep(*this, "unlink", path, errno);
}

PathKind PosixOs::GetPathKind(const std::string& path) {
  char name[kSystemPathBuffer];
  struct stat info;
  if (!ToSystemPath(path, name) || ::stat(name, &info) != 0) return PathKind::kMissing;
  if (S_ISDIR(info.st_mode)) return PathKind::kDirectory;
  return S_ISREG(info.st_mode) ? PathKind::kFile : PathKind::kOther;
}

bool PosixOs::PathIdentity(const std::string& path, FileIdentity* identity) {
  char name[kSystemPathBuffer];
  struct stat info;
  if (!ToSystemPath(path, name) || ::lstat(name, &info) != 0) return false;
  *identity = IdentityOf(info);
  return true;
}

// Component by component from the root, each existing prefix through
// realpath(), so a link anywhere is followed and ".." after a link leaves
// the link's target, as the system itself would. Once a component is
// missing, what follows holds no link and is normalised as text.
bool PosixOs::FullPath(const std::string& path, std::string* full) {
  char name[kSystemPathBuffer];
  if (!ToSystemPath(path, name)) return Keep(*this, "realpath", path, errno);
  std::string pending = name;
  if (pending.empty() || pending[0] != '/') {
    char current[kSystemPathBuffer];
    if (::getcwd(current, sizeof current) == nullptr) return Keep(*this, "getcwd", "", errno);
    pending = std::string(current) + "/" + pending;
  }
  std::string result = "/";
  char resolved[PATH_MAX];
  for (size_t begin = 0; begin < pending.size();) {
    const size_t slash = std::min(pending.find('/', begin), pending.size());
    const std::string part = pending.substr(begin, slash - begin);
    begin = slash + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      result = DirectoryOf(result);
      continue;
    }
    result += (result == "/" ? "" : "/") + part;
    if (::realpath(result.c_str(), resolved) != nullptr) result = resolved;
  }
  *full = result;
  return true;
}

bool PosixOs::ReplaceRename(const std::string& from, const std::string& to) {
  char source[kSystemPathBuffer], target[kSystemPathBuffer];
  if (!ToSystemPath(from, source) || !ToSystemPath(to, target) || ::rename(source, target) != 0) {
    const int code = errno;
    return Keep(*this, "rename", from + " -> " + to, code);
  }
  // Write the directory entries through. Once the rename has happened it is
  // reported as done even if a sync fails: the caller must never believe the
  // old file is still in place when it is not.
  const std::string targetDirectory = DirectoryOf(target);
  const std::string sourceDirectory = DirectoryOf(source);
  SyncDirectory(targetDirectory);
  if (sourceDirectory != targetDirectory) SyncDirectory(sourceDirectory);
  return true;
}

bool PosixOs::CreateDirectory(const std::string& path) {
  char name[kSystemPathBuffer];
  if (!ToSystemPath(path, name) || ::mkdir(name, kNewDirectoryMode) != 0) {
    return Keep(*this, "mkdir", path, errno);
  }
  SyncDirectory(DirectoryOf(name));
  return true;
}

bool PosixOs::ListDirectory(const std::string& pattern, std::vector<DirEntry>* entries) {
  entries->clear();
  char name[kSystemPathBuffer];
  if (!ToSystemPath(pattern, name)) return Keep(*this, "opendir", pattern, errno);
  const std::string full(name);
  const size_t slash = full.find_last_of('/');
  const std::string directory = DirectoryOf(full);
  const std::string wildcard = slash == std::string::npos ? full : full.substr(slash + 1);

  DIR* listing = ::opendir(directory.c_str());
  if (listing == nullptr) return Keep(*this, "opendir", directory, errno);
  while (const struct dirent* entry = ::readdir(listing)) {
    const std::string_view entryName(entry->d_name);
    if (entryName == "." || entryName == "..") continue;
    if (!WildcardMatch(wildcard, entryName)) continue;
    entries->push_back({std::string(entryName), IsDirectoryEntry(::dirfd(listing), entry)});
  }
  ::closedir(listing);
  // Not the file system's hash order: reports must be deterministic.
  std::sort(entries->begin(), entries->end(),
            [](const DirEntry& a, const DirEntry& b) { return ListedBefore(a.name, b.name); });
  return true;
}

bool PosixOs::CurrentDirectory(std::string* path) {
  char buffer[512];
  if (::getcwd(buffer, sizeof buffer) == nullptr) return Keep(*this, "getcwd", "", errno);
  *path = buffer;
  return true;
}

bool PosixOs::FreeSpace(const std::string& directory, uint64_t* bytes) {
  char name[kSystemPathBuffer];
  struct statvfs info;
  if (!ToSystemPath(directory, name) || ::statvfs(name, &info) != 0) {
    return Keep(*this, "statvfs", directory, errno);
  }
  *bytes = static_cast<uint64_t>(info.f_bavail) * static_cast<uint64_t>(info.f_frsize);
  return true;
}

bool PosixOs::ListProcessNames(std::vector<std::string>* names) {
  names->clear();
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return Keep(*this, "opendir", "/proc", errno);
  bool anyProcess = false;
  while (const struct dirent* entry = ::readdir(proc)) {
    if (!IsAllDigits(entry->d_name)) continue;
    anyProcess = true;
    AddProcessNames(entry->d_name, names);
  }
  ::closedir(proc);
  // An empty /proc (not mounted) lists not even this process: that is no
  // proof that the tosser is absent.
  return anyProcess || KeepText(*this, "readdir", "/proc", "no process listed");
}

LocalTime PosixOs::Now() {
  const time_t now = ::time(nullptr);
  struct tm local;
  LocalTime result;
  if (::localtime_r(&now, &local) == nullptr) return result;
  result.year = local.tm_year + 1900;
  result.month = local.tm_mon + 1;
  result.day = local.tm_mday;
  result.hour = local.tm_hour;
  result.minute = local.tm_min;
  result.second = std::min(local.tm_sec, 59);  // a leap second shows as :59
  return result;
}

void PosixOs::WriteStdout(const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(1, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // errors are ignored by design
    data += n;
    size -= static_cast<size_t>(n);
  }
}

bool PosixOs::IsInteractiveConsole() { return ::isatty(0) == 1 && ::isatty(1) == 1; }

bool PosixOs::ConsoleSize(int* rows, int* columns) {
  struct winsize size;
  if (::ioctl(1, TIOCGWINSZ, &size) != 0 || size.ws_row == 0 || size.ws_col == 0) return false;
  *rows = size.ws_row;
  *columns = size.ws_col;
  return true;
}

bool PosixOs::ReadKeyEvent(KeyEvent* event) {
  *event = KeyEvent{};
  RawTerminal terminal;
  if (!terminal.active()) return false;
  unsigned char byte;
  if (!ReadByte(&byte)) return false;
  if (const int signal = terminal.SignalFor(byte)) {
    terminal.Restore();
    ::raise(signal);
    return false;  // the signal is ignored here: carry on as after a key
  }
  event->keyDown = true;
  if (byte != kVirtualKeyEscape) {
    event->virtualKey = VirtualKeyOf(byte);
    event->character = static_cast<char>(byte);
    return true;
  }
  // ESC alone is Escape. ESC with more bytes right behind it is an arrow
  // or function key: swallow the sequence and report an ordinary key.
  if (!InputPending(25)) {
    event->virtualKey = kVirtualKeyEscape;
    return true;
  }
  while (InputPending(0) && ReadByte(&byte)) {
  }
  return true;
}

void PosixOs::InstallControlHandler(ControlHandler handler) {
  g_controlHandler = handler;
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = OnControlSignal;
  sigemptyset(&action.sa_mask);
  // One release at a time: the other control signals wait for this one.
  for (int signal : kControlSignals) sigaddset(&action.sa_mask, signal);
  for (int signal : kControlSignals) {
    struct sigaction previous;
    // A signal the caller chose to ignore (nohup, a background job) stays
    // ignored: the run must not start dying of it.
    if (::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
    ::sigaction(signal, &action, nullptr);
  }
}

void PosixOs::HoldControlEvents() {
  sigset_t control;
  sigemptyset(&control);
  for (int signal : kControlSignals) sigaddset(&control, signal);
  ::sigprocmask(SIG_BLOCK, &control, &heldMask_);
}

void PosixOs::ReleaseControlEvents() { ::sigprocmask(SIG_SETMASK, &heldMask_, nullptr); }

std::vector<std::string> PosixOs::CommandLineArguments() { return arguments_; }

// Started with standard input, output or error closed, the first file the
// program opens would take that descriptor and receive the report: each
// closed one is pointed at /dev/null before any file is opened.
void OpenStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    // The lowest free descriptor is `fd` itself.
    const int opened = ::open("/dev/null", O_RDWR);
    if (opened > 2) ::close(opened);
  }
}

std::unique_ptr<Os> CreateSystemOs(int argc, char** argv) {
  OpenStandardDescriptors();
  // A reader that goes away (`twtrim32 ... | head`) must not end a write
  // halfway: output failures are ignored, so the signal is too.
  ::signal(SIGPIPE, SIG_IGN);
  return std::make_unique<PosixOs>(argc, argv);
}

}  // namespace twtrim
