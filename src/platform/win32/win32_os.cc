// <windows.h> comes first and its DeleteFile and CreateDirectory macros are
// dropped before the Os declarations are seen; the A functions are named
// explicitly below.
#include <windows.h>
// Needs the types of <windows.h>.
#include <tlhelp32.h>
#undef DeleteFile
#undef CreateDirectory

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <utility>

#include "platform/command_line.h"
#include "platform/listing_order.h"
#include "platform/win32/win32_os.h"

namespace twtrim {
namespace {

// Set while the console-control thread runs the handler: its calls keep no
// failure, since keeping one allocates.
std::atomic<bool> g_inControlHandler{false};

// The system's words for `code`, on one line, without the closing period.
std::string SystemText(DWORD code) {
  char buffer[512];
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, code, 0, buffer, sizeof buffer, nullptr);
  std::string text(buffer, length);
  for (char& c : text) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '.')) text.pop_back();
  return text.empty() ? "unknown error" : text;
}

// Keeps the failure of `call` on `path` with the system's words for `code`;
// false, for the caller to return.
bool Keep(Os& os, const char* call, const std::string& path, DWORD code) {
  if (!g_inControlHandler.load()) os.RememberFailure({call, path, "error", code, SystemText(code)});
  return false;
}

// A path with a NUL byte would reach the system as a different, shorter name.
bool UsablePath(const std::string& path) {
  if (path.find('\0') == std::string::npos) return true;
  SetLastError(ERROR_INVALID_NAME);
  return false;
}

