#include "src/frame/strings.h"

#include "src/frame/effect_info.h"

namespace tilvane {

// Lines are separated by two carriage returns: the host's About box breaks
// lines on CR and shows an empty line between them.
const TableString StringTable[STRING_COUNT] = {
    {STRING_NONE, ""},
    {STRING_NAME, TILVANE_NAME},
    // The notice, the description, the web address.
    {STRING_DESCRIPTION, TILVANE_COPYRIGHT "\r\r" TILVANE_DESCRIPTION "\r\r" TILVANE_WEB_ADDRESS},
};

const A_char* LookupString(A_long index) {
  if (index < 0 || index >= STRING_COUNT) {
    return StringTable[STRING_NONE].text;
  }
  return StringTable[index].text;
}

}  // namespace tilvane
