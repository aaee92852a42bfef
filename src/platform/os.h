// The operating-system boundary. Everything above src/platform/ reaches files,
// directories, the console, the process list and the clock only through Os.
// PosixOs and Win32Os are the real implementations; tests wrap one in a
// fault-injecting Os to exercise every failure branch.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace twtrim {

// Why a call failed, as the system put it: the failing function, the name it
// was given, the system's error code and its words for it. Kept so that a
// verbose report can say why a step failed, not only that it did.
struct OsFailure {
  std::string call;      // "open", "rename"; "CreateFileA", "MoveFileExA"; empty: no failure
  std::string path;      // the name it was given ("from -> to" for a rename); may be empty
  std::string codeName;  // "errno" or "error"; empty when the system gave no code
  unsigned long code = 0;
  std::string text;  // the system's words for the code, one line
};

// One open file. Destroying it closes the handle if Close() was not called.
// Every method returns false when the system reports a failure.
class OsFile {
 public:
  virtual ~OsFile() = default;

  // Reads up to `count` bytes at the current position. `*got` is the number
  // actually read; 0 with a true result means end of file.
  virtual bool Read(void* buffer, uint32_t count, uint32_t* got) = 0;
  // Writes up to `count` bytes; `*put` is the number the system accepted.
  virtual bool Write(const void* buffer, uint32_t count, uint32_t* put) = 0;
  // Moves to a 64-bit offset from the start of the file.
  virtual bool Seek(uint64_t offset) = 0;
  // Moves to the end of the file (appending).
  virtual bool SeekToEnd() = 0;
  // The file's 64-bit size.
  virtual bool Size(uint64_t* size) = 0;
  // Forces written data to disk (FlushFileBuffers / fsync).
  virtual bool Flush() = 0;
  // Closes the handle; later calls on this object fail. The result tells
  // whether the system accepted the close.
  virtual bool Close() = 0;
  // The identity of the open file itself, whatever name it has now.
  virtual bool Identity(struct FileIdentity* identity) = 0;
  // Gives this (newly created) file the owner, group and permission bits of
  // the file at `originalPath` (POSIX fchown/fchmod; Windows: nothing to do,
  // new files inherit the directory's access rules).
  virtual bool CopyOwnerAndMode(const std::string& originalPath) = 0;
};

// Names one file on one volume (POSIX st_dev/st_ino; Windows volume serial
// number and file index), so a file replaced under the same name is told
// apart from the one a handle holds.
struct FileIdentity {
  uint64_t volume = 0;
  uint64_t file = 0;
  bool operator==(const FileIdentity&) const = default;
};

// kOther: something that is neither a regular file nor a directory (a FIFO,
// a device, a socket), which the program never opens as a file.
enum class PathKind { kMissing, kFile, kDirectory, kOther };

struct DirEntry {
  std::string name;  // bare name, no directory
  bool isDirectory = false;
};

struct LocalTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// One console input record, reduced to what the help pager needs.
struct KeyEvent {
  bool keyDown = false;      // false for key-up, mouse, focus or resize events
  uint16_t virtualKey = 0;   // Windows virtual-key code (27 Escape, 16-18 modifiers)
  char character = 0;        // the key's character, 0 when it has none
};

// Called from a signal or console-control thread: it may only do
// async-signal-safe work (the lock release).
using ControlHandler = void (*)();

class Os {
 public:
  virtual ~Os() = default;

  // --- files -------------------------------------------------------------
  // Existing file, read-only, sharing read, write and delete with others.
  virtual std::unique_ptr<OsFile> OpenSharedRead(const std::string& path) = 0;
  // Write-only, unshared, failing when the name exists in any form, a
  // symbolic link included, which is never followed (atomic create-new).
  virtual std::unique_ptr<OsFile> CreateNew(const std::string& path) = 0;
  // Write-only, others may read, created when missing (open-always); a
  // final symbolic link is never followed (POSIX).
  virtual std::unique_ptr<OsFile> OpenForAppend(const std::string& path) = 0;
  virtual bool DeleteFile(const std::string& path) = 0;

