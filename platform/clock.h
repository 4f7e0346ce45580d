// Local wall-clock time with milliseconds.
#pragma once

namespace platform {

struct LocalTime {
  int year, month, day, hour, minute, second, millisecond;
};

LocalTime LocalNow();

}  // namespace platform
