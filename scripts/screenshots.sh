#!/usr/bin/env bash
# Draws every window of the program under Xvfb, at 96 dpi and at 120 dpi (the
# fonts a quarter larger on the same pixels, as the system draws them without
# scaling), into <out>/96dpi and <out>/120dpi. Needs the test build
# (cmake --preset asan). Usage: screenshots.sh [out]   (default build/screenshots)
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build/screenshots}
tool=build/asan/tests/ui/qm_screenshots
cmake --build --preset asan --target qm_screenshots
export ASAN_OPTIONS=detect_leaks=0
xvfb-run -a -s "-screen 0 1600x1200x24 -dpi 96" "$tool" "$out/96dpi"
QT_ENABLE_HIGHDPI_SCALING=0 QT_FONT_DPI=120 \
  xvfb-run -a -s "-screen 0 1600x1200x24 -dpi 120" "$tool" "$out/120dpi"
echo "screenshots in $out/96dpi and $out/120dpi"