bool ValidHandle(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

// SetFilePointer with the high part; all ones is a legitimate low half, so
// failure is that value together with a last error.
bool MoveFilePointer(HANDLE handle, uint64_t offset, DWORD method) {
  if (offset > static_cast<uint64_t>(INT64_MAX)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  LONG high = static_cast<LONG>(offset >> 32);
  const LONG low = static_cast<LONG>(static_cast<DWORD>(offset & 0xFFFFFFFFu));
  SetLastError(NO_ERROR);
  const DWORD result = SetFilePointer(handle, low, &high, method);
  return result != INVALID_SET_FILE_POINTER || GetLastError() == NO_ERROR;
}

bool IdentityOfHandle(HANDLE handle, FileIdentity* identity) {
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileInformationByHandle(handle, &info) == FALSE) return false;
  identity->volume = info.dwVolumeSerialNumber;
  identity->file = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}

class Win32File : public OsFile {
 public:
  Win32File(HANDLE handle, Os& os, std::string path)
      : handle_(handle), os_(os), path_(std::move(path)) {}
  ~Win32File() override {
    if (ValidHandle(handle_)) Close();
  }

  bool Read(void* buffer, uint32_t count, uint32_t* got) override {
    DWORD n = 0;
    *got = 0;
    if (!ValidHandle(handle_)) return Fail("ReadFile", ERROR_INVALID_HANDLE);
    if (!ReadFile(handle_, buffer, count, &n, nullptr)) return Fail("ReadFile", GetLastError());
    *got = n;
    return true;
  }

  bool Write(const void* buffer, uint32_t count, uint32_t* put) override {
    DWORD n = 0;
    *put = 0;
    if (!ValidHandle(handle_)) return Fail("WriteFile", ERROR_INVALID_HANDLE);
    if (!WriteFile(handle_, buffer, count, &n, nullptr)) return Fail("WriteFile", GetLastError());
    *put = n;
    return true;
  }

  bool Seek(uint64_t offset) override { return MovePointer(offset, FILE_BEGIN); }

  bool SeekToEnd() override { return MovePointer(0, FILE_END); }

  bool Size(uint64_t* size) override {
    if (!ValidHandle(handle_)) return Fail("GetFileSize", ERROR_INVALID_HANDLE);
    DWORD high = 0;
    SetLastError(NO_ERROR);
    const DWORD low = GetFileSize(handle_, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
      return Fail("GetFileSize", GetLastError());
    }
    *size = (static_cast<uint64_t>(high) << 32) | low;
    return true;
  }

  bool Flush() override {
    if (!ValidHandle(handle_)) return Fail("FlushFileBuffers", ERROR_INVALID_HANDLE);
    return FlushFileBuffers(handle_) != FALSE || Fail("FlushFileBuffers", GetLastError());
  }

  bool Identity(FileIdentity* identity) override {
    if (!ValidHandle(handle_)) return Fail("GetFileInformationByHandle", ERROR_INVALID_HANDLE);
    return IdentityOfHandle(handle_, identity) ||
           Fail("GetFileInformationByHandle", GetLastError());
  }

  // A new file inherits the access rules of its directory, as the original did.
  bool CopyOwnerAndMode(const std::string& /*originalPath*/) override {
    return ValidHandle(handle_) || Fail("CopyOwnerAndMode", ERROR_INVALID_HANDLE);
  }

  // Runs on the console-control thread for the lock: no allocation.
  bool Close() override {
    const HANDLE handle = handle_;
    if (!ValidHandle(handle)) return Fail("CloseHandle", ERROR_INVALID_HANDLE);
    handle_ = INVALID_HANDLE_VALUE;
    return CloseHandle(handle) != FALSE || Fail("CloseHandle", GetLastError());
  }

 private:
  bool Fail(const char* call, DWORD code) { return Keep(os_, call, path_, code); }
  bool MovePointer(uint64_t offset, DWORD method) {
    if (!ValidHandle(handle_)) return Fail("SetFilePointer", ERROR_INVALID_HANDLE);
    return MoveFilePointer(handle_, offset, method) || Fail("SetFilePointer", GetLastError());
  }

  HANDLE handle_;
  Os& os_;
  std::string path_;
};

std::unique_ptr<OsFile> OpenFile(Os& os, const std::string& path, DWORD access, DWORD sharing,
                                 DWORD disposition) {
  const HANDLE handle = UsablePath(path) ? CreateFileA(path.c_str(), access, sharing, nullptr,
                                                       disposition, FILE_ATTRIBUTE_NORMAL, nullptr)
                                         : INVALID_HANDLE_VALUE;
  if (handle == INVALID_HANDLE_VALUE) {
    Keep(os, "CreateFileA", path, GetLastError());
    return nullptr;
  }
  return std::make_unique<Win32File>(handle, os, path);
}

// "\\?\C:\TW" and "\\?\UNC\server\share" are other spellings of "C:\TW" and
// "\\server\share", which GetFullPathNameA would return unchanged.
std::string WithoutLongPrefix(const std::string& path) {
  if (path.rfind("\\\\?\\UNC\\", 0) == 0) return "\\\\" + path.substr(8);
  if (path.rfind("\\\\?\\", 0) == 0) return path.substr(4);
  return path;
}

// Whether `path` names something when asked through the wide "\\?\" form,
// which no path length limit applies to.
bool ExistsByLongName(const std::string& path) {
  const int size = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
  if (size <= 0) return false;
  std::wstring wide(static_cast<size_t>(size), L'\0');
  if (MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide.data(), size) != size) return false;
  const DWORD capacity = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (capacity == 0) return false;
  std::wstring full(capacity, L'\0');
  const DWORD length = GetFullPathNameW(wide.c_str(), capacity, full.data(), nullptr);
  if (length == 0 || length >= capacity) return false;
  full.resize(length);
  if (full.rfind(L"\\\\?\\", 0) != 0) {
    full = full.rfind(L"\\\\", 0) == 0 ? L"\\\\?\\UNC\\" + full.substr(2) : L"\\\\?\\" + full;
  }
  return GetFileAttributesW(full.c_str()) != INVALID_FILE_ATTRIBUTES;
}

volatile ControlHandler g_controlHandler = nullptr;
// Set while the main thread changes what the handler reads.
std::atomic<bool> g_controlHeld{false};

// Every console event alike; FALSE lets the system's default handling end
// the process after the handler has run. The handler runs on a thread of its
// own, so it waits out a hold (a few file calls) by spinning rather than
// letting the process end in the middle of it.
BOOL WINAPI ControlTrampoline(DWORD /*event*/) {
  while (g_controlHeld.load()) YieldProcessor();
  const ControlHandler handler = g_controlHandler;
  g_inControlHandler.store(true);
  if (handler != nullptr) handler();
  g_inControlHandler.store(false);
  return FALSE;
}

}  // namespace

std::unique_ptr<OsFile> Win32Os::OpenSharedRead(const std::string& path) {
  return OpenFile(*this, path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  OPEN_EXISTING);
}

std::unique_ptr<OsFile> Win32Os::CreateNew(const std::string& path) {
  return OpenFile(*this, path, GENERIC_WRITE, 0, CREATE_NEW);
}

std::unique_ptr<OsFile> Win32Os::OpenForAppend(const std::string& path) {
  // OPEN_ALWAYS sets ERROR_ALREADY_EXISTS on success; start from a clean slate.
  SetLastError(NO_ERROR);
  return OpenFile(*this, path, GENERIC_WRITE, FILE_SHARE_READ, OPEN_ALWAYS);
}

