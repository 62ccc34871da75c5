#!/usr/bin/python3
"""Inspects a cross-built tolv.exe as a file: headers, imports, entry point
and resources, read with pefile, objdump and wrestool.

    test_exe.py --exe EXE --map MAP --ico ICO --arch i686|x86_64 GROUP

GROUP is one of the test classes below. A group whose tool is missing exits
with 77, which CTest reports as skipped.
"""

import argparse
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

SKIP = 77

ARCHES = {
    "i686": {"machine": 0x14C, "magic": 0x10B, "format": "pei-i386",
             "objdump": "i686-w64-mingw32-objdump",
             # ld prints i386 symbols without their leading underscore.
             "entry": ("_TolvStartup@0", "TolvStartup@0")},
    "x86_64": {"machine": 0x8664, "magic": 0x20B, "format": "pei-x86-64",
               "objdump": "x86_64-w64-mingw32-objdump",
               "entry": ("TolvStartup",)},
}

# The shipping exe is meant to stay tiny.
MAX_SIZE = 32 * 1024

IMPORTS = {
    "KERNEL32.dll": {"CreateToolhelp32Snapshot", "Process32First", "Process32Next",
                     "OpenProcess", "SetPriorityClass", "GetLastError", "CloseHandle",
                     "GetCommandLineA", "ExitProcess"},
    "USER32.dll": {"MessageBoxA"},
}
# The C runtime functions the tool calls; the compiler may add memcpy/memmove.
CRT_ALLOWED = {"sprintf", "strcat", "memset", "malloc", "free", "strlen", "strcpy",
               "strcmp", "strtok", "strtoul", "isalpha", "isupper", "tolower",
               "memcpy", "memmove"}
DLLS = {"KERNEL32.dll", "USER32.dll", "msvcrt.dll"}

LANG_JA = 0x0411
RT_ICON, RT_GROUP_ICON, RT_VERSION = 3, 14, 16
ICON_SIZES = [64, 48, 16, 32]

STRINGS = [
    ("InternalName", "Tolvenar"),
    ("ProductName", "Tolvenar"),
    ("FileVersion", "1.0.0.0"),
    ("ProductVersion", "1.0"),
    ("CompanyName", "Tolvenar Project"),
    ("LegalCopyright", "Copyright (C) 2026 Tolvenar Project"),
    ("FileDescription", "稼働中の別プロセスの優先度を、コマンドラインで調整するアプリ。"),
]

ARGS = None  # set by main()


def read_ico(data):
    """The (width, height, colours, planes, bits, image bytes) of each entry."""
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    if (reserved, kind) != (0, 1):
        raise ValueError("not an icon file")
    entries = []
    for i in range(count):
        w, h, colours, _, planes, bits, size, offset = struct.unpack_from(
            "<BBBBHHII", data, 6 + 16 * i)
        entries.append((w or 256, h or 256, colours, planes, bits, data[offset:offset + size]))
    return entries


def read_version_node(data, pos=0):
    """One node of a version resource: (key, wType, value bytes, children).
    Each node is wLength, wValueLength, wType, a UTF-16 key, then the value
    and the children, each aligned to 4 bytes."""
    length, value_length, kind = struct.unpack_from("<HHH", data, pos)
    end = pos + length
    if length < 8 or end > len(data):
        raise ValueError(f"version node at {pos} has length {length}")
    key_end = pos + 6
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
        if key_end >= end:
            raise ValueError(f"version node at {pos} has no terminated key")
    key = data[pos + 6:key_end].decode("utf-16-le")
    cur = (key_end + 2 + 3) & ~3
    # A text value's length counts UTF-16 units, terminator included.
    value_bytes = value_length * 2 if kind == 1 else value_length
    value = data[cur:cur + value_bytes]
    cur = (cur + value_bytes + 3) & ~3
    children = []
    while cur < end:
        child, child_end = read_version_node(data, cur)
        children.append(child)
        cur = (child_end + 3) & ~3
    return (key, kind, value, children), end


class ExeTest(unittest.TestCase):
    longMessage = True

    def setUp(self):
        self.exe = ARGS.exe
        self.arch = ARCHES[ARGS.arch]
        self.assertTrue(os.path.isfile(self.exe),
                        f"{self.exe} is missing; build it with its preset first")

    def at(self, field):
        """Names the exe and the field in a failure message."""
        return f"{self.exe}: {field}"


