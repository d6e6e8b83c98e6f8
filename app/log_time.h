// Time stamps for log lines: "Dec-08-2025(08-57-03-PM)".
#pragma once

#include <QString>
#include <ctime>

namespace ostrel::app {

// The current local time as "%b-%d-%Y(%I-%M-%S-%p)"; empty when the local time
// cannot be had.
QString FormatLogTime();
// The same for a given broken-down time. Month names and AM/PM are the C
// locale's, whatever the user's locale, so a log reads the same everywhere.
QString FormatLogTime(const std::tm& time);

}  // namespace ostrel::app
