// Shared pieces of the ostrel-bkf commands: argument helpers, the progress
// bar, and the catalogue printers.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "reader/scanner.h"

namespace ostrel::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitSome = 1;   // some files could not be handled
inline constexpr int kExitError = 2;  // bad arguments, unreadable input

// A command: its arguments after the command word.
using Args = std::vector<std::string>;

int ScanCommand(const Args& args);
int ExtractCommand(const Args& args);
int ListCommand(const Args& args);

// "ostrel-bkf: <message>" on stderr.
void Error(const std::string& message);
// An unsigned decimal number (digits only, no overflow).
std::optional<std::uint64_t> ParseU64(const std::string& text);

// Draws a one-line progress bar on stderr when stderr is a terminal; prints
// range warnings on stderr. Redraws at most ten times a second.
class ProgressBar : public ScanListener {
 public:
  explicit ProgressBar(std::string label);
  ~ProgressBar() override;
  void OnProgress(const ProgressReport& report) override;
  void OnRangeMessage(const std::string& text) override;
  // For other long work: `done` of `total` units.
  void Show(std::uint64_t done, std::uint64_t total, std::uint64_t count);
  void Finish();

 private:
  std::string label_;
  bool enabled_;
  bool drawn_ = false;
  std::int64_t lastDrawMs_ = -1000;
};

// The catalogue as a JSON document (none = -1, not found = -2).
void PrintCatalogueJson(std::FILE* out, const Catalogue& cat, const std::string& bkfPath);
// The catalogue as an indented tree of folders, each followed by its files
// with their data length, and the "Total number of files found" line.
void PrintCatalogueTree(std::FILE* out, const Catalogue& cat);

std::string JsonString(const std::string& utf8);

}  // namespace ostrel::cli