namespace {

constexpr int kBusyRetries = 20;
constexpr DWORD kBusyRetryMilliseconds = 100;

// Scanners, indexers and backup agents open files for a moment without
// delete sharing; a rename or delete that meets one is tried again for
// about two seconds before it counts as failed.
template <typename Attempt>
bool RetryWhileBusy(Attempt attempt) {
  for (int retry = 0;; ++retry) {
    if (attempt()) return true;
    const DWORD error = GetLastError();
    const bool busy = error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
                      error == ERROR_LOCK_VIOLATION;
    if (!busy || retry == kBusyRetries) return false;
    Sleep(kBusyRetryMilliseconds);
  }
}

}  // namespace

bool Win32Os::DeleteFile(const std::string& path) {
  if (UsablePath(path) && RetryWhileBusy([&] { return DeleteFileA(path.c_str()) != FALSE; })) {
    return true;
  }
  // A name that is not there is an answer, not a failure.
  const DWORD code = GetLastError();
  const bool absent = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
  return absent ? false : Keep(*this, "DeleteFileA", path, code);
}

PathKind Win32Os::GetPathKind(const std::string& path) {
  if (!UsablePath(path)) return PathKind::kMissing;
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::kMissing;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return PathKind::kDirectory;
  return (attributes & FILE_ATTRIBUTE_DEVICE) != 0 ? PathKind::kOther : PathKind::kFile;
}

bool Win32Os::PathIdentity(const std::string& path, FileIdentity* identity) {
  if (!UsablePath(path)) return false;
  // No access rights asked for: reading the identity must not disturb a
  // process that holds the file.
  const HANDLE handle =
      CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const bool known = IdentityOfHandle(handle, identity);
  CloseHandle(handle);
  return known;
}

bool Win32Os::FullPath(const std::string& path, std::string* full) {
  if (!UsablePath(path)) return Keep(*this, "GetFullPathNameA", path, GetLastError());
  char buffer[MAX_PATH * 4];
  const DWORD length =
      GetFullPathNameA(WithoutLongPrefix(path).c_str(), sizeof buffer, buffer, nullptr);
  if (length == 0) return Keep(*this, "GetFullPathNameA", path, GetLastError());
  if (length >= sizeof buffer) {
    return Keep(*this, "GetFullPathNameA", path, ERROR_FILENAME_EXCED_RANGE);
  }
  full->assign(buffer, length);
  return true;
}

// A Windows without long paths enabled refuses a name past MAX_PATH before
// looking for it: ERROR_FILENAME_EXCED_RANGE, or ERROR_PATH_NOT_FOUND for
// something the unlimited wide form finds.
bool Win32Os::PathTooLong(const std::string& path) {
  if (!UsablePath(path) || GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
    return false;
  }
  const DWORD error = GetLastError();
  return error == ERROR_FILENAME_EXCED_RANGE ||
         (error == ERROR_PATH_NOT_FOUND && path.size() >= MAX_PATH && ExistsByLongName(path));
}

