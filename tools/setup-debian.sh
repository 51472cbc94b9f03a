#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build and test Quillbox.
set -euo pipefail
SUDO=
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q \
    cmake make g++ git python3 ca-certificates file \
    googletest libgtest-dev libgmock-dev \
    g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64 \
    wine wine64 xvfb xauth xdotool x11-utils imagemagick \
    cabextract gcab 7zip \
    zlib1g-dev libssl-dev openssl \
    clang-14 libclang-rt-14-dev \
    libcurl4-openssl-dev nlohmann-json3-dev chromium wget \
    lintian groff man-db bash-completion dpkg-dev fakeroot zip unzip

# The styled-page test's web font (a copy of DejaVu Serif Bold is served as the site's font).
$SUDO apt-get install -y -q fonts-dejavu-core
