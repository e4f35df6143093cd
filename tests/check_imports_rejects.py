#!/usr/bin/env python3
"""Holds check_imports.cmake against copies of the real exe, each with one
fault patched in, and fails unless the check rejects every one of them for
the reason expected. The unpatched exe must pass.

usage: check_imports_rejects.py CMAKE OBJDUMP EXE WORK_DIR
"""
import pathlib
import struct
import subprocess
import sys

cmake, objdump, exe, work = sys.argv[1:5]
check = pathlib.Path(__file__).with_name("check_imports.cmake")
original = pathlib.Path(exe).read_bytes()


def machine(code):
    def patch(image):
        pe = struct.unpack_from("<I", image, 0x3C)[0]
        return image[:pe + 4] + struct.pack("<H", code) + image[pe + 6:]
    return patch


def rename(old, new):
    """Renames an imported function in the hint/name table (same length)."""
    assert len(old) == len(new)
    def patch(image):
        entry = old.encode() + b"\0"  # after its two-byte hint
        assert image.count(entry) == 1, f"{old} is not imported once"
        return image.replace(entry, new.encode() + b"\0")
    return patch


# name, patch, what the check must say
cases = [
    ("unchanged", lambda image: image, None),
    ("64-bit", machine(0x8664), "not a 32-bit (i386) Windows executable: its machine is 8664"),
    ("newer function", rename("GetClassInfoExW", "GetDpiForWindow"), "user32.dll!GetDpiForWindow"),
    # SetFocus is allowed, but Windows exports no "SetFocus@4".
    ("decorated name", rename("ShowWindow", "SetFocus@4"), "user32.dll!SetFocus@4"),
    # A DLL the loader would look for beside the exe first, before any code runs.
    ("not a KnownDLL", rename("SHELL32.dll", "VERSION.dll"), "imports version.dll, which is not one of the KnownDLLs"),
]

failed = False
for name, patch, expected in cases:
    path = pathlib.Path(work) / f"check_imports_{name.replace(' ', '_')}.exe"
    path.write_bytes(patch(original))
    run = subprocess.run([cmake, f"-DOBJDUMP={objdump}", f"-DEXE={path}", "-P", str(check)],
                         capture_output=True, text=True)
    said = " ".join((run.stdout + run.stderr).split())
    ok = run.returncode == 0 if expected is None else run.returncode != 0 and expected in said
    print(f"{'ok  ' if ok else 'FAIL'} {name}: exit {run.returncode}")
    if not ok:
        print(said)
        failed = True
    path.unlink()
sys.exit(1 if failed else 0)
