#!/usr/bin/python3
"""The Windows Installer packages, by their tables and by installing.

    msi_test.py DIST_DIR VERSION BUILD_DIR RESULTS.xml

DIST_DIR holds portmeld-MAJOR.MINOR-{x64,x86}.msi of product version
VERSION (1.0.0); BUILD_DIR/{x64,x86}/release the files they should install
(scripts/lib/stage_release writes them).

Both packages are read with msiinfo and msiextract: per machine, the right
folder and architecture, exactly the release files, the PATH entry, the
Start-menu shortcut, remove-only in Add/Remove Programs, the upgrade
codes and derived product codes, the agent service stopped around file
changes and removed on uninstall. The x64 package is then installed under
Wine ($WINEPREFIX, which this kernel runs 64-bit programs only in): a
silent install, a higher version built from the same files over it, the
lower one refused over that, and a silent removal that leaves nothing of
the product and the driver settings as they were. The agent service
installed in between goes with the removal.
"""
import filecmp
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from harness import ROOT, Checks, reg_import, reg_snapshot, unix_to_wine, wine  # noqa: E402

sys.path.insert(0, os.path.join(ROOT, "scripts", "lib"))
import package_msi  # noqa: E402

FILES = package_msi.FILES
ENVIRONMENT_KEY = r"HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Session Manager\Environment"
UNINSTALL_KEY = r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall"
FTDIBUS = r"HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Enum\FTDIBUS"
AGENT_KEY = r"HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\PortmeldAgent"
AGENT_SOURCE = r"HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\EventLog\Application\Portmeld Agent"
AGENT_PROFILE = r"C:\ProgramData\Portmeld\msi-agent.json"
AGENT_PROGRAM = r"C:\Program Files\Portmeld\portmeld.exe"
ARCHES = {
    # arch: (template, program files folder, component attributes, PE machine)
    "x64": ("x64;1033", "ProgramFiles64Folder", "256", 0x8664),
    "x86": ("Intel;1033", "ProgramFilesFolder", "0", 0x014C),
}


def table(msi, name):
    """The rows of one table as lists of columns."""
    out = subprocess.run(["msiinfo", "export", msi, name], capture_output=True, text=True).stdout
    return [line.split("\t") for line in out.splitlines()[3:]]


def summary(msi):
    out = subprocess.run(["msiinfo", "suminfo", msi], capture_output=True, text=True).stdout
    return dict(line.split(": ", 1) for line in out.splitlines() if ": " in line)


def pe_machine(path):
    with open(path, "rb") as f:
        data = f.read(4096)
    offset = int.from_bytes(data[0x3C:0x40], "little")
    return int.from_bytes(data[offset + 4:offset + 6], "little")


def table_checks(checks, msi, arch, version, stage):
    template, folder, attributes, machine = ARCHES[arch]
    tag = f"{arch} tables"
    properties = {row[0]: row[1] for row in table(msi, "Property")}
    expected = {"ALLUSERS": "1", "ARPNOMODIFY": "1", "ARPNOREPAIR": "1", "ProductName": "Portmeld Configurator",
                "Manufacturer": "Orvane", "ProductVersion": version,
                "UpgradeCode": "{" + package_msi.UPGRADE_CODES[arch] + "}",
                "ProductCode": package_msi.product_code(arch, version)}
    checks.equal(f"{tag}: properties", expected, {name: properties.get(name) for name in expected})
    info = summary(msi)
    checks.equal(f"{tag}: platform and package code", (template, package_msi.package_code(arch, version)),
                 (info.get("Template"), info.get("Revision number (UUID)")))
    checks.equal(f"{tag}: install folder", [["INSTALLDIR", folder, "Portmeld"]],
                 [row for row in table(msi, "Directory") if row[0] == "INSTALLDIR"])
    files = table(msi, "File")
    checks.equal(f"{tag}: files", sorted(FILES), sorted(row[2] for row in files))
    checks.equal(f"{tag}: component bitness", [attributes] * len(FILES),
                 [row[3] for row in table(msi, "Component")])
    checks.equal(f"{tag}: PATH entry", [["PortmeldPath", "=-*PATH", "[~];[INSTALLDIR]", "Console"]],
                 table(msi, "Environment"))
    sequence = {row[0]: row[2] for row in table(msi, "InstallExecuteSequence")}
    checks.equal(f"{tag}: environment and upgrade actions",
                 {"RemoveEnvironmentStrings": "3300", "WriteEnvironmentStrings": "5200",
                  "RemoveExistingProducts": "1401"},
                 {name: sequence.get(name) for name in ("RemoveEnvironmentStrings", "WriteEnvironmentStrings",
                                                       "RemoveExistingProducts")})
    actions = {row[0]: row[1:4] for row in table(msi, "CustomAction")}
    checks.equal(f"{tag}: the agent stopped before its file changes",
                 [["AgentStop", "PortmeldAgent", "34", "", "1", "Console"]], table(msi, "ServiceControl"))
    checks.equal(f"{tag}: the agent removed on uninstall, started again after an upgrade",
                 {"AgentRemove": ('REMOVE="ALL" AND NOT UPGRADINGPRODUCTCODE', "3154", "portmeld.exe",
                                  "agent remove"),
                  "AgentRestart": ("WIX_UPGRADE_DETECTED AND NOT REMOVE", "3170", "SystemFolder",
                                   '"[SystemFolder]sc.exe" start PortmeldAgent')},
                 {row[0]: (row[1], *actions.get(row[0], ["?", "?", "?"]))
                  for row in table(msi, "InstallExecuteSequence") if row[0] in ("AgentRemove", "AgentRestart")})
    checks.equal(f"{tag}: Start-menu shortcut", [("ProgramMenuFolder", "Portmeld Configurator", "Configurator")],
                 [tuple(row[1:4]) for row in table(msi, "Shortcut")])
    conditions = table(msi, "LaunchCondition")
    checks.check(f"{tag}: an older version is refused with a message",
                 len(conditions) == 1 and conditions[0][0] == "NOT WIX_DOWNGRADE_DETECTED"
                 and "newer version" in conditions[0][1], repr(conditions))
    # The cabinet holds the stripped programs of this architecture, nothing else.
    with tempfile.TemporaryDirectory(prefix="portmeld-msiextract-") as out:
        subprocess.run(["msiextract", "-C", out, msi], capture_output=True, check=False)
        found = {}
        for folder_path, _, names in os.walk(out):
            for name in names:
                found[name] = os.path.join(folder_path, name)
        same = sorted(found) == sorted(FILES) and all(
            filecmp.cmp(found[name], os.path.join(stage, name), shallow=False) for name in FILES)
        checks.check(f"{tag}: the cabinet holds the release files", same, f"found {sorted(found)}")
        checks.equal(f"{tag}: programs' architecture", [machine, machine],
                     [pe_machine(found[name]) if name in found else None for name in FILES[:2]])


