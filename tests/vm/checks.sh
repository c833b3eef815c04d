#!/bb/sh
# The checks the guest runs, one line each on standard output: CHECK <name> PASS|FAIL <detail>.
# Each disk is found by its size (the table gives every disk its own), never by what the
# program under test says about it. Reference tools are called by full path: the static
# busybox would run its own applets first.
cli=/usr/bin/ferrowipe-cli
jq=/usr/bin/jq
smartctl=/usr/bin/smartctl
strict_repeat=1
case " $(cat /proc/cmdline) " in *" ferrowipe.strict_repeat=0 "*) strict_repeat=0 ;; esac

check() {  # name, PASS|FAIL, detail
  echo "CHECK $1 $2 $3"
}
same() {  # name, got, want
  if [ "$2" = "$3" ]; then check "$1" PASS "'$2'"; else check "$1" FAIL "got '$2' want '$3'"; fi
}
trim() { sed -e 's/^[[:space:]]*//' -e 's/[[:space:]]*$//'; }
# The value after a label in the program's report lines.
field() {  # file, label
  grep -m1 "^$2" "$1" | sed "s/^$2//" | trim
}
digits() { tr -cd '0-9'; }
# Seconds since boot before each part, for the host's timing report.
stamp() { echo "TIME $1 $(cut -d' ' -f1 /proc/uptime)"; }

dev_of_size() {  # MiB -> block device name
  want=$(($1 * 2048))
  for b in /sys/block/*; do
    if [ "$(cat "$b/size")" = "$want" ]; then echo "${b##*/}"; return; fi
  done
}
part() {  # disk, number -> partition name
  case $1 in *[0-9]) echo "${1}p$2" ;; *) echo "$1$2" ;; esac
}
no_partitions_left() {  # disk
  ! grep -Eq " $1p?[0-9]+\$" /proc/partitions
}
zero_from() {  # device, offset, length: the bytes there are all zero
  /usr/bin/cmp -s -n "$3" -i "$2:0" "$1" /dev/zero
}

stamp identity
"$cli" list --json >/tmp/list.json 2>/tmp/list.err
check list.json "$([ -s /tmp/list.json ] && echo PASS || echo FAIL)" "exit and output"

