#!/usr/bin/env bash
# The real-driver tier: boots the installed Debian kernel under QEMU with an initramfs built
# here (busybox, the disk drivers, udev, ferrowipe-cli and the reference tools), lets the guest
# run checks.sh against ten emulated disks on six kinds of controller, then checks the disk
# images byte by byte. Only image files made here are ever written.
#
# Usage: bash tests/vm/run.sh BUILD_DIR
# FERROWIPE_SKIP_TIERS=vm skips the tier (and says so); without it a machine that cannot run
# the guest fails the tier. FERROWIPE_VM_ACCEL=kvm|tcg forces an accelerator (default: KVM
# when it works, see below). FERROWIPE_VM_STRICT_REPEAT=0 reports failed back-to-back runs
# of details and smart without failing the tier.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: run.sh BUILD_DIR}" && pwd)

case ",${FERROWIPE_SKIP_TIERS:-}," in
  *,vm,*) echo "vm: skipped (FERROWIPE_SKIP_TIERS)"; exit 0 ;;
esac

fail() {
  echo "vm: cannot run: $*" >&2
  echo "0 passed, 1 failed"
  exit 1
}

cli=$build/ferrowipe-cli
[ -x "$cli" ] || fail "no $cli (build it first)"
kernel=$(ls /boot/vmlinuz-* 2>/dev/null | sort -V | tail -n 1)
[ -n "$kernel" ] || fail "no kernel in /boot (Debian's linux-image-amd64)"
kver=${kernel#/boot/vmlinuz-}
[ -d "/lib/modules/$kver" ] || fail "no /lib/modules/$kver"
[ -r "$kernel" ] || fail "$kernel is not readable"
tools=(qemu-system-x86_64 busybox cpio modprobe udevadm smartctl hdparm nvme lsblk sfdisk
       mkfs.ext4 mkfs.vfat e2fsck blkid cmp jq)
for t in "${tools[@]}"; do
  command -v "$t" >/dev/null || PATH=$PATH:/usr/sbin:/sbin command -v "$t" >/dev/null ||
    fail "$t is missing (bash scripts/setup.sh installs it)"
done
export PATH=$PATH:/usr/sbin:/sbin
busybox=$(command -v busybox)
file -L "$busybox" 2>/dev/null | grep -q "statically linked" || fail "$busybox is not static (busybox-static)"

modules=(ahci ata_piix sd_mod nvme xhci_pci usb-storage uas virtio_pci virtio_scsi ext4 vfat
         nls_cp437 nls_iso8859-1)

# --- the initramfs, cached by kernel version and by every input's hash ---
cache=$build/vm-cache
mkdir -p "$cache"
key=$( (echo "$kver"; cat "$cli" "$here"/init.sh "$here"/checks.sh "$here"/disks.txt "$0"
        for t in "${tools[@]}"; do command -v "$t"; done) | sha256sum | cut -c1-16)
initrd=$cache/initrd-$kver-$key.cpio.gz

copy_with_libraries() {  # root, source file, destination path in the guest
  local root=$1 src=$2 dst=$3
  mkdir -p "$root$(dirname "$dst")"
  cp -L "$src" "$root$dst"
  ldd "$src" 2>/dev/null | grep -o '/[^ ]*' | while read -r lib; do
    # The guest's tree is merged /usr like the host's: /lib is a link to usr/lib.
    local real
    real=$(readlink -f "$lib")
    local dir
    dir=$(readlink -f "$(dirname "$lib")")
    mkdir -p "$root$dir"
    [ -e "$root$dir/$(basename "$lib")" ] || cp -L "$real" "$root$dir/$(basename "$lib")"
  done
}

build_initrd() {
  local root
  root=$(mktemp -d "$cache/root.XXXXXX")
  mkdir -p "$root"/{usr/bin,usr/lib,usr/lib64,usr/sbin,bb,etc,proc,sys,dev,run,tmp,mnt}
  ln -s usr/lib "$root/lib"
  ln -s usr/lib64 "$root/lib64"
  ln -s usr/bin "$root/bin"
  ln -s usr/sbin "$root/sbin"
  cp "$busybox" "$root/bb/busybox"
  for applet in $("$busybox" --list); do
    [ "$applet" = busybox ] || ln -s busybox "$root/bb/$applet"
  done
  for t in ferrowipe-cli smartctl hdparm nvme lsblk sfdisk mkfs.ext4 mkfs.vfat e2fsck blkid cmp jq \
           udevadm; do
    local src
    if [ "$t" = ferrowipe-cli ]; then src=$cli; else src=$(command -v "$t"); fi
    copy_with_libraries "$root" "$src" "/usr/bin/$t"
  done
  # udevd is udevadm under another name; e2fsck is called where Debian keeps it.
  mkdir -p "$root/usr/lib/systemd"
  ln -s ../../bin/udevadm "$root/usr/lib/systemd/systemd-udevd"
  ln -s ../bin/e2fsck "$root/usr/sbin/e2fsck"
  # udev's rules and helpers (ata_id, scsi_id), without the large hardware database.
  mkdir -p "$root/usr/lib/udev"
  cp -a /usr/lib/udev/rules.d "$root/usr/lib/udev/"
  for helper in ata_id scsi_id; do
    [ -x "/usr/lib/udev/$helper" ] && copy_with_libraries "$root" "/usr/lib/udev/$helper" "/usr/lib/udev/$helper"
  done
  printf 'root:x:0:0::/:/bb/sh\n' >"$root/etc/passwd"
  for g in root:0 tty:5 disk:6 lp:7 kmem:15 dialout:20 cdrom:24 floppy:25 tape:26 audio:29 \
           video:44 input:105 kvm:106 render:107 sgx:108; do
    printf '%s:x:%s:\n' "${g%:*}" "${g#*:}" >>"$root/etc/group"
  done
  # The drivers, each after what it needs.
  : >"$root/modules.list"
  while read -r ko; do
    mkdir -p "$root$(dirname "$ko")"
    cp "$ko" "$root$ko"
    echo "$ko" >>"$root/modules.list"
  done < <(bash "$here/modules.sh" "$kver" "${modules[@]}")
  cp "$here/init.sh" "$root/init"
  cp "$here/checks.sh" "$root/checks.sh"
  cp "$here/disks.txt" "$root/disks.txt"
  chmod +x "$root/init"
  (cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$initrd.tmp"
  mv "$initrd.tmp" "$initrd"
  rm -rf "$root"
}

if [ ! -s "$initrd" ]; then
  echo "vm: building the initramfs for $kver"
  rm -f "$cache"/initrd-*.cpio.gz
  build_initrd
fi

# --- the disks: images filled with 0xFF so that an unwritten byte shows ---
work=$(mktemp -d "$build/vm-work.XXXXXX")
qemu_pid=""
cleanup() {
  if [ -n "$qemu_pid" ]; then kill "$qemu_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
ones() { head -c "$1" /dev/zero | tr '\0' '\377'; }
declare -a qemu_disks=()
piix_unit=0
ahci_port=0
while read -r name mib kind bus erase; do
  case $name in '#'* | '') continue ;; esac
  img=$work/$name.img
  bytes=$((mib * 1048576))
  if [ "$mib" -gt 4096 ]; then
    # The large disk stays sparse: only the regions a quick wipe touches and their borders.
    truncate -s "$bytes" "$img"
    ones $((12 * 1048576)) | dd of="$img" conv=notrunc status=none
    ones $((2 * 1048576)) | dd of="$img" bs=1M seek=$((mib - 2)) conv=notrunc status=none
  else
    ones "$bytes" >"$img"
  fi
  id=d_$name
  qemu_disks+=(-drive "if=none,id=$id,file=$img,format=raw,cache=unsafe")
  sn=FWSN${name^^}
  case $kind in
    ahci)
      qemu_disks+=(-device "ide-hd,bus=ahci.$ahci_port,drive=$id,model=FERRO ${name^^} DISK,serial=$sn,ver=FW${mib}")
      ahci_port=$((ahci_port + 1)) ;;
    piix)
      qemu_disks+=(-device "ide-hd,bus=ide.0,unit=$piix_unit,drive=$id,model=FERRO ${name^^} DISK,serial=$sn,ver=FW${mib}")
      piix_unit=$((piix_unit + 1)) ;;
    nvme) qemu_disks+=(-device "nvme,serial=$sn,drive=$id") ;;
    nvme4k)
      qemu_disks+=(-device "nvme,serial=$sn,drive=$id,logical_block_size=4096,physical_block_size=4096") ;;
    usb-bot) qemu_disks+=(-device "usb-storage,bus=xhci.0,drive=$id,serial=$sn") ;;
    usb-uas)
      qemu_disks+=(-device "usb-uas,id=uas,bus=xhci.0"
                   -device "scsi-hd,bus=uas.0,scsi-id=0,lun=0,drive=$id,serial=$sn,vendor=FERRO,product=UAS DISK,ver=U1") ;;
    virtio-scsi)
      qemu_disks+=(-device "scsi-hd,bus=vscsi.0,drive=$id,serial=$sn,vendor=FERRO,product=VSCSI DISK,ver=V1") ;;
    *) fail "unknown controller $kind in disks.txt" ;;
  esac