# --- Installing under Wine ----------------------------------------------------------------

def drive_c(*parts):
    return os.path.join(os.environ["WINEPREFIX"], "drive_c", *parts)


def shortcuts():
    """The program's Start-menu shortcuts, machine-wide or the user's (Wine
    puts a per-machine package's ProgramMenuFolder in the user's menu)."""
    found = []
    for menu in [drive_c("ProgramData", "Microsoft", "Windows", "Start Menu", "Programs")] + \
            [os.path.join(drive_c("users"), user, "AppData", "Roaming", "Microsoft", "Windows", "Start Menu",
                          "Programs") for user in os.listdir(drive_c("users"))]:
        path = os.path.join(menu, "Portmeld Configurator.lnk")
        if os.path.exists(path):
            found.append(path)
    return found


def system_path(scratch):
    values = reg_snapshot(ENVIRONMENT_KEY, scratch).get(ENVIRONMENT_KEY.lower(), {})
    raw = values.get('"path"', "")
    if raw.startswith("hex(2):"):  # REG_EXPAND_SZ, UTF-16LE
        data = bytes(int(b, 16) for b in raw[len("hex(2):"):].split(",") if b)
        return data.decode("utf-16-le").rstrip("\0")
    return raw.strip('"')


def products(scratch):
    """{product code: (name, version, publisher, NoModify, NoRepair)} of this product's
    Add/Remove Programs entries."""
    found = {}
    for key, values in reg_snapshot(UNINSTALL_KEY, scratch).items():
        if values.get('"displayname"') == '"Portmeld Configurator"':
            found[key.rsplit("\\", 1)[1].upper()] = (
                values.get('"displayversion"'), values.get('"publisher"'),
                values.get('"nomodify"'), values.get('"norepair"'))
    return found