# --- identity, details and SMART of every disk, against the reference tools ---
while read -r name mib kind bus erase; do
  case $name in '#'* | '') continue ;; esac
  dev=$(dev_of_size "$mib")
  if [ -z "$dev" ]; then
    check "$name.present" FAIL "no disk of $mib MiB"
    continue
  fi
  check "$name.present" PASS "/dev/$dev"
  echo "$name $dev $mib $kind $bus $erase" >>/tmp/found
  # One jq call per document: each start costs a good part of a second under emulation.
  eval "$($jq -r --arg p "/dev/$dev" '.[] | select(.path == $p) |
    @sh "got_bus=\(.bus) got_model=\(.model) got_serial=\(.serial) got_firmware=\(.firmware) got_by_id=\(.by_id | join(" "))"' \
    /tmp/list.json)"
  same "$name.bus" "$got_bus" "$bus"
  # udev's links, as the program has them from its database, against the folder itself.
  by_id=$(for link in /dev/disk/by-id/*; do
    [ "$(readlink -f "$link")" = "/dev/$dev" ] && echo "$link"
  done | sort | tr '\n' ' ' | sed 's/ $//')
  same "$name.by_id" "$got_by_id" "$by_id"

  case $kind in
    ahci | piix)
      $smartctl -j -i -A "/dev/$dev" >/tmp/smartctl.json
      eval "$($jq -r '@sh "model=\(.model_name) serial=\(.serial_number) firmware=\(.firmware_version) blocks=\(.user_capacity.blocks) smart=\(.smart_support.available)"' /tmp/smartctl.json)"
      /usr/bin/hdparm -I "/dev/$dev" >/tmp/hdparm.txt
      same "$name.model.hdparm" "$model" "$(field /tmp/hdparm.txt '[[:space:]]*Model Number:')"
      same "$name.serial.hdparm" "$serial" "$(field /tmp/hdparm.txt '[[:space:]]*Serial Number:')"
      same "$name.firmware.hdparm" "$firmware" \
        "$(field /tmp/hdparm.txt '[[:space:]]*Firmware Revision:')"
      ;;
    nvme*)
      /usr/bin/nvme id-ctrl -o json "/dev/${dev%n*}" >/tmp/idctrl.json
      eval "$($jq -r '@sh "model=\(.mn) serial=\(.sn) firmware=\(.fr) vid=\(.vid)"' /tmp/idctrl.json)"
      model=$(echo "$model" | trim)
      serial=$(echo "$serial" | trim)
      firmware=$(echo "$firmware" | trim)
      ;;
    *)
      $smartctl -d scsi -j -i "/dev/$dev" >/tmp/smartctl.json
      eval "$($jq -r '@sh "model=\(.scsi_vendor + " " + .scsi_product) serial=\(.serial_number) firmware=\(.scsi_revision)"' /tmp/smartctl.json)"
      ;;
  esac
  same "$name.model" "$got_model" "$model"
  same "$name.serial" "$got_serial" "$serial"
  same "$name.firmware" "$got_firmware" "$firmware"

  "$cli" details "/dev/$dev" >/tmp/details.txt 2>/tmp/details.err
  status=$?
  # A disk reached without ATA or NVMe commands (QEMU's USB and SCSI disks) has no details to
  # show: the report says so and the exit status is 1, as for any drive that cannot be read.
  case $kind in
    ahci | piix | nvme*) same "$name.details.exit" "$status" 0 ;;
    *)
      same "$name.details.exit" "$status" 1
      same "$name.details.unavailable" "$(grep -c '^此裝置的詳細資料不可用。' /tmp/details.txt)" 1
      ;;
  esac
  case $kind in
    ahci | piix)
      same "$name.details.model" "$(field /tmp/details.txt '型號:')" "$model"
      same "$name.details.serial" "$(field /tmp/details.txt '序號:')" "$serial"
      same "$name.details.firmware" "$(field /tmp/details.txt '韌體版本:')" "$firmware"
      if [ "$blocks" -gt 268435455 ]; then label='帶有 LBA48 命令的磁區可用:'; else label='帶有 LBA 命令的磁區可用:'; fi
      same "$name.details.sectors" "$(field /tmp/details.txt "$label" | digits)" "$blocks"
      if [ "$smart" = true ]; then
        want='支援 SMART'
      else
        want='不支援 SMART'
      fi
      same "$name.details.smart" "$(grep -c "^ *$want *\$" /tmp/details.txt)" 1

      "$cli" smart "/dev/$dev" >/tmp/smart.txt 2>/tmp/smart.err
      same "$name.smart.exit" "$?" 0
      # ID, current, worst and raw of every attribute, in the drive's order.
      $jq -r '.ata_smart_attributes.table[] | "\(.id) \(.value) \(.worst) \(.raw.value)"' \
        /tmp/smartctl.json >/tmp/want.rows
      grep -E '^ [0-9]+ +[0-9A-F]{2}  ' /tmp/smart.txt |
        sed 's/ *([0-9]* 度) *$//' | awk '{print $1, $(NF-2), $(NF-1), $NF}' >/tmp/got.rows
      rows=$(wc -l </tmp/want.rows)
      if [ "$rows" -gt 0 ] && /usr/bin/cmp -s /tmp/got.rows /tmp/want.rows; then
        check "$name.smart.table" PASS "$rows attributes"
      else
        check "$name.smart.table" FAIL "got [$(tr '\n' ';' </tmp/got.rows)] want [$(tr '\n' ';' </tmp/want.rows)]"
      fi
      ;;
    nvme*)
      /usr/bin/nvme id-ns -o json "/dev/$dev" >/tmp/idns.json
      same "$name.details.namespace" \
        "$(field /tmp/details.txt '命名空間大小:' | sed 's/ 個磁區.*//' | digits)" \
        "$($jq -r .nsze /tmp/idns.json)"
      same "$name.details.vendor" \
        "$(field /tmp/details.txt 'PCI 廠商 ID:' | tr 'A-F' 'a-f' | sed 's/^0x//')" \
        "$(printf '%04x' "$vid")"

      "$cli" smart "/dev/$dev" >/tmp/smart.txt 2>/tmp/smart.err
      same "$name.smart.exit" "$?" 0
      /usr/bin/nvme smart-log -o json "/dev/$dev" >/tmp/log.json
      eval "$($jq -r '@sh "l_warning=\(.critical_warning) l_kelvin=\(.temperature) l_spare=\(.avail_spare) l_thresh=\(.spare_thresh) l_used=\(.percent_used) l_written=\(.data_units_written) l_cycles=\(.power_cycles) l_hours=\(.power_on_hours) l_unsafe=\(.unsafe_shutdowns) l_media=\(.media_errors) l_errlog=\(.num_err_log_entries)"' /tmp/log.json)"
      health() { field /tmp/smart.txt "  $1" | sed 's/ (.*//' | digits; }
      same "$name.health.warning" "$(field /tmp/smart.txt '  重大警告' | sed 's/ .*//')" \
        "$(printf '0x%02X' "$l_warning")"
      same "$name.health.temperature" "$(health 複合溫度)" \
        "$(($l_kelvin - 273))"
      same "$name.health.spare" "$(health 可用備用空間)" \
        "$l_spare"
      same "$name.health.threshold" "$(health 可用備用空間臨界值)" \
        "$l_thresh"
      same "$name.health.used" "$(health 已使用百分比)" "$l_used"
      same "$name.health.written" "$(health 寫入的資料單位)" \
        "$l_written"
      same "$name.health.power_cycles" "$(health 電源循環次數)" \
        "$l_cycles"
      same "$name.health.power_on_hours" "$(health 通電時數)" \
        "$l_hours"
      same "$name.health.unsafe_shutdowns" "$(health 不安全關機次數)" \
        "$l_unsafe"
      same "$name.health.media_errors" "$(health 媒體與資料完整性錯誤)" \
        "$l_media"
      same "$name.health.error_log" "$(health 錯誤記錄項目數)" \
        "$l_errlog"
      ;;
  esac
done </disks.txt

stamp methods
# --- the drive's own erase: what list --json offers against the reference tools ---
# One row per disk and method: path method available reason category.
$jq -r '.[] | .path as $p | (.erase_methods // [])[] |
  "\($p) \(.method) \(.available) \(.reason // "null") \(.category)"' /tmp/list.json >/tmp/methods
method_of() {  # device, method -> "available reason category"
  awk -v p="/dev/$1" -v m="$2" '$1 == p && $2 == m {print $3, $4, $5; exit}' /tmp/methods
}
expect_method() {  # check name, device, method, want available (true|false), want reason
  got=$(method_of "$2" "$3" | cut -d' ' -f1-2)
  if [ "$4" = true ]; then want="true null"; else want="false $5"; fi
  same "$1" "$got" "$want"
}
ata_methods="sanitize-block sanitize-crypto sanitize-overwrite secure-erase secure-erase-enhanced"
while read -r name dev mib kind bus erase; do
  same "$name.methods.zero" "$(method_of "$dev" zero)" "true null clear"
  case $kind in
    nvme*)
      /usr/bin/nvme id-ctrl -o json "/dev/${dev%n*}" >/tmp/idctrl.json
      eval "$($jq -r '@sh "oacs=\(.oacs) fna=\(.fna) sanicap=\(.sanicap)"' /tmp/idctrl.json)"
      flag() { if [ $(($1 & $2)) -ne 0 ]; then echo true; else echo false; fi; }
      any=false
      for m in "format-nvm $oacs 2" "format-nvm-crypto $((oacs & 2 ? fna : 0)) 4" \
               "sanitize-crypto $sanicap 1" "sanitize-block $sanicap 2" "sanitize-overwrite $sanicap 4"; do
        set -- $m
        want=$(flag "$2" "$3")
        [ "$want" = true ] && any=true
        expect_method "$name.methods.$1" "$dev" "$1" "$want" unsupported
        case $(method_of "$dev" "$1" | cut -d' ' -f3) in
          purge) check "$name.methods.$1.category" PASS purge ;;
          *) check "$name.methods.$1.category" FAIL "got '$(method_of "$dev" "$1")'" ;;
        esac
      done
      expect_method "$name.methods.purge" "$dev" purge "$any" unsupported
      ;;
    ahci | piix)
      /usr/bin/hdparm -I "/dev/$dev" >/tmp/hdparm.txt 2>/dev/null
      # The Security block: "supported", "not frozen"/"frozen", "supported: enhanced erase".
      security=$(sed -n '/^Security:/,/^[^[:space:]]/p' /tmp/hdparm.txt)
      sec=false; enhanced=false; frozen=false; locked=false
      echo "$security" | grep -q '^[[:space:]]*supported$' && sec=true
      echo "$security" | grep -q 'supported: enhanced erase' && enhanced=true
      echo "$security" | grep -q '^[[:space:]]*frozen' && frozen=true
      echo "$security" | grep -q '^[[:space:]]*locked' && locked=true
      reason_for() {  # supported flag
        if [ "$1" != true ]; then echo unsupported
        elif [ "$locked" = true ]; then echo locked
        elif [ "$frozen" = true ]; then echo frozen
        else echo none; fi
      }
      for m in "sanitize-crypto CRYPTO_SCRAMBLE_EXT" "sanitize-block BLOCK_ERASE_EXT" \
               "sanitize-overwrite OVERWRITE_EXT"; do
        set -- $m
        if grep -q "$2" /tmp/hdparm.txt; then has=true; else has=false; fi
        r=$(reason_for "$has")
        if [ "$r" = none ]; then expect_method "$name.methods.$1" "$dev" "$1" true
        else expect_method "$name.methods.$1" "$dev" "$1" false "$r"; fi
      done
      for m in "secure-erase $sec" "secure-erase-enhanced $enhanced"; do
        set -- $m
        r=$(reason_for "$2")
        if [ "$r" = none ]; then expect_method "$name.methods.$1" "$dev" "$1" true
        else expect_method "$name.methods.$1" "$dev" "$1" false "$r"; fi
      done
      # hdparm -N: "max sectors = CURRENT/NATIVE, HPA is ...".
      native=$(/usr/bin/hdparm -N "/dev/$dev" 2>/dev/null | sed -n 's/.*max sectors *= *\([0-9]*\)\/\([0-9]*\).*/\2 \1/p')
      set -- $native
      if [ -n "$native" ]; then
        same "$name.hidden_sectors" \
          "$($jq -r --arg p "/dev/$dev" '.[] | select(.path == $p) | .hidden_sectors' /tmp/list.json)" \
          "$(($1 - $2))"
      else
        check "$name.hidden_sectors" FAIL "hdparm -N gave no max sectors"
      fi
      ;;
    *)
      # QEMU's USB and SCSI disks pass no ATA command: no method of the drive's own.
      for m in $ata_methods; do expect_method "$name.methods.$m" "$dev" "$m" false no-passthrough; done
      ;;
  esac
