#!/usr/bin/env bash
# Redraws the pictures in docs/ offscreen: the main window, every dialog and
# message box at the default font (the layout test draws those while it checks
# them), the hex dump view (drawn by its widget test), and the window with a
# text, a picture, an archive and a web page previewed (drawn by the preview
# request's test).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

"$root/scripts/deps.sh"
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S "$root" -B "$root/build/release" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON >/dev/null
cmake --build "$root/build/release" -j "$jobs" --target ostrel-bkf-repair app_layout_fit_test preview_hex_view_test \
  app_preview_dispatch_test >/dev/null

export QT_QPA_PLATFORM=offscreen
"$root/build/release/app/ostrel-bkf-repair" --screenshot "$root/docs/main-window.png" --size 1280x800
OSTREL_SCREENSHOT_DIR="$root/docs" "$root/build/release/tests/app/app_layout_fit_test" >/dev/null
OSTREL_SCREENSHOT_DIR="$root/docs" "$root/build/release/tests/app/app_preview_dispatch_test" \
  aTextAndAPictureInTheWindow anArchiveInTheWindow aWebPageAndAPictureInTheBrowser >/dev/null
shots="$(mktemp -d)"
OSTREL_SCREENSHOT_DIR="$shots" "$root/build/release/tests/preview/preview_hex_view_test" >/dev/null
mv "$shots/hex.png" "$root/docs/hex-view.png"
rmdir "$shots"
ls "$root"/docs/*.png
