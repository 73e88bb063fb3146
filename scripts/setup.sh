#!/usr/bin/env bash
# Installs the Debian packages the build, the application and the tests need,
# and only those that are missing, so a second run costs a few milliseconds.
set -euo pipefail

packages=(
  # toolchain and test frameworks
  cmake g++ pkg-config clang-format curl googletest libgtest-dev libgmock-dev libbenchmark-dev
  # Qt
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev
  # audio: recording, decoding, inspection
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-plugins-base
  gstreamer1.0-plugins-good gstreamer1.0-libav gstreamer1.0-pulseaudio
  gstreamer1.0-plugins-base-apps gstreamer1.0-tools
  # X11, accessibility and the desktop session
  libxcb1-dev libxcb-xkb-dev libxcb-xtest0-dev libxcb-keysyms1-dev libxcb-xfixes0-dev libxkbcommon-dev
  libatspi2.0-dev libglib2.0-dev at-spi2-core dbus dbus-x11
  xvfb openbox trayer xdotool x11-utils xterm imagemagick
  python3-gi gir1.2-gtk-3.0 gir1.2-atspi-2.0 libgtk-3-0
  # sound server and a voice for test speech
  pulseaudio pulseaudio-utils espeak-ng sox
  # the bundled transcription service
  libboost-dev libcpp-httplib-dev libpocketsphinx-dev libsphinxbase-dev pocketsphinx-en-us pocketsphinx-testdata
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing ${#missing[@]} missing packages: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