done </tmp/found

# --- methods a disk cannot use are refused before anything is sent (exit 8) ---
mark() {  # device: a recognisable first sector
  printf 'FERROWIPE MARK %s' "$1" | dd of="/dev/$1" bs=512 count=1 conv=sync,notrunc 2>/dev/null
  sync
}
marked() {  # device -> the first sector's text
  echo 3 >/proc/sys/vm/drop_caches
  dd if="/dev/$1" bs=512 count=1 2>/dev/null | tr -d '\000' | head -c 40
}
refuse() {  # check name, device, method
  mark "$2"
  "$cli" format --method "$3" --yes "/dev/$2" >"/tmp/refuse.$1" 2>&1
  same "$1.exit" "$?" 8
  same "$1.untouched" "$(marked "$2")" "FERROWIPE MARK $2"
}
while read -r name dev mib kind bus erase; do
  case $kind in
    ahci) refuse "$name.refuse.sanitize-block" "$dev" sanitize-block
          refuse "$name.refuse.purge" "$dev" purge ;;
    usb-bot) refuse "$name.refuse.sanitize-crypto" "$dev" sanitize-crypto ;;
    nvme) if [ "$erase" = format-nvm ]; then
            # QEMU's controller would take SES 2 although it reports no cryptographic erase.
            refuse "$name.refuse.format-nvm-crypto" "$dev" format-nvm-crypto
            refuse "$name.refuse.sanitize-block" "$dev" sanitize-block
          fi ;;
  esac
