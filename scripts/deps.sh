#!/usr/bin/env bash
# Installs the Debian packages that building, running or testing needs, when
# any of them is missing. Usage: deps.sh run|test
set -euo pipefail

common=(cmake ninja-build g++ qt6-base-dev libgl-dev firebird-dev libfbclient2 firebird3.0-server-core
        zlib1g-dev)
# qt6-translations-l10n holds Qt's Russian texts (qtbase_ru.qm): the buttons of
# the message boxes, the file dialogs, the context menus of the edit fields.
run=(xvfb xauth qt6-translations-l10n)
test=(libgtest-dev libgmock-dev firebird3.0-utils firebird3.0-server firebird3.0-examples xvfb xauth
      qt6-translations-l10n zip unzip
      # The Windows half: cross-built with MinGW-w64, its tests run under Wine.
      # (locales: the Russian locale its tests run in, made in the build tree)
      g++-mingw-w64-x86-64-posix libz-mingw-w64-dev googletest wine wine64 locales)

case "${1:-run}" in
  run) wanted=("${common[@]}" "${run[@]}") ;;
  test) wanted=("${common[@]}" "${test[@]}") ;;
  *) echo "usage: $0 run|test" >&2; exit 2 ;;
esac

missing=()
for p in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  # Debian's server package starts its own daemon where an init system runs;
  # the program and the tests use the embedded engine and their own servers.
  own_policy=
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    printf '#!/bin/sh\nexit 101\n' > /usr/sbin/policy-rc.d && chmod +x /usr/sbin/policy-rc.d
    own_policy=1
  fi
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
  if [ -n "$own_policy" ]; then rm -f /usr/sbin/policy-rc.d; fi
fi
