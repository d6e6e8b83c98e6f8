// Puts the catalogue of a fixture BKF file into the main window as the scan
// job does: scanned, then the top level shown and checked while the
// process is still marked running.
#pragma once

#include <QtTest>
#include <memory>
#include <string>

#include "tests/fixtures/scan_helpers.h"
#include "tests/app/frame_fixture.h"

namespace ostrel::testing {

// False when the file could not be scanned.
inline bool ShowScannedCatalogue(FrameFixture& fixture, const std::string& bkfPath) {
  auto& state = fixture.state();
  state.SetProcessRunning(true);
  auto session = fixtures::ScanSession(bkfPath);
  const bool scanned = session != nullptr;
  if (scanned) {
    fixture.frame().ResetCatalogueView();
    fixture.frame().SetSession(std::move(session));
    fixture.frame().ShowCatalogueTopLevel();
  }
  state.SetProcessRunning(false);
  return scanned;
}

}  // namespace ostrel::testing
