#!/usr/bin/python3
"""Holds check_exe.py against copies of the real exe, each with one fault
patched into its manifest, PE header or version resource, and fails unless
the check rejects every one for the reason expected. The unpatched exe must
pass.

usage: check_exe_rejects.py EXE VERSION_HEADER
"""
import struct
import sys

import pefile

import check_exe

exe, version_header = sys.argv[1:3]
original = open(exe, "rb").read()
pe = pefile.PE(data=original)
machine = pe.FILE_HEADER.Machine
architecture = check_exe.ARCHITECTURES[machine]
version, text, original_name = check_exe.read_version_header(version_header)
dotted = ".".join(map(str, version))


def manifest(old, new):
    """Replaces text in the embedded manifest, keeping its length: the
    difference is taken from, or given to, the manifest's comment."""
    def patch(image):
        start = image.index(b"<?xml")
        end = image.index(b"</assembly>", start)
        body = image[start:end]
        assert body.count(old.encode()) == 1, f"{old!r} is not in the manifest once"
        changed = body.replace(old.encode(), new.encode())
        comment = changed.index(b"<!--") + 4
        room = len(changed) - len(body)
        assert changed[comment:changed.index(b"-->")].count(b" ") > room, "no room to keep the manifest's length"
        changed = changed[:comment] + changed[comment + room:] if room > 0 else \
            changed[:comment] + b" " * -room + changed[comment:]
        return image[:start] + changed + image[end:]
    return patch


def header(**fields):
    """Sets fields of the optional header (DllCharacteristics as a mask to clear)."""
    def patch(image):
        copy = pefile.PE(data=image)
        for name, value in fields.items():
            if name == "clear":
                copy.OPTIONAL_HEADER.DllCharacteristics &= ~pefile.DLL_CHARACTERISTICS[value]
            elif name == "relocations":
                copy.OPTIONAL_HEADER.DATA_DIRECTORY[5].Size = 0
            else:
                setattr(copy.OPTIONAL_HEADER, name, value)
        return bytes(copy.write())
    return patch


def utf16(old, new):
    """Replaces the first value of the version resource that is old, keeping
    its length."""
    assert len(old) == len(new)
    def patch(image):
        entry = old.encode("utf-16-le") + b"\0\0"
        assert entry in image, f"{old!r} is not in the version resource"
        return image.replace(entry, new.encode("utf-16-le") + b"\0\0", 1)
    return patch


def fixed_version(image):
    """Adds one to the revision of FILEVERSION in VS_FIXEDFILEINFO."""
    at = image.index(struct.pack("<I", 0xFEEF04BD))
    least = struct.unpack_from("<I", image, at + 12)[0]
    return image[:at + 12] + struct.pack("<I", least + 1) + image[at + 16:]


def wrong_architecture():
    wrong = "amd64" if architecture == "x86" else "x86"
    return manifest(f'processorArchitecture="{architecture}"', f'processorArchitecture="{wrong}"')


# name, patch, what the check must say
cases = [
    ("unchanged", lambda image: image, None),
    ("manifest not well-formed", manifest("</description>", "</descriptiom>"), "not well-formed XML"),
    ("manifest architecture", wrong_architecture(), "does not match the PE machine"),
    ("manifest type", manifest('type="win32" name="Tessaloom', 'type="win64" name="Tessaloom'), "not 'win32'"),
    ("manifest version of three parts", manifest(f'version="{dotted}"', f'version="{dotted.rsplit(".", 1)[0]}"'),
     "is not four numbers"),
    ("manifest version not the resource's", manifest(f'version="{dotted}"', f'version="{dotted}1"'),
     "is not the version resource's"),
    ("manifest asks for administrator", manifest('level="asInvoker"', 'level="requireAdministrator"'),
     "not one 'asInvoker'"),
    ("manifest unknown OS", manifest("{8e0f7a12-", "{8e0f7a13-"), "is no Windows version's id"),
    ("manifest dpiAware", manifest(">true/pm<", ">true/px<"), "dpiAware"),
    ("manifest dpiAwareness", manifest("PerMonitorV2,", "PerMonitorV3,"), "'PerMonitorV3' is not a value"),
    ("console subsystem", header(Subsystem=3), "subsystem 3 is not the Windows GUI"),
    ("subsystem version 10.0", header(MajorSubsystemVersion=10, MinorSubsystemVersion=0), "subsystem version 10.0"),
    ("OS version 10.0", header(MajorOperatingSystemVersion=10, MinorOperatingSystemVersion=0), "OS version 10.0"),
    ("no DYNAMIC_BASE", header(clear="IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE"), "lacks DYNAMIC_BASE"),
    ("no NX_COMPAT", header(clear="IMAGE_DLLCHARACTERISTICS_NX_COMPAT"), "lacks NX_COMPAT"),
    ("no TERMINAL_SERVER_AWARE", header(clear="IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE"),
     "lacks TERMINAL_SERVER_AWARE"),
    ("no relocations", header(relocations=0), "no relocations"),
    ("file version string", utf16(text, text[:-1] + chr(ord(text[-1]) ^ 1)), "FileVersion is"),
    ("FILEVERSION numbers", fixed_version, "FILEVERSION"),
    ("original file name", utf16(original_name, original_name[::-1]), "OriginalFilename is"),
]
if machine == 0x14C:
    cases.append(("neither NO_SEH nor SafeSEH", header(clear="IMAGE_DLLCHARACTERISTICS_NO_SEH"), "SafeSEH"))
else:
    cases.append(("no HIGH_ENTROPY_VA", header(clear="IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA"),
                  "lacks HIGH_ENTROPY_VA"))

failed = False
for name, patch, expected in cases:
    path = f"{exe}.faulty.exe"
    with open(path, "wb") as copy:
        copy.write(patch(original))
    said = "\n".join(check_exe.check(path, version_header))
    ok = not said if expected is None else expected in said
    print(f"{'ok  ' if ok else 'FAIL'} {name}")
    if not ok:
        print(said or "(the check found nothing)")
        failed = True
sys.exit(1 if failed else 0)
