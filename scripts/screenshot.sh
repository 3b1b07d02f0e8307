#!/usr/bin/env bash
# Regenerates docs/serve.png, the camera page in the README: vupdate serve on the sample card with a packed
# update file, taken by the same headless Chromium the browser test uses, on the licence screen.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh host browser
cmake --preset default >/dev/null
cmake --build --preset default -j2 --target vupdate
/usr/bin/python3 tests/browser/camera_page_test.py --vupdate build/default/vupdate --samples samples \
  --screenshot docs/serve.png
echo "docs/serve.png"
