#!/usr/bin/python3
"""Checks a built exe for what Windows looks at before and while it starts a
program and Wine does not: the embedded manifest (Windows builds an
activation context from it and refuses to start the program if it is wrong),
the PE header's subsystem, versions and security flags, and the version
resource. Prints one line per rule broken and exits 1 if any is.

usage: check_exe.py EXE VERSION_HEADER
"""
import re
import sys
import xml.etree.ElementTree as ET

import pefile

ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPATIBILITY = "{urn:schemas-microsoft-com:compatibility.v1}"
SETTINGS_2005 = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"
SETTINGS_2016 = "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}"

# The manifest's processorArchitecture for each PE machine.
ARCHITECTURES = {0x14C: "x86", 0x8664: "amd64"}
# The supportedOS ids Windows knows: Vista, 7, 8, 8.1, 10 and 11.
KNOWN_OS = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",
}
DPI_AWARE = {"true", "false", "true/pm", "per monitor", "permonitor"}
DPI_AWARENESS = {"unaware", "system", "permonitor", "permonitorv2"}
# The highest subsystem and OS version Windows 7 SP1 loads, and the lowest
# subsystem version each machine's loader accepts.
WINDOWS_7 = (6, 1)
LOWEST_SUBSYSTEM = {0x14C: (3, 10), 0x8664: (5, 2)}

flags = pefile.DLL_CHARACTERISTICS


def read_version_header(path):
    """The project's version numbers, its version text and file name, as the
    resource script and CMake read them."""
    defines = dict(re.findall(r'#define TESSALOOM_(\w+) "?([^"\n]*)"?', open(path, encoding="utf-8").read()))
    numbers = tuple(int(defines[f"VERSION_{part}"]) for part in ("MAJOR", "MINOR", "BUILD", "REVISION"))
    return numbers, defines["VERSION_TEXT"], defines["ORIGINAL_FILENAME"]


def manifest_text(pe):
    resources = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    for kind in resources.entries if resources else []:
        if kind.id == pefile.RESOURCE_TYPE["RT_MANIFEST"]:
            manifests = [language for name in kind.directory.entries for language in name.directory.entries]
            if len(manifests) != 1:
                return None
            data = manifests[0].data.struct
            return pe.get_data(data.OffsetToData, data.Size)
    return None


def check_manifest(pe, version, faults):
    raw = manifest_text(pe)
    if raw is None:
        faults.append("manifest: none embedded (RT_MANIFEST 1), or more than one")
        return
    try:
        root = ET.fromstring(raw)
    except ET.ParseError as error:
        faults.append(f"manifest: not well-formed XML ({error})")
        return
    if root.tag != ASM_V1 + "assembly" or root.get("manifestVersion") != "1.0":
        faults.append("manifest: the root is not an asm.v1 assembly of manifestVersion 1.0")
    identity = root.find(ASM_V1 + "assemblyIdentity")
    if identity is None:
        faults.append("manifest: no assemblyIdentity")
    else:
        if identity.get("type") != "win32":
            faults.append(f"manifest: assemblyIdentity type is {identity.get('type')!r}, not 'win32'")
        text = identity.get("version", "")
        parts = text.split(".")
        if len(parts) != 4 or not all(p.isdigit() and int(p) <= 65535 for p in parts):
            faults.append(f"manifest: assemblyIdentity version {text!r} is not four numbers")
        elif tuple(map(int, parts)) != version:
            faults.append(f"manifest: assemblyIdentity version {text} is not the version resource's "
                          f"{'.'.join(map(str, version))}")
        architecture = identity.get("processorArchitecture")
        expected = ARCHITECTURES.get(pe.FILE_HEADER.Machine)
        if architecture not in (expected, "*"):
            faults.append(f"manifest: processorArchitecture {architecture!r} does not match the PE machine "
                          f"{pe.FILE_HEADER.Machine:04x} ({expected!r} or '*')")
    levels = root.findall(f".//{ASM_V3}requestedExecutionLevel")
    if [level.get("level") for level in levels] != ["asInvoker"]:
        faults.append(f"manifest: requestedExecutionLevel is {[level.get('level') for level in levels]}, "
                      "not one 'asInvoker'")
    elif levels[0].get("uiAccess", "false") != "false":
        faults.append("manifest: uiAccess is not false")
    for os in root.findall(f".//{COMPATIBILITY}supportedOS"):
        if (os.get("Id") or "").lower() not in KNOWN_OS:
            faults.append(f"manifest: supportedOS {os.get('Id')} is no Windows version's id")
    for aware in root.iter(SETTINGS_2005 + "dpiAware"):
        if (aware.text or "").strip().lower() not in DPI_AWARE:
            faults.append(f"manifest: dpiAware {aware.text!r} is not a value Windows knows")
    for awareness in root.iter(SETTINGS_2016 + "dpiAwareness"):
        for value in (awareness.text or "").split(","):
            if value.strip().lower() not in DPI_AWARENESS:
                faults.append(f"manifest: dpiAwareness {value.strip()!r} is not a value Windows knows")


