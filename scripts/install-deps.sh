#!/usr/bin/env bash
# Installs the Debian 12 packages Chimewick needs, when any is missing (QEMU,
# busybox-static and kmod run the ALSA live tests in a throw-away machine).
set -euo pipefail
packages=(cmake g++ pkg-config qt6-base-dev libfluidsynth-dev timgm6mb-soundfont
  libasound2-dev libjack-jackd2-dev libcurl4-openssl-dev libpcre2-dev
  libgtest-dev libgmock-dev libbenchmark-dev jackd2 pulseaudio pulseaudio-utils clang-format
  libxcb1-dev xvfb openbox xdotool x11-utils qemu-system-x86 busybox-static kmod fluidsynth)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
# jackd2 asks about real-time priority; take the default without a prompt.
echo "jackd2 jackd/tweak_rt_limits boolean false" | $sudo debconf-set-selections 2>/dev/null || true
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
