#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks to build and test the project.
# Idempotent: quiet, and no apt-get update, when everything is already there.
# Packages named as arguments are installed with the rest.
set -euo pipefail

packages=(cmake g++ ninja-build pkg-config libgtest-dev libcfitsio-dev zlib1g-dev libbz2-dev
          libjpeg62-turbo-dev libbenchmark-dev fitsverify giflib-tools netpbm imagemagick
          libjpeg-turbo-progs gzip bzip2 ncompress "$@")

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}" >/dev/null
fi
