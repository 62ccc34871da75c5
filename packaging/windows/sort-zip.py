"""Writes a zip again the same way every time: members sorted by name, each
with the given time, its own mode and no owner. Usage: sort-zip.py EPOCH ZIP"""
import struct
import sys
import time
import zipfile

epoch, path = int(sys.argv[1]), sys.argv[2]
with zipfile.ZipFile(path) as old:
    members = [(info, old.read(info)) for info in sorted(old.infolist(), key=lambda i: i.filename)]
with zipfile.ZipFile(path, "w") as new:
    for info, data in members:
        # DOS time fields carry no zone: UTC, as the time field below.
        fixed = zipfile.ZipInfo(info.filename, time.gmtime(epoch)[:6])
        fixed.create_system = 3  # Unix, so that unzip restores the mode
        fixed.external_attr = info.external_attr
        fixed.extra = struct.pack("<HHBl", 0x5455, 5, 1, epoch)  # Unix mtime
        fixed.compress_type = zipfile.ZIP_DEFLATED
        new.writestr(fixed, data, compresslevel=9)