done <"$here/disks.txt"

# KVM where the machine offers it, else software emulation. Some nested KVMs start the
# firmware and then never the kernel: when /init has not spoken within 20 s, software
# emulation takes over.
accel=${FERROWIPE_VM_ACCEL:-}
if [ -z "$accel" ]; then
  if [ -w /dev/kvm ]; then accel=kvm; else accel=tcg; fi
fi
case $accel in kvm | tcg) ;; *) fail "FERROWIPE_VM_ACCEL=$accel (kvm or tcg)" ;; esac
if [ "$accel" = kvm ] && [ ! -w /dev/kvm ]; then fail "FERROWIPE_VM_ACCEL=kvm but /dev/kvm is not usable"; fi

boot() {  # accelerator, CPU model; runs QEMU in the background as $qemu_pid
  : >"$work/console.log"
  : >"$work/results.log"
  timeout "${FERROWIPE_VM_TIMEOUT:-900}" qemu-system-x86_64 -M pc -accel "$1" -cpu "$2" -smp 2 -m 1024 \
    -nodefaults -display none -no-reboot \
    -kernel "$kernel" -initrd "$initrd" \
    -append "console=ttyS0 loglevel=4 panic=-1 rdinit=/init ferrowipe.strict_repeat=${FERROWIPE_VM_STRICT_REPEAT:-1}" \
    -serial "file:$work/console.log" -serial "file:$work/results.log" \
    -device ahci,id=ahci -device qemu-xhci,id=xhci -device virtio-scsi-pci,id=vscsi \
    "${qemu_disks[@]}" </dev/null >"$work/qemu.out" 2>&1 &
  qemu_pid=$!
}
booted() { grep -q '^BOOTED' "$work/results.log" 2>/dev/null; }

