#!/usr/bin/env bash
# Installs the Debian packages the build, the application and the tests need,
# and only those that are missing, then the Moonshine speech engine from the npm
# registry into the user's cache (scripts/moonshine.sh); a second run installs
# and downloads nothing.
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
  xvfb openbox trayer xdotool x11-utils xterm imagemagick iproute2 librsvg2-bin
  python3-gi gir1.2-gtk-3.0 gir1.2-gtk-4.0 gir1.2-atspi-2.0 libgtk-3-0
  # the desktops' stock shortcut defaults the microphone key is checked against, and
  # polkit's pkexec, which starts the keymap helper
  gsettings-desktop-schemas gnome-settings-daemon-common mutter-common gnome-shell-common pkexec
  # sound server and a voice for test speech
  pulseaudio pulseaudio-utils espeak-ng sox
  # the bundled transcription service
  libboost-dev libcpp-httplib-dev libpocketsphinx-dev libsphinxbase-dev pocketsphinx-en-us pocketsphinx-testdata
  # fetching the Moonshine engine: npm (with Node.js), tar, OpenSSL for the hashes
  openssl
)
# Any npm will do; Debian's comes with its Node.js.
command -v npm >/dev/null || packages+=(npm)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "Installing ${#missing[@]} missing packages: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Without the registry the service still builds and runs on pocketsphinx; the
# build says so.
"$(dirname "$0")/moonshine.sh" >/dev/null || echo "The Moonshine engine could not be fetched; the service will use pocketsphinx." >&2