bool Win32Os::ReplaceRename(const std::string& from, const std::string& to) {
  if (UsablePath(from) && UsablePath(to) && RetryWhileBusy([&] {
        return MoveFileExA(from.c_str(), to.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
      })) {
    return true;
  }
  const DWORD code = GetLastError();
  return Keep(*this, "MoveFileExA", from + " -> " + to, code);
}

bool Win32Os::CreateDirectory(const std::string& path) {
  return (UsablePath(path) && CreateDirectoryA(path.c_str(), nullptr) != FALSE) ||
         Keep(*this, "CreateDirectoryA", path, GetLastError());
}

bool Win32Os::FreeSpace(const std::string& directory, uint64_t* bytes) {
  ULARGE_INTEGER available;
  if (!UsablePath(directory) ||
      GetDiskFreeSpaceExA(directory.c_str(), &available, nullptr, nullptr) == FALSE) {
    return Keep(*this, "GetDiskFreeSpaceExA", directory, GetLastError());
  }
  *bytes = available.QuadPart;
  return true;
}

bool Win32Os::ListDirectory(const std::string& pattern, std::vector<DirEntry>* entries) {
  entries->clear();
  WIN32_FIND_DATAA found;
  const HANDLE search =
      UsablePath(pattern) ? FindFirstFileA(pattern.c_str(), &found) : INVALID_HANDLE_VALUE;
  if (search == INVALID_HANDLE_VALUE) {
    // No match in an existing directory is an empty result, not a failure.
    const DWORD code = GetLastError();
    return code == ERROR_FILE_NOT_FOUND || Keep(*this, "FindFirstFileA", pattern, code);
  }
  do {
    if (std::strcmp(found.cFileName, ".") == 0 || std::strcmp(found.cFileName, "..") == 0) {
      continue;
    }
    entries->push_back({found.cFileName, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
  } while (FindNextFileA(search, &found));
  const DWORD code = GetLastError();
  const bool complete = code == ERROR_NO_MORE_FILES;
  FindClose(search);
  if (!complete) Keep(*this, "FindNextFileA", pattern, code);
  // NTFS lists in this order already; FAT, network and other volumes do not.
  std::sort(entries->begin(), entries->end(),
            [](const DirEntry& a, const DirEntry& b) { return ListedBefore(a.name, b.name); });
  return complete;
}

bool Win32Os::CurrentDirectory(std::string* path) {
  char buffer[512];
  const DWORD length = GetCurrentDirectoryA(sizeof buffer, buffer);
  if (length == 0) return Keep(*this, "GetCurrentDirectoryA", "", GetLastError());
  if (length >= sizeof buffer) {
    return Keep(*this, "GetCurrentDirectoryA", "", ERROR_INSUFFICIENT_BUFFER);
  }
  path->assign(buffer, length);
  return true;
}

bool Win32Os::ListProcessNames(std::vector<std::string>* names) {
  names->clear();
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) {
    return Keep(*this, "CreateToolhelp32Snapshot", "", GetLastError());
  }
  PROCESSENTRY32 entry;
  std::memset(&entry, 0, sizeof entry);
  entry.dwSize = sizeof entry;
  if (!Process32First(snapshot, &entry)) {
    const DWORD code = GetLastError();
    CloseHandle(snapshot);
    return Keep(*this, "Process32First", "", code);
  }
  do {
    names->emplace_back(entry.szExeFile, strnlen(entry.szExeFile, sizeof entry.szExeFile));
  } while (Process32Next(snapshot, &entry));
  CloseHandle(snapshot);
  return true;
}

LocalTime Win32Os::Now() {
  SYSTEMTIME time;
  GetLocalTime(&time);
  return {time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond};
}

void Win32Os::WriteStdout(const char* data, size_t size) {
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (!ValidHandle(output)) return;
  while (size > 0) {
    const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(output, data, chunk, &written, nullptr) || written == 0) return;
    data += written;
    size -= written;
  }
}

bool Win32Os::IsInteractiveConsole() {
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode;
  return ValidHandle(input) && ValidHandle(output) && GetConsoleMode(input, &mode) &&
         GetConsoleMode(output, &mode);
}

bool Win32Os::ConsoleSize(int* rows, int* columns) {
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!ValidHandle(output) || !GetConsoleScreenBufferInfo(output, &info)) return false;
  const SMALL_RECT& window = info.srWindow;
  if (window.Bottom < window.Top || window.Right < window.Left) return false;
  *rows = window.Bottom - window.Top + 1;
  *columns = window.Right - window.Left + 1;
  return true;
}

bool Win32Os::ReadKeyEvent(KeyEvent* event) {
  *event = KeyEvent{};
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (!ValidHandle(input)) return false;
  INPUT_RECORD record;
  DWORD read = 0;
  if (!ReadConsoleInputA(input, &record, 1, &read) || read != 1) return false;
  if (record.EventType == KEY_EVENT) {
    event->keyDown = record.Event.KeyEvent.bKeyDown != FALSE;
    event->virtualKey = record.Event.KeyEvent.wVirtualKeyCode;
    event->character = record.Event.KeyEvent.uChar.AsciiChar;
  }
  return true;
}

void Win32Os::InstallControlHandler(ControlHandler handler) {
  g_controlHandler = handler;
  SetConsoleCtrlHandler(ControlTrampoline, TRUE);
}

void Win32Os::HoldControlEvents() { g_controlHeld.store(true); }

void Win32Os::ReleaseControlEvents() { g_controlHeld.store(false); }

std::vector<std::string> Win32Os::CommandLineArguments() {
  const char* line = GetCommandLineA();
  return SplitCommandLine(line != nullptr ? line : "");
}

std::unique_ptr<Os> CreateSystemOs(int /*argc*/, char** /*argv*/) {
  return std::make_unique<Win32Os>();
}

}  // namespace twtrim
