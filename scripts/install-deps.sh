#!/usr/bin/env bash
# Installs every build and test dependency on a fresh Debian 12 machine.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive

$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends \
    build-essential cmake pkg-config git \
    googletest libgtest-dev libgmock-dev libbenchmark-dev \
    clang clang-format libclang-rt-14-dev \
    libgtk-3-dev xvfb xauth \
    libssl-dev \
    fonts-wqy-microhei \
    g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64 \
    socat procps lrzsz python3 \
    lintian help2man zip
