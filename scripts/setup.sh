#!/usr/bin/env bash
# Installs every Debian package the project needs to build, run and test, and nothing that is
# already there. Safe to run again and again.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins qt6-translations-l10n
  libgtest-dev libgmock-dev nlohmann-json3-dev
  fonts-arphic-uming
  xvfb xauth
  util-linux mount fdisk e2fsprogs dosfstools groff-base
  desktop-file-utils dpkg-dev file time
  libmount-dev libblkid-dev psmisc strace
  lintian appstream librsvg2-bin poppler-utils devscripts
  libudev-dev liburing-dev libsystemd-dev
  # The real-driver tier (tests/vm): QEMU, Debian's kernel, the guest's tools and references.
  qemu-system-x86 linux-image-amd64 busybox-static kmod cpio udev
  smartmontools hdparm nvme-cli diffutils jq fio
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "setup: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
