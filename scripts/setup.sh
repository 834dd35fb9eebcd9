#!/usr/bin/env bash
# Installs the Debian 12 packages the project needs, only those missing (on
# macOS: the Homebrew packages, see setup-macos.sh). Quick when everything is
# there; safe to run again.
#
# The PipeWire packages are for the tests' private PipeWire. Debian enables
# their user sockets for every login: on a desktop that runs PulseAudio,
# `systemctl --user mask pipewire.socket pipewire-pulse.socket` keeps it so.
set -euo pipefail

if [[ "$(uname -s)" == Darwin ]]; then
  exec "$(dirname "$0")/setup-macos.sh"
fi

packages=(
  g++ cmake ninja-build pkg-config clang-format
  nlohmann-json3-dev libutf8proc-dev libpulse-dev libsamplerate0-dev
  libgtest-dev libgmock-dev libbenchmark-dev libsndfile1-dev libfftw3-dev
  clang libclang-rt-14-dev
  libc++-14-dev libc++abi-14-dev googletest
  pulseaudio pulseaudio-utils sox espeak-ng
  pipewire pipewire-pulse wireplumber pipewire-bin
)

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  sudo=""
  ((EUID == 0)) || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -q
  $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
