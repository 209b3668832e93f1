#!/usr/bin/env bash
# Builds reg7140 and runs it with /D9 on a scratch copy of the sample machine, then shows what
# the run changed and that a second run changes nothing.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}

cmake -S "$top" -B "$build" >/dev/null
cmake --build "$build" -j2 --target reg7140 >/dev/null

scratch=$(mktemp -d /tmp/reg7140-sample.XXXXXX)
cp -r "$top/sample/." "$scratch/"
cp "$build/reg7140" "$scratch/disk/reg7140"
# Git keeps no file times: the installed driver is made the older one.
touch -d '1996-04-20 12:00:00' "$scratch/WINDOWS/system/zvnd32.sys"
touch -d '1997-02-28 12:00:00' "$scratch/disk/zvnd32.sys"
before=$(mktemp -d /tmp/reg7140-before.XXXXXX)
cp -a "$scratch/." "$before/"

echo "== WINDIR=$scratch/WINDOWS $scratch/disk/reg7140 /D9"
status=0
WINDIR="$scratch/WINDOWS" "$scratch/disk/reg7140" /D9 || status=$?
echo "== exit status $status"

show_diff() {  # text files with their CR LF line ends shown as they are
  diff -u --label "before/$1" --label "after/$1" "$before/$1" "$scratch/$1" | cat -A | sed 's/\^M\$$/  [CR LF]/; s/\$$//' || true
}
echo "== registry (WINDOWS/system.reg)"
show_diff WINDOWS/system.reg
echo "== INF file (WINDOWS/inf/netzor.inf)"
show_diff WINDOWS/inf/netzor.inf
echo "== driver (WINDOWS/system/zvnd32.sys)"
ls -l --time-style=long-iso "$before/WINDOWS/system/zvnd32.sys" "$scratch/WINDOWS/system/zvnd32.sys"
cmp -s "$scratch/disk/zvnd32.sys" "$scratch/WINDOWS/system/zvnd32.sys" && echo "installed driver now equals the source disk's"

echo "== second run"
snapshot=$(mktemp -d /tmp/reg7140-first.XXXXXX)
cp -a "$scratch/." "$snapshot/"
WINDIR="$scratch/WINDOWS" "$scratch/disk/reg7140" /D9
if diff -r -q -x netzor.new "$snapshot" "$scratch" >/dev/null; then
  echo "nothing changed (the scratch file netzor.new stays beside the INF file)"
else
  diff -r -q -x netzor.new "$snapshot" "$scratch"
fi
rm -rf "$before" "$snapshot"
echo "== the machine after the run is in $scratch"

# The registry job alone on two other spellings of the same registry: every byte it does not
# change stays, so the diff shows only the job's changes.
for variant in "LF line ends" "comments and blank lines"; do
  copy=$(mktemp -d /tmp/reg7140-variant.XXXXXX)
  cp -r "$top/sample/." "$copy/"
  if [ "$variant" = "LF line ends" ]; then
    sed -i 's/\r$//' "$copy/WINDOWS/system.reg"
  else
    sed -i 's/^\(\[.*\]\)\r$/; next key\r\n\r\n\1\r/' "$copy/WINDOWS/system.reg"
  fi
  cp "$copy/WINDOWS/system.reg" "$copy/system.reg.before"
  echo "== registry job (/inst) on the sample registry with $variant"
  WINDIR="$copy/WINDOWS" "$build/reg7140" /D9 /inst
  diff -u --label before/system.reg --label after/system.reg "$copy/system.reg.before" \
    "$copy/WINDOWS/system.reg" | cat -A | sed 's/\^M\$$/  [CR LF]/; s/\$$//' || true
  rm -rf "$copy"
done
