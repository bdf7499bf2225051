#!/usr/bin/env bash
# Installs what is missing, builds the program alone (quietly: the build log is
# shown only when it fails) and starts it. `scripts/test.sh` builds everything.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$root/scripts/deps.sh"
bash "$root/scripts/build.sh" --quiet trelvix
exec "${BUILD_DIR:-$root/build}/src/ui/trelvix" "$@"