def check_header(pe, faults):
    header = pe.OPTIONAL_HEADER
    machine = pe.FILE_HEADER.Machine
    if machine not in ARCHITECTURES:
        faults.append(f"PE: machine {machine:04x} is neither i386 nor x86-64")
        return
    if header.Subsystem != pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"]:
        faults.append(f"PE: subsystem {header.Subsystem} is not the Windows GUI (2)")
    subsystem = (header.MajorSubsystemVersion, header.MinorSubsystemVersion)
    if not LOWEST_SUBSYSTEM[machine] <= subsystem <= WINDOWS_7:
        faults.append("PE: subsystem version %d.%d is not one Windows 7 SP1 loads" % subsystem)
    system = (header.MajorOperatingSystemVersion, header.MinorOperatingSystemVersion)
    if system > WINDOWS_7:
        faults.append("PE: OS version %d.%d is newer than Windows 7 SP1" % system)
    characteristics = header.DllCharacteristics
    wanted = ["IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE", "IMAGE_DLLCHARACTERISTICS_NX_COMPAT",
              "IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE"]
    if machine == 0x8664:
        wanted.append("IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA")
    for name in wanted:
        if not characteristics & flags[name]:
            faults.append(f"PE: DllCharacteristics lacks {name.removeprefix('IMAGE_DLLCHARACTERISTICS_')}")
    relocations = header.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]]
    if relocations.Size == 0 or pe.FILE_HEADER.Characteristics & pefile.IMAGE_CHARACTERISTICS[
            "IMAGE_FILE_RELOCS_STRIPPED"]:
        faults.append("PE: no relocations, so DYNAMIC_BASE cannot move the image")
    if machine == 0x14C and not characteristics & flags["IMAGE_DLLCHARACTERISTICS_NO_SEH"]:
        config = getattr(pe, "DIRECTORY_ENTRY_LOAD_CONFIG", None)
        if config is None or not getattr(config.struct, "SEHandlerTable", 0):
            faults.append("PE: an i386 image with neither NO_SEH nor a SafeSEH table")


def check_version(pe, version, text, original, faults):
    fixed = getattr(pe, "VS_FIXEDFILEINFO", None)
    if not fixed:
        faults.append("version resource: none")
        return
    for field in ("File", "Product"):
        most, least = getattr(fixed[0], f"{field}VersionMS"), getattr(fixed[0], f"{field}VersionLS")
        numbers = (most >> 16, most & 0xFFFF, least >> 16, least & 0xFFFF)
        if numbers != version:
            faults.append(f"version resource: {field.upper()}VERSION {'.'.join(map(str, numbers))} is not the "
                          f"project's {'.'.join(map(str, version))}")
    strings = {}
    for info in getattr(pe, "FileInfo", []):
        for entry in info:
            for table in getattr(entry, "StringTable", []):
                strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
    for name, expected in (("FileVersion", text), ("ProductVersion", text), ("OriginalFilename", original)):
        if strings.get(name) != expected:
            faults.append(f"version resource: {name} is {strings.get(name)!r}, not {expected!r}")


def check(path, version_header):
    version, text, original = read_version_header(version_header)
    pe = pefile.PE(path)
    faults = []
    check_header(pe, faults)
    check_manifest(pe, version, faults)
    check_version(pe, version, text, original, faults)
    return faults


if __name__ == "__main__":
    found = check(sys.argv[1], sys.argv[2])
    for fault in found:
        print(f"{sys.argv[1]}: {fault}")
    if not found:
        print(f"{sys.argv[1]}: manifest, PE header and version resource as Windows wants them")
    sys.exit(1 if found else 0)
