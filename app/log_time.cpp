#include "app/log_time.h"

#include <iomanip>
#include <locale>
#include <sstream>

namespace ostrel::app {

QString FormatLogTime(const std::tm& time) {
  std::ostringstream out;
  out.imbue(std::locale::classic());
  out << std::put_time(&time, "%b-%d-%Y(%I-%M-%S-%p)");
  if (!out) return {};
  std::string text = out.str();
  if (text.size() > 127) text.resize(127);
  return QString::fromStdString(text);
}

QString FormatLogTime() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (now == static_cast<std::time_t>(-1) || ::localtime_r(&now, &local) == nullptr) return {};
  return FormatLogTime(local);
}

}  // namespace ostrel::app
