#!/usr/bin/env bash
# Installs the Debian packages the build, the tests, the copy methods and the
# desktop-file checks need, asking apt only when one of them is missing. More
# package names may be given (scripts/screenshots.sh asks for its tools so).
set -euo pipefail
packages=("$@" cmake ninja-build g++ pkg-config qt6-base-dev libjpeg-dev libutf8proc-dev
          libgtest-dev libgmock-dev rsync libglib2.0-bin coreutils util-linux clang
          libxcb1-dev qt6-svg-dev qt6-translations-l10n desktop-file-utils appstream xvfb x11-utils
          fuse3 fusefat dosfstools exfat-fuse exfatprogs systemd faketime dbus-daemon)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "${missing[@]}"
fi
