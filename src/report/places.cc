#include "report/places.h"

#include "platform/paths.h"

namespace twtrim {
namespace {

// The directory holding `path`; false once at the root ("/", "C:\") or at
// a bare name. A root keeps its separator.
bool Parent(std::string* path) {
  const size_t last = path->find_last_of("\\/");
  if (last == std::string::npos) return false;
  const bool drive = last == 2 && (*path)[1] == ':';
  const size_t keep = last == 0 || drive ? last + 1 : last;
  if (keep >= path->size()) return false;
  path->resize(keep);
  return true;
}

// `path` itself or one of its existing ancestors is the file whose identity
// is `target`. Both are resolved paths, so no link hides a step.
bool AncestorIs(Os& os, std::string path, const FileIdentity& target) {
  do {
    FileIdentity identity;
    if (os.PathIdentity(path, &identity) && identity == target) return true;
  } while (Parent(&path));
  return false;
}

struct Resolved {
  bool known = false;
  std::string path, directory;
};

Resolved Resolve(Os& os, const std::string& path, const std::string& directory) {
  Resolved r;
  r.known = os.FullPath(path, &r.path) && os.FullPath(directory, &r.directory);
  return r;
}

bool InsideResolved(Os& os, const Resolved& r) {
  FileIdentity target;
  if (!os.PathIdentity(r.directory, &target)) return IsInsideDirectory(r.path, r.directory);
  return AncestorIs(os, r.path, target);
}

}  // namespace

bool SamePlace(Os& os, const std::string& a, const std::string& b) {
  if (SameDirectory(a, b)) return true;
  const Resolved r = Resolve(os, a, b);
  if (!r.known) return false;
  if (SameDirectory(r.path, r.directory)) return true;
  FileIdentity first, second;
  return os.PathIdentity(r.path, &first) && os.PathIdentity(r.directory, &second) &&
         first == second;
}

bool InsidePlaceByAnySpelling(Os& os, const std::string& path, const std::string& directory) {
  return IsInsideDirectory(path, directory) || ResolvesInside(os, path, directory);
}

bool ResolvesInside(Os& os, const std::string& path, const std::string& directory) {
  const Resolved r = Resolve(os, path, directory);
  return r.known && InsideResolved(os, r);
}

}  // namespace twtrim
