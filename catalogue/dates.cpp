#include "catalogue/dates.h"

#include <chrono>
#include <cstdio>

namespace ostrel {
namespace {

using std::chrono::days;
using std::chrono::sys_days;

struct Civil {
  std::chrono::year_month_day ymd;
  std::chrono::hh_mm_ss<std::chrono::seconds> time;
};

Civil FromUnixSeconds(std::int64_t unixSeconds) {
  const std::chrono::sys_seconds t{std::chrono::seconds{unixSeconds}};
  const sys_days day = std::chrono::floor<days>(t);
  return {std::chrono::year_month_day{day}, std::chrono::hh_mm_ss<std::chrono::seconds>{t - day}};
}

std::string Format(std::int64_t unixSeconds, const char* pattern) {
  const Civil c = FromUnixSeconds(unixSeconds);
  char buf[48];
  std::snprintf(buf, sizeof buf, pattern, static_cast<int>(c.ymd.year()), static_cast<unsigned>(c.ymd.month()),
                static_cast<unsigned>(c.ymd.day()), static_cast<int>(c.time.hours().count()),
                static_cast<int>(c.time.minutes().count()), static_cast<int>(c.time.seconds().count()));
  return buf;
}

}  // namespace

bool IsValidDate(const DateTime& d) {
  if (d.year < 0 || d.year > 16383 || d.hour < 0 || d.hour > 23 || d.minute < 0 || d.minute > 59 ||
      d.second < 0 || d.second > 59 || d.month < 1 || d.month > 12 || d.day < 1) {
    return false;
  }
  return std::chrono::year_month_day{std::chrono::year{d.year}, std::chrono::month{static_cast<unsigned>(d.month)},
                                     std::chrono::day{static_cast<unsigned>(d.day)}}
      .ok();
}

std::int64_t ToUnixSeconds(const DateTime& d) {
  const sys_days day{std::chrono::year{d.year} / std::chrono::month{static_cast<unsigned>(d.month)} /
                     std::chrono::day{static_cast<unsigned>(d.day)}};
  return static_cast<std::int64_t>(day.time_since_epoch().count()) * 86400 + d.hour * 3600 + d.minute * 60 +
         d.second;
}

std::string IsoDate(std::int64_t unixSeconds) { return Format(unixSeconds, "%04d-%02u-%02uT%02d:%02d:%02dZ"); }
std::string ShortDate(std::int64_t unixSeconds) { return Format(unixSeconds, "%04d-%02u-%02u %02d:%02d:%02d"); }

void CatalogueDates::Set(std::deque<std::int64_t>& table, std::uint64_t index, std::int64_t value) {
  if (index >= table.size()) table.resize(index + 1, kUnknown);
  table[index] = value;
}

}  // namespace ostrel