done </tmp/found

stamp repeat
# --- details then smart, back to back, as a script would call them ---
repeat_disk=$(awk '$4 == "ahci" {print $2; exit}' /tmp/found)
failures=0
detail=""
for i in $(seq 20); do
  "$cli" details "/dev/$repeat_disk" >/dev/null 2>/tmp/repeat.err || {
    failures=$((failures + 1))
    detail="$detail details#$i:$(head -c 80 /tmp/repeat.err | tr '\n' ' ')"
  }
  "$cli" smart "/dev/$repeat_disk" >/dev/null 2>/tmp/repeat.err || {
    failures=$((failures + 1))
    detail="$detail smart#$i:$(head -c 80 /tmp/repeat.err | tr '\n' ' ')"
  }
done
if [ "$failures" = 0 ]; then
  check repeat.details_smart PASS "40 runs, 0 failed"
elif [ "$strict_repeat" = 0 ]; then
  check repeat.details_smart PASS "tolerated: $failures of 40 failed:$detail"
else
  check repeat.details_smart FAIL "$failures of 40 failed:$detail"
fi

# --- a busy mount is refused and its file system left as it was ---
# Partitions the disk: an ext4 first partition (with a file) and a FAT second one.
prepare() {  # disk, quick
  if [ "$2" = quick ]; then
    echo 'label: gpt
start=2048, size=8192, type=L' | /usr/bin/sfdisk -q "/dev/$1" >/dev/null
  else
    echo 'label: gpt
start=2048, size=32768, type=L
type=L' | /usr/bin/sfdisk -q "/dev/$1" >/dev/null
  fi
  /usr/bin/udevadm settle
  /usr/bin/mkfs.vfat "/dev/$(part "$1" 1)" >/dev/null
  mkdir -p "/mnt/$1.1"
  mount "/dev/$(part "$1" 1)" "/mnt/$1.1" && echo "kept $1" >"/mnt/$1.1/witness"
  if [ "$2" != quick ]; then
    /usr/bin/mkfs.ext4 -q -F "/dev/$(part "$1" 2)"
    mkdir -p "/mnt/$1.2"
    mount "/dev/$(part "$1" 2)" "/mnt/$1.2" && echo "kept $1" >"/mnt/$1.2/witness"
  fi
  sync
}

