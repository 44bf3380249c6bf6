#!/usr/bin/env bash
# The ALSA sequencer backend's live tests on a real sequencer: a throw-away
# QEMU machine (software emulation, no KVM needed) boots Debian's own kernel
# with snd-seq, snd-seq-dummy ("Midi Through"), snd-usb-audio and a USB MIDI
# keyboard made by the kernel's USB gadget (f_midi on dummy_hcd), so that its
# notes take the kernel path of a real USB keyboard. Inside, test_midi runs
# its AlsaLive* and AlsaUsbLive* tests (the second ones start the program
# itself, bin/Chimewick, and listen to what it renders), and the idle
# wake-up benchmark runs where it was built.
#
# Usage: alsa-vm-test.sh BUILD_DIR
# The kernel package is fetched once with apt-get download, unpacked with
# dpkg-deb (never installed) and kept in BUILD_DIR/alsa-vm/kernel.
# Exit: 0 passed, 1 failed, 77 skipped (QEMU cannot run here at all).
# Env: ALSA_VM_TIMEOUT (s, 600), ALSA_VM_MEMORY (MiB, 2048), ALSA_VM_CPUS (2),
#   ALSA_VM_FILTER (gtest filter, AlsaLive*:AlsaUsbLive*).
set -euo pipefail

BUILD=$(readlink -f "${1:?usage: $0 BUILD_DIR}")
SRC=$(cd "$(dirname "$0")/../../../.." && pwd)
HERE=$SRC/tests/platform/midi/vm
TIMEOUT=${ALSA_VM_TIMEOUT:-600}
MEMORY=${ALSA_VM_MEMORY:-2048}
CPUS=${ALSA_VM_CPUS:-2}
FILTER=${ALSA_VM_FILTER:-AlsaLive*:AlsaUsbLive*}
WORK=$BUILD/alsa-vm
START=$(date +%s.%N)
export PATH=$PATH:/usr/sbin:/sbin

say() { printf '%s\n' "$*"; }
skip() { say "skipped: $*"; exit 77; }
fail() { say "FAILED: $*"; exit 1; }
elapsed() { awk -v a="$START" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }'; }

mkdir -p "$WORK"
RUN=$(mktemp -d "$WORK/run.XXXXXX")
trap 'rm -rf "$RUN"' EXIT

