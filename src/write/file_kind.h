// The three files of a conference, which the write handles alike: whatever
// it keeps per file is an array indexed by FileKind.
#pragma once

#include <array>

namespace twtrim {

enum FileKind { kPtrFile, kIdxFile, kDatFile, kFileKindCount };
inline constexpr std::array<FileKind, kFileKindCount> kFileKinds = {kPtrFile, kIdxFile, kDatFile};
inline constexpr std::array<const char*, kFileKindCount> kFileExtension = {"PTR", "IDX", "DAT"};
// The commit renames DAT first: until the PTR moves, the live headers still
// describe the old bodies. A rollback undoes this order backwards.
inline constexpr std::array<FileKind, kFileKindCount> kCommitOrder = {kDatFile, kPtrFile, kIdxFile};

}  // namespace twtrim