class Pe(ExeTest):
    """Headers, imports, entry point and resources, read with pefile."""

    def setUp(self):
        super().setUp()
        import pefile
        self.pe = pefile.PE(self.exe)
        self.resources = {}
        directory = getattr(self.pe, "DIRECTORY_ENTRY_RESOURCE", None)
        for rtype in directory.entries if directory else []:
            for name in rtype.directory.entries:
                for lang in name.directory.entries:
                    key = (rtype.id, str(name.name) if name.name else name.id, lang.id)
                    entry = lang.data.struct
                    self.resources[key] = self.pe.get_data(entry.OffsetToData, entry.Size)

    def resource(self, rtype, name):
        key = (rtype, name, LANG_JA)
        if key not in self.resources:
            self.fail(self.at(f"no resource type {rtype} name {name!r} language 0x{LANG_JA:04x}; "
                              f"found {sorted(self.resources, key=str)}"))
        return self.resources[key]

    def test_headers(self):
        fh, oh = self.pe.FILE_HEADER, self.pe.OPTIONAL_HEADER
        self.assertEqual(fh.Machine, self.arch["machine"], self.at("FILE_HEADER.Machine"))
        self.assertEqual(oh.Magic, self.arch["magic"], self.at("OPTIONAL_HEADER.Magic"))
        self.assertEqual(oh.Subsystem, 2, self.at("OPTIONAL_HEADER.Subsystem (2 = GUI)"))
        self.assertTrue(fh.Characteristics & 0x0002, self.at("FILE_HEADER: executable image"))
        self.assertFalse(fh.Characteristics & 0x2000, self.at("FILE_HEADER: DLL flag"))
        self.assertLess(os.path.getsize(self.exe), MAX_SIZE, self.at("file size"))

    def test_imports(self):
        imports = {}
        for dll in getattr(self.pe, "DIRECTORY_ENTRY_IMPORT", []):
            name = dll.dll.decode()
            self.assertNotIn(name, imports, self.at(f"import of {name} listed twice"))
            for imp in dll.imports:
                self.assertIsNotNone(imp.name, self.at(f"{name} import by ordinal {imp.ordinal}"))
            imports[name] = {imp.name.decode() for imp in dll.imports}
        self.assertEqual(set(imports), DLLS, self.at("imported DLLs"))
        for name, functions in IMPORTS.items():
            self.assertEqual(imports[name], functions, self.at(f"functions from {name}"))
        self.assertTrue(imports["msvcrt.dll"], self.at("functions from msvcrt.dll"))
        self.assertLessEqual(imports["msvcrt.dll"], CRT_ALLOWED, self.at("functions from msvcrt.dll"))

    def test_entry_point_is_entry_symbol(self):
        oh = self.pe.OPTIONAL_HEADER
        with open(ARGS.map, encoding="utf-8", errors="replace") as f:
            found = [int(m.group(1), 16) for m in
                     re.finditer(r"^\s+0x([0-9a-f]+)\s+(\S+)$", f.read(), re.M)
                     if m.group(2) in self.arch["entry"]]
        self.assertEqual(len(found), 1, self.at(f"definitions of {self.arch['entry'][0]} in {ARGS.map}"))
        self.assertEqual(oh.ImageBase + oh.AddressOfEntryPoint, found[0],
                         self.at(f"AddressOfEntryPoint vs {self.arch['entry'][0]} in {ARGS.map}"))
        section = self.pe.get_section_by_rva(oh.AddressOfEntryPoint)
        self.assertIsNotNone(section, self.at("section of the entry point"))
        self.assertEqual(section.Name.rstrip(b"\0"), b".text", self.at("section of the entry point"))

    def test_resource_list(self):
        expected = {(RT_ICON, i, LANG_JA) for i in range(1, 5)}
        expected |= {(RT_GROUP_ICON, "MAINICON", LANG_JA), (RT_VERSION, 1, LANG_JA)}
        self.assertEqual(set(self.resources), expected, self.at("resources (type, name, language)"))

    def test_icon_group(self):
        group = self.resource(RT_GROUP_ICON, "MAINICON")
        reserved, kind, count = struct.unpack_from("<HHH", group, 0)
        self.assertEqual((reserved, kind, count), (0, 1, 4), self.at("MAINICON header"))
        self.assertEqual(len(group), 6 + 14 * count, self.at("MAINICON length"))
        for i, size in enumerate(ICON_SIZES):
            w, h, colours, _, planes, bits, length, icon_id = struct.unpack_from(
                "<BBBBHHIH", group, 6 + 14 * i)
            field = f"MAINICON entry {i}"
            self.assertEqual((w, h), (size, size), self.at(f"{field} size"))
            # 0 stands for 256 colours, which a byte cannot hold.
            self.assertEqual((colours, planes, bits), (0, 1, 8), self.at(f"{field} colours/planes/bits"))
            self.assertEqual(icon_id, i + 1, self.at(f"{field} icon ID"))
            image = self.resource(RT_ICON, icon_id)
            self.assertEqual(length, len(image), self.at(f"{field} length vs icon {icon_id}"))
            self.check_icon_image(image, size, f"icon {icon_id}")

    def check_icon_image(self, image, size, field):
        (header_size, w, h, planes, bits, compression, _, _, _,
         used, _) = struct.unpack_from("<IiiHHIIiiII", image, 0)
        self.assertEqual(header_size, 40, self.at(f"{field} BITMAPINFOHEADER (not a DIB?)"))
        # The height counts the colour rows and the mask rows.
        self.assertEqual((w, h, planes, bits, compression), (size, 2 * size, 1, 8, 0),
                         self.at(f"{field} width/height/planes/bits/compression"))
        self.assertIn(used, (0, 256), self.at(f"{field} biClrUsed"))
        pixels_at = 40 + 256 * 4
        xor_stride = (size * 8 + 31) // 32 * 4
        and_stride = (size + 31) // 32 * 4
        self.assertEqual(len(image), pixels_at + (xor_stride + and_stride) * size,
                         self.at(f"{field} length"))
        # A round dial: several colours, and transparent corners around it.
        pixels = {image[pixels_at + y * xor_stride + x] for y in range(size) for x in range(size)}
        self.assertGreaterEqual(len(pixels), 4, self.at(f"{field} colours used"))
        mask = image[pixels_at + xor_stride * size:]
        self.assertEqual(mask[0] & 0x80, 0x80, self.at(f"{field} corner transparent"))
        centre = size // 2
        bit = mask[centre * and_stride + centre // 8] & (0x80 >> centre % 8)
        self.assertEqual(bit, 0, self.at(f"{field} centre opaque"))

    def test_icons_match_committed_ico(self):
        with open(ARGS.ico, "rb") as f:
            entries = read_ico(f.read())
        self.assertEqual([e[0] for e in entries], ICON_SIZES, self.at(f"{ARGS.ico} sizes"))
        for i, entry in enumerate(entries):
            self.assertEqual(self.resource(RT_ICON, i + 1), entry[5],
                             self.at(f"icon {i + 1} vs entry {i} of {ARGS.ico} (stale build?)"))

    def test_version_record(self):
        (key, kind, value, children), _ = read_version_node(self.resource(RT_VERSION, 1))
        self.assertEqual((key, kind, len(value)), ("VS_VERSION_INFO", 0, 52), self.at("VS_VERSION_INFO"))
        fixed = struct.unpack("<13I", value)
        names = ["dwSignature", "dwStrucVersion", "dwFileVersionMS", "dwFileVersionLS",
                 "dwProductVersionMS", "dwProductVersionLS", "dwFileFlagsMask", "dwFileFlags",
                 "dwFileOS", "dwFileType", "dwFileSubtype", "dwFileDateMS", "dwFileDateLS"]
        wanted = [0xFEEF04BD, 0x00010000, 0x00010000, 0, 0x00010000, 0,
                  0, 0, 0x4, 0x1, 0, 0, 0]
        for name, got, want in zip(names, fixed, wanted):
            self.assertEqual(got, want, self.at(f"VS_FIXEDFILEINFO.{name}"))

        blocks = {child[0]: child for child in children}
        self.assertEqual(sorted(blocks), ["StringFileInfo", "VarFileInfo"], self.at("version blocks"))

        tables = blocks["StringFileInfo"][3]
        self.assertEqual([t[0] for t in tables], ["041104b0"], self.at("StringFileInfo tables"))
        strings = []
        for name, kind, value, _ in tables[0][3]:
            self.assertEqual(kind, 1, self.at(f"StringFileInfo {name} wType (1 = text)"))
            self.assertTrue(value.endswith(b"\0\0"), self.at(f"StringFileInfo {name} terminator"))
            strings.append((name, value[:-2].decode("utf-16-le")))
        self.assertEqual(strings, STRINGS, self.at("StringFileInfo 041104b0 strings, in order"))

        variables = blocks["VarFileInfo"][3]
        self.assertEqual([(v[0], v[1], v[2]) for v in variables],
                         [("Translation", 0, struct.pack("<HH", 0x0411, 0x04B0))],
                         self.at("VarFileInfo Translation"))


class Objdump(ExeTest):
    """Headers and imports as binutils reads them."""

    def setUp(self):
        super().setUp()
        self.out = subprocess.run([find_objdump(ARGS.arch), "-p", self.exe], check=True,
                                  capture_output=True, text=True).stdout

    def test_headers(self):
        self.assertRegex(self.out, rf"file format {self.arch['format']}\n", self.at("file format"))
        self.assertRegex(self.out, r"\nSubsystem\s+00000002\s+\(Windows GUI\)", self.at("Subsystem"))
        magic = "PE32" if self.arch["magic"] == 0x10B else "PE32+"
        self.assertRegex(self.out, rf"\nMagic\s+0{self.arch['magic']:x}\s+\({re.escape(magic)}\)",
                         self.at("Magic"))

    def test_imports(self):
        imports, current = {}, None
        for line in self.out.splitlines():
            m = re.match(r"\s*DLL Name: (\S+)$", line)
            if m:
                current = imports.setdefault(m.group(1), set())
                continue
            # Lookup entries: vma, hint, name.
            m = re.match(r"\s+[0-9a-f]+\s+\d+\s+(\w+)$", line)
            if m and current is not None:
                current.add(m.group(1))
            elif not line.strip():
                current = None
        self.assertEqual(set(imports), DLLS, self.at("DLL Name entries"))
        for name, functions in IMPORTS.items():
            self.assertEqual(imports[name], functions, self.at(f"functions from {name}"))
        self.assertTrue(imports["msvcrt.dll"], self.at("functions from msvcrt.dll"))
        self.assertLessEqual(imports["msvcrt.dll"], CRT_ALLOWED, self.at("functions from msvcrt.dll"))


class Wrestool(ExeTest):
    """The resources as icoutils lists and extracts them."""

    def test_listing(self):
        out = subprocess.run(["wrestool", "-l", self.exe], check=True,
                             capture_output=True, text=True).stdout
        listed = re.findall(r"^--type=(\d+) --name=(\S+) --language=(\d+) \[type=(\w+)", out, re.M)
        self.assertEqual(len(listed), len(out.splitlines()), self.at(f"wrestool -l output:\n{out}"))
        expected = [("3", str(i), "1041", "icon") for i in range(1, 5)]
        expected += [("14", "'MAINICON'", "1041", "group_icon"), ("16", "1", "1041", "version")]
        self.assertEqual(sorted(listed), sorted(expected), self.at("resources listed by wrestool"))

    def test_extracted_icon_matches_committed_ico(self):
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "tolv.ico")
            subprocess.run(["wrestool", "-x", "--type=14", "--name=MAINICON", "-o", path, self.exe],
                           check=True, capture_output=True)
            with open(path, "rb") as f:
                extracted = read_ico(f.read())
        with open(ARGS.ico, "rb") as f:
            committed = read_ico(f.read())
        self.assertEqual([e[:5] for e in extracted], [(s, s, 0, 1, 8) for s in ICON_SIZES],
                         self.at("MAINICON entries (width, height, colours, planes, bits)"))
        self.assertEqual(extracted, committed, self.at(f"MAINICON vs {ARGS.ico}"))


