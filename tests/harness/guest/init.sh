#!/bin/bash
# PID 1 of the test guest (kernel argument init=/sbin/setup-guest-init): mounts
# what programs expect, runs /job/job.sh from the second disk with its output on
# the serial console, and powers off. A crash of the kernel ends the machine too
# (panic=1 with qemu's -no-reboot), so the host sees no result line.
export PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root
mounted() { mountpoint -q "$1" || mount -t "$2" "$2" "$1"; }
# The initrd has moved its own /sys, /dev and /run here already.
mounted /proc proc
mounted /sys sysfs
mounted /dev devtmpfs
mkdir -p /dev/pts /dev/shm
mounted /dev/pts devpts
mounted /dev/shm tmpfs
mounted /run tmpfs
mounted /tmp tmpfs
ip link set lo up
exec </dev/null >/dev/ttyS0 2>&1
mkdir -p /job
if mount /dev/vdb /job; then
  bash /job/job.sh
  umount -R /job 2>/dev/null
else
  echo "guest: no job disk"
fi
# Whatever the job wrote to the root disk (the prefix template) is kept.
sync
mount -o remount,ro /
echo o > /proc/sysrq-trigger
sleep 60
