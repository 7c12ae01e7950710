// Text that parcelo-cli writes to a terminal: names from an archive may hold control characters
// (ESC sequences, BEL, CR, line breaks) that a terminal would obey. They are shown in caret
// notation ("^[", "^G", "^M", "^J", "^?") and the C1 controls of UTF-8 as "\u0080".."\u009f",
// only on output: names written to disk are never changed.
#pragma once

#include <string>

std::string Printable(const std::string& text);
