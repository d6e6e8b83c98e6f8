// Modification dates of the catalogued files and folders, kept beside the
// records (the snapshot file has no place for them): a scan fills them from
// the FILE and DIRB blocks, and a loaded snapshot has none.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>

namespace ostrel {

// A calendar date and time of day as a backup stores it, without a time zone.
struct DateTime {
  int year = 0;    // 0 to 16,383
  int month = 0;   // 1 to 12
  int day = 0;     // 1 to the month's length
  int hour = 0;    // 0 to 23
  int minute = 0;  // 0 to 59
  int second = 0;  // 0 to 59
};

// Whether every field lies in its range (the day within its month, 29
// February only in leap years).
bool IsValidDate(const DateTime& date);
// Seconds since 1970-01-01 00:00:00 UTC (negative before); `date` must be valid.
std::int64_t ToUnixSeconds(const DateTime& date);
// "2011-07-22T11:32:40Z".
std::string IsoDate(std::int64_t unixSeconds);
// "2011-07-22 11:32:40".
std::string ShortDate(std::int64_t unixSeconds);

class CatalogueDates {
 public:
  // Dates by file index and by folder index; a later date for the same
  // index replaces the earlier one.
  void SetFile(std::uint64_t index, std::int64_t unixSeconds) { Set(files_, index, unixSeconds); }
  void SetFolder(std::uint64_t index, std::int64_t unixSeconds) { Set(folders_, index, unixSeconds); }
  std::optional<std::int64_t> File(std::uint64_t index) const { return Get(files_, index); }
  std::optional<std::int64_t> Folder(std::uint64_t index) const { return Get(folders_, index); }
  void ClearFiles() { files_.clear(); }

 private:
  static constexpr std::int64_t kUnknown = INT64_MIN;
  // Only up to the highest index with a date: a catalogue without dates
  // costs nothing, and one whose files all have dates 8 bytes a file.
  static void Set(std::deque<std::int64_t>& table, std::uint64_t index, std::int64_t value);
  static std::optional<std::int64_t> Get(const std::deque<std::int64_t>& table, std::uint64_t index) {
    if (index >= table.size() || table[index] == kUnknown) return std::nullopt;
    return table[index];
  }

  std::deque<std::int64_t> files_;
  std::deque<std::int64_t> folders_;
};

}  // namespace ostrel
