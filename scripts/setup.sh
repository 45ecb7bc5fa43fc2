#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Palisar need.
# Idempotent: only missing packages are installed. Works as root or through sudo.
# Optional sets are named on the command line:
#   scripts/setup.sh fuzz   also clang 14 with its libFuzzer and sanitizer
#                           runtimes, for the fuzz targets (docs/fuzzing.md)
#   scripts/setup.sh perf   also perf, for profiling the benchmarks
set -euo pipefail

packages=(
  cmake ninja-build g++ binutils pkg-config ccache
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libpugixml-dev libjpeg-dev libasound2-dev
  fonts-liberation fontconfig
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth
)

for set in "$@"; do
  case "$set" in
    fuzz) packages+=(clang-14 libclang-rt-14-dev) ;;
    perf) packages+=(linux-perf) ;;
    *)
      echo "setup: unknown package set '$set' (known: fuzz, perf)" >&2
      exit 2
      ;;
  esac
done

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
if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1; then
  as_root=(sudo)
else
  echo "setup: missing packages (${missing[*]}) and neither root nor sudo is available" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
