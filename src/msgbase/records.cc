#include "msgbase/records.h"

#include "platform/paths.h"

namespace twtrim {
namespace {

// Longest file name the naming rule may produce ("TWMSG999.PTR" has 12).
constexpr size_t kMaxFileName = 31;

void AppendBounded(std::string* name, std::string_view text) {
  const size_t room = kMaxFileName - name->size();
  name->append(text.substr(0, room));
}

}  // namespace

bool ConferenceFilePath(std::string* destination, std::string_view messageDir, uint32_t conference,
                        std::string_view extension) {
  std::string name = "TWMSG";
  if (conference <= 9) AppendBounded(&name, "0");
  AppendBounded(&name, std::to_string(conference));
  AppendBounded(&name, ".");
  AppendBounded(&name, extension);
  if (!JoinPath(destination, messageDir, name)) {
    destination->clear();  // never leave a partial path for a caller to open
    return false;
  }
  return true;
}

}  // namespace twtrim