# --- What the machine needs ----------------------------------------------
missing=()
command -v qemu-system-x86_64 >/dev/null || missing+=(qemu-system-x86)
[ -x /bin/busybox ] || missing+=(busybox-static)
{ command -v depmod && command -v modinfo; } >/dev/null || missing+=(kmod)
if [ ${#missing[@]} -gt 0 ]; then
  [ "$(id -u)" = 0 ] || skip "QEMU cannot run: ${missing[*]} not installed, and installing needs root"
  say "installing ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q -o DPkg::Lock::Timeout=600 --no-install-recommends \
    "${missing[@]}" >"$RUN/apt.log" 2>&1 || { tail -5 "$RUN/apt.log"; fail "apt-get install ${missing[*]}"; }
fi
# Where QEMU cannot start at all, there is nothing to run on.
set +e
timeout 1 qemu-system-x86_64 -machine none -display none -nodefaults -S </dev/null >"$RUN/qemu-probe.log" 2>&1
probe=$?
set -e
[ $probe = 124 ] || skip "QEMU cannot run here: $(head -1 "$RUN/qemu-probe.log")"
for bin in test_midi Chimewick librbframework.so; do
  [ -e "$BUILD/bin/$bin" ] || fail "$BUILD/bin/$bin is not built"
done

# --- Debian's kernel, fetched once per build tree --------------------------
kernelPackage() { apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/ { print $2; exit }'; }
refreshLists() { [ "$(id -u)" = 0 ] && apt-get update -q >"$RUN/apt-update.log" 2>&1; }
PKG=$(kernelPackage)
[ -n "$PKG" ] || { refreshLists && PKG=$(kernelPackage); } || true
[ -n "$PKG" ] || fail "apt-cache knows no linux-image-amd64 (run apt-get update)"
KERNEL=$WORK/kernel/$PKG
exec 9>"$WORK/kernel.lock"
flock 9
if [ ! -f "$KERNEL/ready" ]; then
  say "fetching $PKG (once per build tree)"
  rm -rf "$WORK/kernel" "$WORK/deb" && mkdir -p "$WORK/deb" "$KERNEL"
  fetched=no
  for attempt in 1 2 3 4; do
    (cd "$WORK/deb" && apt-get download "$PKG") >"$RUN/download.log" 2>&1 && { fetched=yes; break; }
    say "apt-get download $PKG failed (attempt $attempt): $(tail -1 "$RUN/download.log")"
    # Old package lists name a kernel the mirror no longer has.
    [ $attempt = 2 ] && refreshLists && PKG=$(kernelPackage) && KERNEL=$WORK/kernel/$PKG && mkdir -p "$KERNEL"
    sleep $((attempt * 5))
  done
  [ $fetched = yes ] || fail "could not download the kernel package $PKG: $(tail -2 "$RUN/download.log")"
  dpkg-deb -x "$WORK"/deb/"$PKG"_*.deb "$WORK/deb/unpacked"
  cp "$WORK"/deb/unpacked/boot/vmlinuz-* "$KERNEL/vmlinuz"
  modules=$(ls -d "$WORK"/deb/unpacked/lib/modules/*/ "$WORK"/deb/unpacked/usr/lib/modules/*/ 2>/dev/null | head -1 || true)
  modules=${modules%/}
  [ -n "$modules" ] || fail "no kernel modules in $PKG"
  mkdir -p "$KERNEL/modules"
  (cd "$modules" && cp -r --parents kernel/sound kernel/drivers/usb kernel/drivers/media/mc kernel/fs/configfs modules.builtin* \
    "$KERNEL/modules/") 2>/dev/null || true
  basename "$modules" >"$KERNEL/version"
  rm -rf "$WORK/deb"
  touch "$KERNEL/ready"
fi
flock -u 9
KVER=$(cat "$KERNEL/version")
say "[$(elapsed) s] kernel $KVER ready"

# --- The machine's root file system ---------------------------------------
ROOT=$RUN/root
mkdir -p "$ROOT"/{bin,sbin,proc,sys,dev,tmp,etc,lib/modules/"$KVER"}
cp /bin/busybox "$ROOT/bin/busybox"
ln -s ../bin/busybox "$ROOT/sbin/modprobe"
printf 'root:x:0:0:root:/tmp:/bin/sh\n' >"$ROOT/etc/passwd"
printf 'root:x:0:\n' >"$ROOT/etc/group"

# Modules wanted, and what they depend on.
declare -A modulePath=() taken=()
while IFS= read -r f; do
  n=${f##*/} && n=${n%%.ko*} && modulePath[${n//-/_}]=$f
done < <(find "$KERNEL/modules/kernel" -name '*.ko*')
take() {
  local n=${1//-/_} dep
  [ -n "${taken[$n]:-}" ] && return 0
  [ -n "${modulePath[$n]:-}" ] || fail "kernel module $1 is not in $PKG"
  taken[$n]=${modulePath[$n]#"$KERNEL/modules/"}
  for dep in $(modinfo -F depends "${modulePath[$n]}" | tr ',' ' '); do take "$dep"; done
}
for m in snd-seq snd-seq-dummy snd-seq-midi configfs libcomposite usb_f_midi dummy_hcd snd-usb-audio; do take "$m"; done
(cd "$KERNEL/modules" && cp --parents "${taken[@]}" modules.builtin* "$ROOT/lib/modules/$KVER/")
depmod -b "$ROOT" "$KVER" 2>"$RUN/depmod.log" || fail "depmod: $(head -3 "$RUN/depmod.log")"
say "[$(elapsed) s] modules staged"

# Programs at their own paths, with every library they load. Debugging
# information is left out: it only makes the image slower to load.
copyElf() {
  local target=$ROOT$1
  mkdir -p "$(dirname "$target")"
  objcopy --strip-debug "$1" "$target" 2>/dev/null || cp -L "$1" "$target"
  local lib out
  out=$(ldd "$1" 2>&1) || true
  [[ $out == *"not found"* ]] && fail "ldd $1: $(grep 'not found' <<<"$out" | head -3 | tr -s '\t\n' ' ')"
  for lib in $(awk '/=> \// { print $3 } /^\t\// { print $1 }' <<<"$out"); do
    [ -e "$ROOT$lib" ] || { mkdir -p "$ROOT$(dirname "$lib")" && cp -L "$lib" "$ROOT$lib"; }
  done
}
for f in "$BUILD"/bin/test_midi "$BUILD"/bin/Chimewick "$BUILD"/bin/*.so "$BUILD"/bin/plugins/*.so \
  "$BUILD"/bin/bench_midi_idle_wakeups; do
  [ -e "$f" ] && copyElf "$f"
done
offscreen=$(find /usr/lib/x86_64-linux-gnu/qt6/plugins/platforms -name libqoffscreen.so | head -1)
[ -n "$offscreen" ] && copyElf "$offscreen"
SOUNDFONT=${CHIMEWICK_SOUNDFONT:-/usr/share/sounds/sf2/TimGM6mb.sf2}
[ -f "$SOUNDFONT" ] || fail "no SoundFont at $SOUNDFONT"
cp -L --parents "$SOUNDFONT" "$SRC/tests/lsan.supp" /usr/share/alsa/alsa.conf "$ROOT/"
mkdir -p "$ROOT/usr/share/alsa/alsa.conf.d"
# Fonts for the program's window (drawn offscreen).
[ -d /etc/fonts ] && cp -rL --parents /etc/fonts "$ROOT/"
for font in /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf; do [ -f "$font" ] && cp -L --parents "$font" "$ROOT/"; done
cp "$HERE/vm-init.sh" "$ROOT/init"
chmod +x "$ROOT/init"
cat >"$ROOT/etc/alsa-vm.conf" <<EOF
BIN=$BUILD/bin
FILTER='$FILTER'
SOUNDFONT=$SOUNDFONT
LSAN_SUPPRESSIONS=$SRC/tests/lsan.supp
EOF
say "[$(elapsed) s] files staged"
(cd "$ROOT" && find . | busybox cpio -o -H newc -R 0:0 2>/dev/null >"$RUN/initrd.cpio") || fail "making the image"
say "[$(elapsed) s] image ready: $(du -m "$RUN/initrd.cpio" | cut -f1) MiB"

# --- Boot ------------------------------------------------------------------
BOOT=$(date +%s.%N)
set +e
timeout -k 10 "$TIMEOUT" qemu-system-x86_64 -machine pc -cpu max -accel tcg,thread=multi -smp "$CPUS" \
  -m "$MEMORY" -nographic -no-reboot -nodefaults -serial stdio -nic none \
  -kernel "$KERNEL/vmlinuz" -initrd "$RUN/initrd.cpio" \
  -append 'console=ttyS0 quiet loglevel=3 panic=-1 rdinit=/init' </dev/null >"$RUN/console.raw" 2>&1
qemu=$?
set -e
tr -d '\r' <"$RUN/console.raw" >"$WORK/console.txt"
bootRun=$(awk -v a="$BOOT" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')

# --- Verdict -----------------------------------------------------------------
grep -E '^@@(LOG|STEP)' "$WORK/console.txt" | sed -e 's/^@@LOG //' -e 's/^@@STEP /-- /' || true
say "VM: boot and tests ${bootRun} s, whole run $(elapsed) s (console: $WORK/console.txt)"
[ "$qemu" = 124 ] && fail "the machine did not finish within $TIMEOUT s"
grep -q '^@@DONE' "$WORK/console.txt" || fail "the machine stopped early (qemu exit $qemu); see $WORK/console.txt"
grep -q '^@@ERROR' "$WORK/console.txt" && fail "$(grep '^@@ERROR' "$WORK/console.txt" | head -3 | tr '\n' ' ')"
result=$(sed -n 's/^@@RESULT test_midi rc=//p' "$WORK/console.txt")
summary=$(grep -E '^@@LOG \[  (PASSED|FAILED|SKIPPED) +\]' "$WORK/console.txt" | sed 's/^@@LOG //' | tr '\n' ' ' || true)
[ "$result" = 0 ] || fail "test_midi in the machine: exit ${result:-none}; $summary"
grep -qE '^@@LOG \[  SKIPPED \]' "$WORK/console.txt" && fail "live tests skipped inside the machine: $summary"
grep -qE '^@@LOG \[  PASSED  \] [1-9]' "$WORK/console.txt" || fail "no live test ran"
say "passed: $summary"
