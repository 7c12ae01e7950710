// Date conversions that several of the lister's readers share: formats written on Unix record
// Unix seconds where the others record a packed DOS date-time, and the lister's entry details
// carry the DOS form. Header only; nothing here reads an archive.
#pragma once

#include <cstdint>

#include "archive/common/arvDates.h"
#include "archive/common/arvGbls.h"

// Unix seconds (UTC) as a packed DOS date-time in local time (date in the high word); 0 when the
// time lies outside the years DOS can record (1980 to 2107).
inline uint32_t UnixToDosDateTime(uint32_t seconds) {
  const TDateTime local = UnixToDateTime(static_cast<int32_t>(seconds));
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
  DecodeDate(local, year, month, day);
  DecodeTime(local, hour, minute, second, millisecond);
  if (year < 1980 || year > 2107) return 0;
  const auto date = static_cast<uint32_t>((year - 1980) << 9 | month << 5 | day);
  const auto time = static_cast<uint32_t>(hour << 11 | minute << 5 | second / 2);
  return date << 16 | time;
}
