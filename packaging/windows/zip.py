"""Writes the Windows zip the same way every time: members sorted by name, each
with the given time, its file's mode and no owner.
Usage: zip.py EPOCH ZIP NAME=FILE..."""
import os
import struct
import sys
import time
import zipfile

epoch, path = int(sys.argv[1]), sys.argv[2]
members = sorted(arg.split("=", 1) for arg in sys.argv[3:])
with zipfile.ZipFile(path + ".tmp", "w") as new:
    for name, source in members:
        # DOS time fields carry no zone: UTC, as the time field below.
        info = zipfile.ZipInfo(name, time.gmtime(epoch)[:6])
        info.create_system = 3  # Unix, so that unzip restores the mode
        info.external_attr = (0o100755 if os.access(source, os.X_OK) else 0o100644) << 16
        info.extra = struct.pack("<HHBl", 0x5455, 5, 1, epoch)  # Unix mtime
        info.compress_type = zipfile.ZIP_DEFLATED
        with open(source, "rb") as data:
            new.writestr(info, data.read(), compresslevel=9)
os.replace(path + ".tmp", path)