def find_objdump(arch):
    return shutil.which(ARCHES[arch]["objdump"]) or shutil.which("objdump")


def missing(group):
    """Why the group cannot run here, or None."""
    if group == "Pe":
        try:
            import pefile  # noqa: F401
        except ImportError:
            return "python3-pefile is not installed"
    elif group == "Objdump":
        tool = find_objdump(ARGS.arch)
        if not tool:
            return "no objdump found"
        formats = subprocess.run([tool, "-i"], capture_output=True, text=True).stdout
        if ARCHES[ARGS.arch]["format"] not in formats:
            return f"{tool} does not read {ARCHES[ARGS.arch]['format']}"
    elif group == "Wrestool":
        if not shutil.which("wrestool"):
            return "wrestool (icoutils) is not installed"
    return None


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--map", required=True)
    parser.add_argument("--ico", required=True)
    parser.add_argument("--arch", required=True, choices=sorted(ARCHES))
    parser.add_argument("group", choices=["Pe", "Objdump", "Wrestool"])
    ARGS = parser.parse_args()
    why = missing(ARGS.group)
    if why:
        print(f"SKIP {ARGS.group} for {ARGS.exe}: {why}")
        return SKIP
    program = unittest.main(argv=[sys.argv[0], "-v", ARGS.group], exit=False)
    return 0 if program.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
