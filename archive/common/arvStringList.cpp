// TStringList's look-up; the rest of the list is inline in the header. It has no sorting and no
// duplicate handling: lines keep the order they were added in.
#include "archive/common/arvStringList.h"

#include "archive/common/arvGbls.h"

int TStringList::IndexOf(const std::string& text) const {
  for (size_t i = 0; i < FLines.size(); ++i)
    if (SameTextAscii(FLines[i], text)) return static_cast<int>(i);
  return -1;
}
