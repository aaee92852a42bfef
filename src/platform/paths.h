// Path and text helpers. Paths are 8-bit strings of at most kMaxPath
// characters; '/' and '\' are equivalent and ASCII letter case is ignored in
// every comparison. None of these touches the file system.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace twtrim {

inline constexpr size_t kMaxPath = 511;

// The separator JoinPath writes: '\' on Windows, '/' on POSIX.
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

bool IsSeparator(char c);
bool IsAbsolutePath(std::string_view path);
// Joins `directory` and `name` with one separator into `*destination`; an
// absolute name stands alone. Fails (leaving `*destination` empty) rather
// than exceed kMaxPath characters.
bool JoinPath(std::string* destination, std::string_view directory, std::string_view name);
bool HasParentSegment(std::string_view path);
bool HasTxtExtension(std::string_view path);
bool IsInsideDirectory(std::string_view path, std::string_view directory);
bool SameDirectory(std::string_view a, std::string_view b);
bool SamePath(std::string_view a, std::string_view b);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix);
// The part after the last '\' or '/'.
std::string_view BaseName(std::string_view path);

}  // namespace twtrim
