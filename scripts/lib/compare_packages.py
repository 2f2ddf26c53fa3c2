#!/usr/bin/env python3
"""Checks the release packages of two builds of the same sources:

    compare_packages.py VERSION DIR_A DIR_B

Each DIR_A/portmeld-VERSION-{x64,x86}.zip must hold exactly the shipped
members in order, a SHA256SUMS that matches them and stripped programs of
its own architecture without a link time, and equal the zip of the same
name in DIR_B byte for byte; each DIR_A/portmeld-VERSION-{x64,x86}.msi must
equal its namesake in DIR_B. Names what differs; exits 1 on any fault.
"""
import hashlib
import os
import struct
import sys
import zipfile

NAMES = ["PortmeldConfigurator.exe", "portmeld.exe", "portmeld.dsc.resource.json", "README.md", "SHA256SUMS"]
MACHINE = {"x64": 0x8664, "x86": 0x014C}


def pe_header(data):
    """(machine, link time) from a PE file's COFF header; None if it is none."""
    if len(data) < 0x40 or data[:2] != b"MZ":
        return None
    offset = struct.unpack_from("<I", data, 0x3C)[0]
    if data[offset:offset + 4] != b"PE\0\0" or len(data) < offset + 12:
        return None
    machine, _, stamp = struct.unpack_from("<HHI", data, offset + 4)
    return machine, stamp


def members(path):
    """name -> (data, the header fields that must not vary)."""
    with zipfile.ZipFile(path) as zf:
        return {i.filename: (zf.read(i), (i.date_time, i.create_system, i.external_attr))
                for i in zf.infolist()}, zf.namelist()


def check(path, arch):
    found, order = members(path)
    if order != NAMES:
        return [f"{path}: members {order}, expected {NAMES}"]
    faults = []
    sums = "".join(f"{hashlib.sha256(found[n][0]).hexdigest()}  {n}\n" for n in NAMES[:-1])
    if found["SHA256SUMS"][0].decode() != sums:
        faults.append(f"{path}: SHA256SUMS does not match the members")
    for name in NAMES[:2]:
        if pe_header(found[name][0]) != (MACHINE[arch], 0):
            faults.append(f"{path}: {name} is not an {arch} program without link time")
        if b".debug_info" in found[name][0] or b".gnu_debuglink" not in found[name][0]:
            faults.append(f"{path}: {name} is not stripped with a debug link")
    return faults


def main():
    version, dir_a, dir_b = sys.argv[1:4]
    faults = []
    for arch in MACHINE:
        name = f"portmeld-{version}-{arch}.zip"
        path_a, path_b = os.path.join(dir_a, name), os.path.join(dir_b, name)
        faults += check(path_a, arch)
        with open(path_a, "rb") as fa, open(path_b, "rb") as fb:
            if fa.read() == fb.read():
                print(f"check-reproducible: {name} is the same in both builds")
                continue
        a, b = members(path_a)[0], members(path_b)[0]
        differ = sorted(n for n in set(a) | set(b) if a.get(n) != b.get(n)) or ["(member order or zip headers)"]
        faults.append(f"{name} differs between {dir_a} and {dir_b}: {', '.join(differ)}")
    for arch in MACHINE:
        name = f"portmeld-{version}-{arch}.msi"
        with open(os.path.join(dir_a, name), "rb") as fa, open(os.path.join(dir_b, name), "rb") as fb:
            if fa.read() == fb.read():
                print(f"check-reproducible: {name} is the same in both builds")
            else:
                faults.append(f"{name} differs between {dir_a} and {dir_b}")
    for fault in faults:
        print(f"check-reproducible: {fault}")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
