#!/usr/bin/env bash
# The macOS part of setup.sh: checks for macOS 15 or later and Xcode's
# command-line tools with a macOS 15 SDK, and installs the Homebrew packages
# the build needs, only those missing. Stops with a message saying what to do
# when something cannot be installed from here.
set -euo pipefail

stop() {
  echo "setup: $*" >&2
  exit 1
}

version=$(sw_vers -productVersion)
((${version%%.*} >= 15)) || stop "macOS 15 or later is needed; this Mac runs macOS $version."

xcrun --sdk macosx --show-sdk-path >/dev/null 2>&1 ||
  stop "Xcode's command-line tools are missing: run 'xcode-select --install', then run this again."
sdk=$(xcrun --sdk macosx --show-sdk-version)
((${sdk%%.*} >= 15)) ||
  stop "the macOS SDK is $sdk; capturing the microphone through ScreenCaptureKit needs the macOS 15 SDK (Xcode 16 or later)."

command -v brew >/dev/null 2>&1 ||
  stop "Homebrew is missing: install it from https://brew.sh, then run this again."

# What the build and the tests need, and no more: the agent itself links
# only the system's frameworks; libsndfile and fftw are the inspector's,
# googletest the tests', bash 4.4 or later record-demo.sh's (macOS ships 3.2).
packages=(cmake ninja nlohmann-json libsndfile fftw googletest bash)

missing=()
for package in "${packages[@]}"; do
  brew list --versions "$package" >/dev/null 2>&1 || missing+=("$package")
done
# Any pkg-config will do (CMake finds libsndfile through it). Homebrew's
# pkgconf cannot be linked beside the older pkg-config formula, which some
# machines (GitHub's runners) already have: install it only when there is none.
command -v pkg-config >/dev/null 2>&1 || missing+=(pkgconf)

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  brew install "${missing[@]}"
fi
