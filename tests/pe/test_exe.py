#!/usr/bin/python3
"""The shipping exe as a file: PE32 i386 for the GUI with the header flags it needs,
entered at the entry symbol of the link map, importing exactly what imports.txt lists,
with its icon group, version record (of VERSION) and manifest, in 24 KiB. Usage: test_exe.py EXE MAP IMPORTS VERSION"""
import os, re, struct, sys, xml.etree.ElementTree

try:
    import pefile
except ImportError:
    sys.exit(print("SKIP: python3-pefile is not installed") or 77)

exe, link_map, imports, version = sys.argv[1:5]
major, minor, patch = map(int, version.split("."))
pe, failures = pefile.PE(exe), []


def check(what, got, want):
    if got != want:
        failures.append(f"{what}:\n  got  {got!r}\n  want {want!r}")


fh, oh = pe.FILE_HEADER, pe.OPTIONAL_HEADER
check("bytes beyond 24 KiB", max(os.path.getsize(exe) - 24 * 1024, 0), 0)
# BinSkim's rules that GNU ld can meet, Terminal Server awareness and the CheckSum (docs/windows-exe.md).
check("machine, magic, subsystem, CheckSum, base relocations", (fh.Machine, oh.Magic, oh.Subsystem, oh.CheckSum,
      hasattr(pe, "DIRECTORY_ENTRY_BASERELOC")), (0x14C, 0x10B, 2, pe.generate_checksum(), True))
check("DllCharacteristics", [f for f in dir(oh) if f.startswith("IMAGE_DLLCHARACTERISTICS_") and getattr(oh, f)],
      ["IMAGE_DLLCHARACTERISTICS_" + f for f in ("DYNAMIC_BASE", "NO_SEH", "NX_COMPAT", "TERMINAL_SERVER_AWARE")])
check("sections writable and shared or executable",
      [s.Name for s in pe.sections if s.IMAGE_SCN_MEM_WRITE and (s.IMAGE_SCN_MEM_SHARED or s.IMAGE_SCN_MEM_EXECUTE)], [])
with open(link_map) as f:
    entry = re.findall(r"^\s+0x([0-9a-f]+)\s+_?TolvStartup@0$", f.read(), re.M)
check("entry point, _TolvStartup@0 in the map", [oh.ImageBase + oh.AddressOfEntryPoint], [int(a, 16) for a in entry])

with open(imports) as f:
    listed = {dll: sorted(names) for dll, *names in (line.split() for line in f if not line.startswith("#"))}
check("imports as listed in " + imports,
      {d.dll.decode(): sorted(i.name.decode() for i in d.imports) for d in pe.DIRECTORY_ENTRY_IMPORT}, listed)

res = {(t.id, str(n.name or n.id), lang.id): pe.get_data(lang.data.struct.OffsetToData, lang.data.struct.Size)
       for t in pe.DIRECTORY_ENTRY_RESOURCE.entries for n in t.directory.entries for lang in n.directory.entries}
check("resources (type, name, language)", sorted(res),
      sorted([(3, str(i), 0x411) for i in range(1, 5)] + [(14, "MAINICON", 0x411), (16, "1", 0x411), (24, "1", 0x411)]))
group = res.get((14, "MAINICON", 0x411), bytes(6))
icons = []
for i in range(struct.unpack_from("<H", group, 4)[0]):
    w, h, colours, _, _, bits, _, number = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
    # The image itself: a BITMAPINFOHEADER of that width, 8 bits a pixel.
    _, dib_w, _, _, dib_bits = struct.unpack_from("<IiiHH", res.get((3, str(number), 0x411), bytes(16)))
    icons.append((w, h, colours, bits, number, dib_w, dib_bits))
check("MAINICON images", icons, [(s, s, 0, 8, i + 1, s, 8) for i, s in enumerate([64, 48, 16, 32])])

v = pe.VS_FIXEDFILEINFO[0]
check("fixed versions", (v.FileVersionMS, v.FileVersionLS, v.ProductVersionMS, v.ProductVersionLS), (major << 16 | minor, patch << 16) * 2)
strings = {k.decode(): s.decode() for info in pe.FileInfo[0] for table in getattr(info, "StringTable", [])
           for k, s in table.entries.items()}
check("version strings", (strings.get("FileVersion"), strings.get("ProductVersion")), (f"{major}.{minor}.{patch}.0", f"{major}.{minor}"))
# The manifest as the build configured it from res/tolv.manifest.in, well-formed, for x86 throughout.
with open(os.path.join(os.path.dirname(exe), "res", "tolv.manifest"), "rb") as f:
    check("manifest", res.get((24, "1", 0x411)), f.read())
manifest = xml.etree.ElementTree.fromstring(res.get((24, "1", 0x411), b"<missing/>"))  # raises unless well-formed
check("manifest's architectures", {e.get("processorArchitecture") for e in manifest.iter()} - {None}, {"x86"})
print("\n".join(failures) or f"{exe}: all checks pass")
sys.exit(1 if failures else 0)
