// Message boxes on the headless backend: recorded where tests read them
// (headless::message_boxes) and answered with OK (1) at once.
#include <string>

#include "posix/headless.h"
#include "system.h"

int message_box(const std::string& title, const std::string& text, int flags) {
  headless::record_message_box(title, text, flags);
  return 1;
}
