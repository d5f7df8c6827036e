#!/usr/bin/env bash
# Installs the Debian packages that building and testing Rebound need, and only
# those that are missing, so a second run on a ready machine takes a moment.
set -euo pipefail

packages=(
  cmake                        # the build (3.25 or later, for the presets)
  make
  ninja-build                  # runs the Linux presets' builds
  ccache                       # the compiler cache every preset uses (scripts/compiler-cache.sh)
  lld                          # links the test programs (lld-14)
  g++                          # the Linux build: simulator, plug-in module, tests
  g++-mingw-w64-x86-64-posix   # cross-compiler for the Windows plug-in
  binutils-mingw-w64-x86-64    # dlltool, objdump, windres and strip: import library, checks, package
  nlohmann-json3-dev           # scenario files
  libboost-context-dev         # the simulator's script fibre on Linux (fcontext)
  libgtest-dev libgmock-dev    # the tests
  googletest                   # its sources, built with MinGW for the Windows tests
  libbenchmark-dev             # the benchmarks
  valgrind                     # make count: instructions counted by callgrind
  clang-format-14              # the format check of make test
  clang-14 libclang-rt-14-dev  # the ThreadSanitizer tests and the fuzzers (libFuzzer)
  wine wine64                  # runs the Windows plug-in and simulator in the tests
  python3                      # packs the player's zip and checks it
  python3-jsonschema           # checks the scenario schema against the reader in the tests
  libxml2-utils                # xmllint: checks rebound-sim --junit files against a JUnit schema in the tests
  chromium                     # opens the HTML report headless in the tests, with screenshots
  librsvg2-bin                 # make media: rsvg-convert draws the simulator's SVG frames
  webp                         # make media: img2webp makes the animation, webpmux reads it in its test
  fonts-dejavu-core            # make media: the one font its pictures are drawn with
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
sudo=""
if [[ $(id -u) -ne 0 ]]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
# Update the package lists only when an install fails for want of them, so a
# machine whose lists are fresh does not pay for a download.
if ! $sudo apt-get install -y --no-install-recommends "${missing[@]}"; then
  $sudo apt-get update
  $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
