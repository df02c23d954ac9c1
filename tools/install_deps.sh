#!/usr/bin/env bash
# Installs, from Debian's package manager, what this machine lacks for the named uses:
#   build    the program and its helper tools (CMake, Ninja, g++, the Random123 header
#            library for the per-packet random streams)
#   plots    the Python package's plots (Debian's python3-numpy, python3-matplotlib)
#   test     the test suite and benchmarks (GoogleTest, Google Benchmark, pytest; nbclient and
#            ipykernel execute the tutorial notebook)
#   fit      spectrum fitting (SciPy's optimiser, the Dask engine)
#   fuzz     the fuzzing harnesses (clang with the libFuzzer and sanitizer runtimes)
#   all      everything above
# Needs root (apt-get); otherwise it only lists what is missing and exits 1.
set -euo pipefail
groups=("$@")
[ ${#groups[@]} -gt 0 ] || groups=(all)
py=/usr/bin/python3  # Debian's Python: the python3-* packages install for it
need=()
want() { for g in "${groups[@]}"; do [ "$g" = "$1" ] || [ "$g" = all ] && return 0; done; return 1; }
if want build; then
  command -v cmake >/dev/null || need+=(cmake)
  command -v ninja >/dev/null || need+=(ninja-build)
  command -v g++ >/dev/null || need+=(g++)
  [ -f /usr/include/Random123/philox.h ] || need+=(librandom123-dev)
  [ -x $py ] || need+=(python3)
fi
if want plots || want test || want fit; then
  $py -c 'import numpy' 2>/dev/null || need+=(python3-numpy)
  $py -c 'import matplotlib' 2>/dev/null || need+=(python3-matplotlib)
fi
if want test; then
  [ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
  [ -f /usr/include/benchmark/benchmark.h ] || need+=(libbenchmark-dev)
  $py -c 'import pytest' 2>/dev/null || need+=(python3-pytest)
  $py -c 'import nbclient' 2>/dev/null || need+=(python3-nbclient)
  $py -c 'import ipykernel' 2>/dev/null || need+=(python3-ipykernel)
fi
if want fit || want test; then
  $py -c 'import scipy' 2>/dev/null || need+=(python3-scipy)
  $py -c 'import dask, distributed' 2>/dev/null || need+=(python3-dask python3-distributed)
  $py -c 'import cryptography' 2>/dev/null || need+=(python3-cryptography)
fi
if want fuzz; then
  command -v clang++ >/dev/null || need+=(clang)
  ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 || need+=(libclang-rt-14-dev)
fi
[ ${#need[@]} -gt 0 ] || exit 0
if [ "$(id -u)" != 0 ] || ! command -v apt-get >/dev/null; then
  echo "install_deps: missing Debian packages: ${need[*]} (apt-get install ${need[*]})" >&2
  exit 1
fi
echo "install_deps: installing ${need[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get install -y -q "${need[@]}" >/dev/null 2>&1 || { apt-get update -q >/dev/null && apt-get install -y -q "${need[@]}"; }