  // --- names -------------------------------------------------------------
  // kMissing also when the attributes cannot be read.
  virtual PathKind GetPathKind(const std::string& path) = 0;
  // The identity of the file a name refers to now (a final symbolic link is
  // not followed); false when it cannot be learned.
  virtual bool PathIdentity(const std::string& path, FileIdentity* identity) = 0;
  // The absolute form of `path` with ".", ".." and (POSIX) symbolic links
  // resolved, so two spellings of one place compare equal. The part of the
  // path that does not exist yet is appended as written, normalised.
  virtual bool FullPath(const std::string& path, std::string* full) = 0;
  // True when the system refuses `path` because of its length alone (a
  // Windows without long paths enabled): the caller says it is too long for
  // this system rather than missing. POSIX systems take every path the
  // program allows.
  virtual bool PathTooLong(const std::string& /*path*/) { return false; }
  // Replaces `to` by `from` in one rename that is on disk when it returns.
  virtual bool ReplaceRename(const std::string& from, const std::string& to) = 0;
  // Fails when the name exists already; the new name is on disk when it
  // returns.
  virtual bool CreateDirectory(const std::string& path) = 0;
  // Entries of one directory matching `pattern` (a path whose last component
  // may hold '*' wildcards, matched without regard to ASCII case), in the
  // order of ListedBefore (platform/listing_order.h). False when
  // the search cannot be made; an empty result is not a failure.
  virtual bool ListDirectory(const std::string& pattern,
                             std::vector<DirEntry>* entries) = 0;
  virtual bool CurrentDirectory(std::string* path) = 0;
  // Bytes an unprivileged writer may still use on the volume of `directory`.
  virtual bool FreeSpace(const std::string& directory, uint64_t* bytes) = 0;

  // --- processes, time ---------------------------------------------------
  // Executable file names (no directory) of every running process.
  virtual bool ListProcessNames(std::vector<std::string>* names) = 0;
  virtual LocalTime Now() = 0;

  // --- console -----------------------------------------------------------
  // Raw bytes to standard output; failures are ignored by design.
  virtual void WriteStdout(const char* data, size_t size) = 0;
  // Both standard input and standard output are an interactive console.
  virtual bool IsInteractiveConsole() = 0;
  // Visible window size; false when it cannot be learned.
  virtual bool ConsoleSize(int* rows, int* columns) = 0;
  // Blocks for the next console input record; false when reading fails.
  virtual bool ReadKeyEvent(KeyEvent* event) = 0;
  // Runs `handler` on interrupt, break, console close, log-off or shutdown;
  // the process then ends the way it would have without a handler.
  virtual void InstallControlHandler(ControlHandler handler) = 0;
  // Hold the control handler back while the caller changes the state it
  // reads (creating or releasing the lock file): an event in between is
  // handled once the hold ends, so it never finds that state half-made.
  // Pairs, not nested. The default does nothing.
  virtual void HoldControlEvents() {}
  virtual void ReleaseControlEvents() {}

  // --- process entry -----------------------------------------------------
  // The argument vector: entry 0 is the program name as typed; all of them,
  // however many (the option parser refuses more than it takes).
  virtual std::vector<std::string> CommandLineArguments() = 0;

  // --- failures ----------------------------------------------------------
  // The last failure of a call on this Os or on a file it opened, since
  // ForgetFailure; `call` is empty when there was none. A step forgets
  // before it starts, so what its error line shows is its own. Answers are
  // not failures: GetPathKind and PathIdentity keep nothing, nor does a
  // DeleteFile whose name is not there. Calls made by the control handler
  // keep nothing either: it may not allocate.
  virtual const OsFailure& LastFailure() const { return failure_; }
  virtual void ForgetFailure() { failure_ = OsFailure{}; }
  virtual void RememberFailure(OsFailure failure) { failure_ = std::move(failure); }

 private:
  OsFailure failure_;
};

// The real operating system of this build (PosixOs or Win32Os). POSIX takes
// its arguments from main's argv; Windows ignores them and splits
// GetCommandLineA itself.
std::unique_ptr<Os> CreateSystemOs(int argc, char** argv);

}  // namespace twtrim
