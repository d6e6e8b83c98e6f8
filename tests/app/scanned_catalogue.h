// Puts the catalogue of a fixture BKF file into the main window as the scan
// job does: scanned, then the top level shown and checked while the
// process-running flag is still set.
#pragma once

#include <QtTest>
#include <memory>
#include <string>

#include "reader/scanner.h"
#include "tests/app/frame_fixture.h"

namespace ostrel::testing {

// False when the file could not be scanned.
inline bool ShowScannedCatalogue(FrameFixture& fixture, const std::string& bkfPath) {
  auto& state = fixture.state();
  state.SetProcessRunning(1);
  auto scanner = std::make_unique<ostrel::bkf>(state.processRunning);
  const bool scanned = scanner->Scan(bkfPath) == 1;
  if (scanned) {
    fixture.frame().ResetCatalogueView();
    fixture.frame().SetScanner(std::move(scanner));
    fixture.frame().ShowCatalogueTopLevel();
  }
  state.SetProcessRunning(0);
  return scanned;
}

}  // namespace ostrel::testing
