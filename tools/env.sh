# Shared settings of the tools/ scripts: where things live and how Wine is called.
KIV_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
KIV_BUILD=$KIV_ROOT/build
KIV_WINE_DIR=/usr/lib/wine
# One prefix per checkout, so that two checkouts can run their tests at the same time.
export WINEPREFIX=${KIV_WINEPREFIX:-$KIV_BUILD/wine}
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="
KIV_WINE=$KIV_WINE_DIR/wine64
KIV_WINESERVER=$KIV_WINE_DIR/wineserver64
KIV_PREFIX_STAMP=$WINEPREFIX/.kiv-prefix-3
KIV_PACKAGES="g++-mingw-w64-x86-64 g++-mingw-w64-i686 cmake ninja-build wine wine64 fonts-wine xvfb xauth
  libgl1-mesa-dri libglx-mesa0 fonts-dejavu-core fonts-liberation googletest xdotool xclip imagemagick x11-apps
  python3 lua5.4 time"

kiv_ready() {   # true when setup has nothing left to do
  [ -f "$KIV_PREFIX_STAMP" ] || return 1
  dpkg-query -W -f='${Status}\n' $KIV_PACKAGES 2>/dev/null | grep -qv 'install ok installed' && return 1
  return 0
}
