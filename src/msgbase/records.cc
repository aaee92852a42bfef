#include "msgbase/records.h"

#include "platform/paths.h"

namespace twtrim {

bool ConferenceFilePath(std::string* destination, std::string_view messageDir, uint32_t conference,
                        std::string_view extension) {
  // "TWMSG01.PTR" ... "TWMSG999.PTR": two digits at least.
  const std::string name = std::string("TWMSG") + (conference <= 9 ? "0" : "") +
                           std::to_string(conference) + "." + std::string(extension);
  if (!JoinPath(destination, messageDir, name)) {
    destination->clear();  // never leave a partial path for a caller to open
    return false;
  }
  return true;
}

}  // namespace twtrim
