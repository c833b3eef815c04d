#!/bb/sh
# The guest's /init: the kernel's file systems, the disk drivers, udev as on a real system,
# then the checks; the machine powers off whatever they do.
export PATH=/usr/sbin:/usr/bin:/bb
/bb/mount -t proc proc /proc
/bb/mount -t sysfs sys /sys
/bb/mount -t devtmpfs dev /dev
/bb/mkdir -p /dev/pts /run /tmp /mnt
/bb/mount -t tmpfs run /run
/bb/mount -t tmpfs tmp /tmp
results=/dev/ttyS1
echo BOOTED >"$results"

# In the order the host's modules.dep gave; a module already built in is no error.
while read -r module; do
  /bb/insmod "$module" 2>/dev/null || echo "init: insmod $module failed" >&2
done </modules.list

/usr/lib/systemd/systemd-udevd --daemon --resolve-names=never
/usr/bin/udevadm trigger --action=add --type=subsystems
/usr/bin/udevadm trigger --action=add --type=devices
/usr/bin/udevadm settle --timeout=60

/bb/sh /checks.sh >"$results" 2>/dev/ttyS0
echo "END $?" >"$results"
/bb/sync
/bb/poweroff -f
