#!/usr/bin/env python3
"""Writes one release zip: both programs of one build, the DSC manifest, the
README and a SHA256SUMS of those four.

    package_zip.py OUT.zip BIN_DIR

The same inputs give the same bytes: a fixed member order, one time for every
member (SOURCE_DATE_EPOCH, else the time of the checked-out commit), fixed
permissions, no extra fields. Members are flat, so that Windows' "Extract
All" gives one folder named after the zip.
"""
import hashlib
import os
import subprocess
import sys
import time
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
DOS_EPOCH = 315532800  # 1980-01-01, the earliest time a zip can hold


def members(bin_dir):
    """(name in the zip, path, mode) in the order they are written. Only the
    named programs: the D2XX stand-in and the test programs beside them in
    bin/ never ship."""
    return [
        ("PortmeldConfigurator.exe", os.path.join(bin_dir, "PortmeldConfigurator.exe"), 0o755),
        ("portmeld.exe", os.path.join(bin_dir, "portmeld.exe"), 0o755),
        ("portmeld.dsc.resource.json", os.path.join(ROOT, "cli", "portmeld.dsc.resource.json"), 0o644),
        ("README.md", os.path.join(ROOT, "README.md"), 0o644),
    ]


def epoch():
    if os.environ.get("SOURCE_DATE_EPOCH"):
        return int(os.environ["SOURCE_DATE_EPOCH"])
    try:
        out = subprocess.run(["git", "-C", ROOT, "log", "-1", "--format=%ct"],
                             capture_output=True, text=True, check=True).stdout
        return int(out.strip())
    except (OSError, subprocess.CalledProcessError, ValueError):
        return DOS_EPOCH


def entry(name, mode, date_time):
    info = zipfile.ZipInfo(name, date_time)
    info.create_system = 3  # Unix, so that the mode below is what unzip sets
    info.external_attr = (0o100000 | mode) << 16
    info.compress_type = zipfile.ZIP_DEFLATED
    return info


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: package_zip.py OUT.zip BIN_DIR")
    out, bin_dir = sys.argv[1], sys.argv[2]
    date_time = time.gmtime(max(epoch(), DOS_EPOCH))[:6]
    files = []
    for name, path, mode in members(bin_dir):
        with open(path, "rb") as f:
            files.append((name, f.read(), mode))
    sums = "".join(f"{hashlib.sha256(data).hexdigest()}  {name}\n" for name, data, _ in files)
    files.append(("SHA256SUMS", sums.encode(), 0o644))

    # Written beside the target and renamed, so that a failed run leaves no half zip.
    partial = out + ".partial"
    with zipfile.ZipFile(partial, "w") as zf:
        for name, data, mode in files:
            zf.writestr(entry(name, mode, date_time), data, compresslevel=9)
    os.replace(partial, out)


if __name__ == "__main__":
    main()