def install_checks(checks, dist, version, stage, scratch):
    folder = drive_c("Program Files", "Portmeld")
    entry = "C:\\Program Files\\Portmeld"
    major, minor, _ = version.split(".")
    x64 = os.path.join(dist, f"portmeld-{major}.{minor}-x64.msi")
    newer_version = f"{major}.{int(minor) + 1}.0"
    newer = os.path.join(scratch, "newer.msi")
    subprocess.run([sys.executable, os.path.join(ROOT, "scripts", "lib", "package_msi.py"), newer, stage,
                    "x64", newer_version], check=True)
    code = package_msi.product_code("x64", version)
    newer_code = package_msi.product_code("x64", newer_version)

    wine("reg", "delete", FTDIBUS, "/f")
    reg_import(os.path.join(HERE, "dsc-bench.reg"))
    drivers_before = reg_snapshot(FTDIBUS, scratch)
    software_before = set(reg_snapshot(r"HKEY_LOCAL_MACHINE\Software", scratch))
    path_before = system_path(scratch)

    status, out, err = wine("msiexec", "/i", unix_to_wine(x64), "/qn")
    checks.equal("install: msiexec /i /qn succeeds", 0, status)
    installed = sorted(os.listdir(folder)) if os.path.isdir(folder) else []
    checks.equal("install: the files in C:\\Program Files\\Portmeld", sorted(FILES), installed)
    checks.check("install: the installed files are the release files", installed == sorted(FILES) and all(
        filecmp.cmp(os.path.join(folder, name), os.path.join(stage, name), shallow=False) for name in FILES))
    path = system_path(scratch)
    checks.check("install: the system PATH holds the folder",
                 entry.lower() in [p.rstrip("\\").lower() for p in path.split(";")], path)
    status, out, err = wine("cmd", "/c", "portmeld", "--version")
    checks.check("install: portmeld --version runs from the PATH",
                 status == 0 and out.strip() == f"portmeld {major}.{minor}", f"exit {status}: {out}{err}")
    checks.equal("install: Add/Remove Programs entry",
                 {code: (f'"{version}"', '"Orvane"', "dword:00000001", "dword:00000001")}, products(scratch))
    checks.equal("install: one Start-menu shortcut", 1, len(shortcuts()))

    status, out, err = wine("msiexec", "/i", unix_to_wine(newer), "/qn")
    checks.equal(f"upgrade: {newer_version} over {version} succeeds", 0, status)
    checks.equal("upgrade: only the newer product is left", [newer_code], sorted(products(scratch)))
    path = system_path(scratch)
    checks.equal("upgrade: the folder once in the PATH", 1,
                 [p.rstrip("\\").lower() for p in path.split(";")].count(entry.lower()))

    # The agent, installed by the installed program, goes with the product.
    # (That it stays through a major upgrade is not seen here: Wine runs the
    # older package's removal without UPGRADINGPRODUCTCODE, so that removal
    # takes the agent with it; the tables above hold the conditions.)
    profile = drive_c("ProgramData", "Portmeld", "msi-agent.json")
    os.makedirs(os.path.dirname(profile), exist_ok=True)
    with open(profile, "w") as f:
        f.write('{"schema": "portmeld-profile/1", "ports": []}\n')
    os.chmod(profile, 0o644)  # only its owner may write it
    status, out, err = wine(AGENT_PROGRAM, "agent", "install", AGENT_PROFILE)
    checks.equal("upgrade: portmeld agent install", 0, status)
    status, out, err = wine(AGENT_PROGRAM, "agent", "status")
    checks.check("upgrade: the agent runs with its profile",
                 status == 0 and AGENT_PROFILE.lower() in out.lower(), f"exit {status}: {out}{err}")

    status, out, err = wine("msiexec", "/i", unix_to_wine(x64), "/qn")
    checks.equal(f"downgrade: {version} over {newer_version} is refused (1603)", 1603 & 0xFF, status)
    checks.equal("downgrade: the newer product stays", [newer_code], sorted(products(scratch)))

    status, out, err = wine("msiexec", "/x", newer_code, "/qn")
    checks.equal("uninstall: msiexec /x {ProductCode} /qn succeeds", 0, status)
    checks.check("uninstall: the folder is gone", not os.path.exists(folder),
                 str(os.listdir(folder)) if os.path.isdir(folder) else "")
    checks.equal("uninstall: no shortcut", [], shortcuts())
    checks.equal("uninstall: no Add/Remove Programs entry", {}, products(scratch))
    checks.equal("uninstall: the agent service and its event source are removed", (1, 1),
                 (wine("reg", "query", AGENT_KEY)[0], wine("reg", "query", AGENT_SOURCE)[0]))
    # Wine leaves a stray ';' where the entry was; the entries are what count.
    checks.equal("uninstall: the PATH as before",
                 [p for p in path_before.split(";") if p], [p for p in system_path(scratch).split(";") if p])
    checks.equal("uninstall: the driver settings are left as they were", drivers_before,
                 reg_snapshot(FTDIBUS, scratch))
    # Windows Installer keeps its own containers (Installer\Products, ...)
    # once it has run on a machine; they hold no value of the product's.
    software = reg_snapshot(r"HKEY_LOCAL_MACHINE\Software", scratch)
    left = sorted(k for k in set(software) - software_before
                  if software[k] or "\\installer" not in k)
    checks.equal("uninstall: no new key under HKLM\\Software", [], left)
    wine("reg", "delete", FTDIBUS, "/f")


def main():
    if len(sys.argv) != 5:
        sys.exit("usage: msi_test.py DIST_DIR VERSION BUILD_DIR RESULTS.xml")
    dist, version, build, results = sys.argv[1:5]
    major, minor, _ = version.split(".")
    checks = Checks("MsiPackages")
    for arch in ARCHES:
        table_checks(checks, os.path.join(dist, f"portmeld-{major}.{minor}-{arch}.msi"), arch, version,
                     os.path.join(build, arch, "release"))
    with tempfile.TemporaryDirectory(prefix="portmeld-msi-test-") as scratch:
        try:
            install_checks(checks, dist, version, os.path.join(build, "x64", "release"), scratch)
        finally:
            # An automatic service starts again with the prefix: never left behind.
            wine("sc", "stop", "PortmeldAgent")
            wine("sc", "delete", "PortmeldAgent")
            wine("reg", "delete", AGENT_SOURCE, "/f")
    checks.finish(results)


if __name__ == "__main__":
    main()
