// Machines as real installations show them to the layer: sys/block as links into sys/devices,
// device-mapper names, snaps on loop devices, empty card slots, and mount tables copied from
// real kernels (mount points other than "/" moved into the machine's folder).
#pragma once

#include "tests/support/fixture_machine.h"

// Ubuntu 22.04 desktop: nvme0n1 (EFI, ext4 root), 26 snaps on loop0..loop25, a data disk
// sda1 labelled "Data" mounted after the snaps.
void buildUbuntuSnapDesktop(FixtureMachine &machine);

// Fedora's default: nvme0n1p3 in LUKS (dm-0 "luks-…"), btrfs on it with the subvolumes root
// (at "/") and home, ext4 /boot, EFI; zram0 as swap.
void buildFedoraBtrfsOnLuks(FixtureMachine &machine);
extern const char kFedoraLuksName[];

// Ubuntu's encrypted default: nvme0n1p3 in LUKS (dm-0), LVM on it (dm-1 vgubuntu-root at "/",
// dm-2 vgubuntu-swap_1), ext4 /boot, EFI, and a few snaps.
void buildUbuntuLvmOnLuks(FixtureMachine &machine);

// Three NVMe controllers numbered 0, 2 and 10 (root, /home, /srv) and a shelf of sd disks
// sda, sdb, sdz and sdaa, not mounted.
void buildNvmeWorkstation(FixtureMachine &machine);

// A laptop: sda (EFI, ext4 root) and a two-slot USB card reader (sdb, sdc) with no cards.
void buildLaptopWithCardReader(FixtureMachine &machine);
// A card goes into the reader's first slot: sdb gets its size and a partition sdb1.
void insertCard(FixtureMachine &machine);

// A board booting from eMMC: mmcblk0 with its boot areas and rpmb, EFI and ext4 root, and an
// SD card mmcblk1 labelled "SDCARD" mounted under /media.
void buildEmmcBoard(FixtureMachine &machine);
