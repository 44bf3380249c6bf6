#!/bin/busybox sh
# The first and only process of the test machine: loads the sound and USB
# gadget modules, makes the USB MIDI keyboard (unplugged), runs the live tests
# and the idle wake-up benchmark, and powers off. Every line meant for the
# host starts with "@@".
/bin/busybox mount -t proc proc /proc
/bin/busybox --install -s /bin
export PATH=/bin:/sbin
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
# The root file system is the image itself, in memory and writable: /tmp is
# a folder of it (a build tree under /tmp stays visible).
. /etc/alsa-vm.conf

up() { cut -d' ' -f1 /proc/uptime; }
step() { echo "@@STEP $* ($(up) s after boot)"; }
err() { echo "@@ERROR $*"; }
finish() {
  echo "@@DONE"
  sync
  poweroff -f
}

step "kernel up"
for m in snd-seq snd-seq-dummy snd-seq-midi configfs libcomposite usb_f_midi dummy_hcd snd-usb-audio; do
  modprobe "$m" || err "modprobe $m"
done
[ -c /dev/snd/seq ] || { err "no /dev/snd/seq after loading snd-seq"; finish; }

# The keyboard: a USB gadget with one MIDI function, bound to dummy_hcd's
# device controller by the tests (plug) and unbound again (unplug).
mount -t configfs none /sys/kernel/config
G=/sys/kernel/config/usb_gadget/testkeys
mkdir -p $G/strings/0x409 $G/configs/c.1/strings/0x409 $G/functions/midi.usb0
echo 0x1d6b >$G/idVendor
echo 0x0104 >$G/idProduct
echo "Chimewick Tests" >$G/strings/0x409/manufacturer
echo "Test Keys" >$G/strings/0x409/product
echo 0001 >$G/strings/0x409/serialnumber
echo MIDI >$G/configs/c.1/strings/0x409/configuration
echo testkeysgadget >$G/functions/midi.usb0/id
ln -s $G/functions/midi.usb0 $G/configs/c.1/ || err "configfs MIDI gadget"
UDC=$(ls /sys/class/udc | head -1)
[ -n "$UDC" ] || err "no USB device controller (dummy_hcd)"
step "modules loaded, keyboard made"

export LD_LIBRARY_PATH=/lib/x86_64-linux-gnu:/usr/lib/x86_64-linux-gnu
export HOME=/tmp XDG_RUNTIME_DIR=/tmp/xdg QT_QPA_PLATFORM=offscreen
export CHIMEWICK_AUDIO_OUTPUT=null CHIMEWICK_MIDI=virtual CHIMEWICK_SOUNDFONT="$SOUNDFONT"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1
export LSAN_OPTIONS=suppressions=$LSAN_SUPPRESSIONS:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export CHIMEWICK_TEST_USB_GADGET=$G CHIMEWICK_TEST_USB_UDC=$UDC CHIMEWICK_TEST_USB_CARD=testkeysgadget
export CHIMEWICK_TEST_USB_NAME="Test Keys"
mkdir -m 700 /tmp/xdg
cd /tmp

timeout 480 "$BIN/test_midi" --gtest_filter="$FILTER" >/tmp/test.log 2>&1
rc=$?
sed 's/^/@@LOG /' /tmp/test.log
echo "@@RESULT test_midi rc=$rc"
step "live tests done"

if [ -x "$BIN/bench_midi_idle_wakeups" ]; then
  CHIMEWICK_MIDI=alsa timeout 60 "$BIN/bench_midi_idle_wakeups" 2>&1 | sed 's/^/@@LOG /'
  step "idle wake-ups measured"
fi
finish
