#!/usr/bin/env bash
# Runs the full-disk copy tests on a small file system of fixed size: a tmpfs of 512 KiB mounted
# for the run, which needs root. Where it cannot be mounted the tests are skipped with one line
# saying so (exit code 77, which ctest reports as skipped).
# usage: small_fs.sh <files_tests> [launcher...]   (the launcher runs a Windows build under Wine)
set -u
tests=$1
shift
dir=$(mktemp -d /tmp/instayuda-smallfs.XXXXXX)
if ! mount -t tmpfs -o size=512k,mode=0777 tmpfs "$dir" 2>/dev/null; then
  echo "small_fs.sh: skipped: cannot mount a small file system here (needs root); the full-disk copy test did not run"
  rmdir "$dir"
  exit 77
fi
# A Wine server that still holds the folder gets a lazy unmount.
trap 'umount "$dir" 2>/dev/null || umount -l "$dir"; rmdir "$dir"' EXIT
INSTAYUDA_SMALL_FS=$dir "$@" "$tests" --gtest_filter='WholeCopy.*'