start=$(date +%s)
if [ "$accel" = kvm ]; then
  echo "vm: booting $kver (kvm)"
  boot kvm host
  for _ in $(seq 40); do
    booted && break
    kill -0 "$qemu_pid" 2>/dev/null || break
    sleep 0.5
  done
  if ! booted; then
    kill "$qemu_pid" 2>/dev/null || true
    wait "$qemu_pid" 2>/dev/null || true
    echo "vm: KVM started no kernel within 20 s; software emulation instead"
    accel=tcg
  fi
fi
if [ "$accel" = tcg ]; then
  echo "vm: booting $kver (tcg)"
  boot tcg max
fi
set +e
wait "$qemu_pid"
qemu_status=$?
qemu_pid=""
set -e
echo "vm: guest ran $(( $(date +%s) - start )) s (QEMU status $qemu_status)"
cp "$work/console.log" "$build/vm-console.log" 2>/dev/null || true
cp "$work/results.log" "$build/vm-results.log" 2>/dev/null || true

passed=0
failed=0
record() {  # name, PASS|FAIL, detail
  echo "CHECK $1 $2 $3"
  if [ "$2" = PASS ]; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
}
tr -d '\r' <"$work/results.log" | grep '^CHECK ' >"$work/checks" || true
while read -r _ name verdict detail; do record "$name" "$verdict" "$detail"; done <"$work/checks"
if ! tr -d '\r' <"$work/results.log" | grep -q '^END 0'; then
  record guest.finished FAIL "no END line (see $build/vm-console.log); QEMU: $(tail -n 3 "$work/qemu.out" | tr '\n' ' ')"
fi

# --- the host's view of the images ---
same_as() {  # image, offset, length, reference stream command
  cmp -s -n "$3" <(tail -c +"$(($2 + 1))" "$1") <($4 "$3")
}
zeros() { head -c "$1" /dev/zero; }
while read -r name mib kind bus erase; do
  case $name in '#'* | '') continue ;; esac
  img=$work/$name.img
  bytes=$((mib * 1048576))
  case $erase in
    format | format-nvm)
      if cmp -s -n "$bytes" "$img" /dev/zero; then record "$name.host.zero" PASS "$bytes bytes"
      else record "$name.host.zero" FAIL "$(cmp -n "$bytes" "$img" /dev/zero 2>&1 | head -n 1)"; fi ;;
    quick)
      # Exactly the first 10,240,000 bytes and the last MiB; the bytes between untouched.
      head_ok=$(same_as "$img" 0 10240000 zeros && echo y || echo n)
      after_ok=$(same_as "$img" 10240000 $((12 * 1048576 - 10240000)) ones && echo y || echo n)
      before_tail_ok=$(same_as "$img" $((bytes - 2 * 1048576)) 1048576 ones && echo y || echo n)
      tail_ok=$(same_as "$img" $((bytes - 1048576)) 1048576 zeros && echo y || echo n)
      if [ "$head_ok$after_ok$before_tail_ok$tail_ok" = yyyy ]; then
        record "$name.host.regions" PASS "head 10240000 and tail 1048576 zero, between untouched"
      else
        record "$name.host.regions" FAIL "head=$head_ok after=$after_ok before-tail=$before_tail_ok tail=$tail_ok"
      fi ;;
  esac
done <"$here/disks.txt"

tr -d '\r' <"$work/results.log" | grep '^TIME ' | tr '\n' ' ' | sed 's/^/vm: guest times (s since boot): /; s/$/\n/' || true
echo "vm: tier took $(( $(date +%s) - start )) s after the initramfs"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