stamp busy
busy_disk=$(awk '$4 == "virtio-scsi" {print $2; exit}' /tmp/found)
if [ -n "$busy_disk" ]; then
  prepare "$busy_disk" full
  (cd "/mnt/$busy_disk.2" && exec sleep 600) &
  holder=$!
  "$cli" format --yes "/dev/$busy_disk" >/tmp/busy.out 2>&1
  status=$?
  same busy.exit "$status" 3
  same busy.still_mounted "$(grep -c " /mnt/$busy_disk.2 " /proc/mounts)" 1
  same busy.file_intact "$(cat "/mnt/$busy_disk.2/witness")" "kept $busy_disk"
  kill "$holder"
  wait "$holder" 2>/dev/null
  umount "/mnt/$busy_disk.2"
  if /usr/sbin/e2fsck -n -f "/dev/$(part "$busy_disk" 2)" >/tmp/fsck.out 2>&1; then
    check busy.fsck PASS clean
  else
    check busy.fsck FAIL "$(tail -n 2 /tmp/fsck.out | tr '\n' ' ')"
  fi
  mount "/dev/$(part "$busy_disk" 2)" "/mnt/$busy_disk.2"
fi

stamp erase
# --- erasures with the partitions mounted ---
while read -r name dev mib kind bus erase; do
  bytes=$((mib * 1048576))
  case $erase in
    format)
      [ "$dev" = "$busy_disk" ] || prepare "$dev" full
      "$cli" format --yes "/dev/$dev" >"/tmp/$name.format" 2>&1
      same "$name.format.exit" "$?" 0
      if no_partitions_left "$dev"; then check "$name.format.partitions" PASS gone
      else check "$name.format.partitions" FAIL "$(grep " $dev" /proc/partitions | tr '\n' ';')"; fi
      same "$name.format.mounts" "$(grep -c "^/dev/$dev" /proc/mounts)" 0
      echo 3 >/proc/sys/vm/drop_caches
      if zero_from "/dev/$dev" 0 "$bytes"; then check "$name.format.zero" PASS "$bytes bytes"
      else check "$name.format.zero" FAIL "$(/usr/bin/cmp -n "$bytes" "/dev/$dev" /dev/zero 2>&1)"; fi
      ;;
    format-nvm)
      # The controller's own Format NVM (user data erase), mounted partitions first.
      prepare "$dev" full
      "$cli" format --method format-nvm --yes "/dev/$dev" >"/tmp/$name.format" 2>&1
      same "$name.format-nvm.exit" "$?" 0
      if no_partitions_left "$dev"; then check "$name.format-nvm.partitions" PASS gone
      else check "$name.format-nvm.partitions" FAIL "$(grep " $dev" /proc/partitions | tr '\n' ';')"; fi
      same "$name.format-nvm.mounts" "$(grep -c "^/dev/$dev" /proc/mounts)" 0
      same "$name.format-nvm.size" "$(cat "/sys/block/$dev/size")" "$((mib * 2048))"
      echo 3 >/proc/sys/vm/drop_caches
      if zero_from "/dev/$dev" 0 "$bytes"; then check "$name.format-nvm.zero" PASS "$bytes bytes"
      else check "$name.format-nvm.zero" FAIL "$(/usr/bin/cmp -n "$bytes" "/dev/$dev" /dev/zero 2>&1)"; fi
      ;;
    quick)
      prepare "$dev" quick
      "$cli" format --quick --yes "/dev/$dev" >"/tmp/$name.format" 2>&1
      same "$name.quick.exit" "$?" 0
      if no_partitions_left "$dev"; then check "$name.quick.partitions" PASS gone
      else check "$name.quick.partitions" FAIL "$(grep " $dev" /proc/partitions | tr '\n' ';')"; fi
      echo 3 >/proc/sys/vm/drop_caches
      if zero_from "/dev/$dev" 0 10240000 && zero_from "/dev/$dev" $((bytes - 1048576)) 1048576; then
        check "$name.quick.zero" PASS "head and tail"
      else
        check "$name.quick.zero" FAIL "head or tail not zero"
      fi
      ;;
  esac
done </tmp/found
sync
stamp end
