#!/usr/bin/env python3
"""Writes one Windows Installer package from a folder of release files:

    package_msi.py OUT.msi STAGE_DIR ARCH VERSION

STAGE_DIR holds PortmeldConfigurator.exe, portmeld.exe (stripped),
portmeld.dsc.resource.json and README.md; ARCH is x64 or x86; VERSION is
the product version (1.0.0). wixl builds the package from
packaging/portmeld.wxs; msibuild then adds the system PATH entry and the
agent's start after an upgrade, which wixl 0.101 cannot express, and sets
the package code.

The same inputs give the same bytes: the product, package and component
codes are name-based UUIDs (the same version always has the same
ProductCode, for detection rules), and every time in the package (the
summary information, the cabinet's file times) is SOURCE_DATE_EPOCH, else
the time of the checked-out commit.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time
import uuid

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from package_zip import epoch  # noqa: E402  one source of the release time

FILES = ["PortmeldConfigurator.exe", "portmeld.exe", "portmeld.dsc.resource.json", "README.md"]

# Never change these: Windows Installer finds the older version to replace
# by them, and administrators' detection rules may name them.
UPGRADE_CODES = {
    "x64": "32DD99B6-19DB-4654-B508-B0E1CF5560AF",
    "x86": "34FFB531-4856-4E0B-9B2C-59D773D15862",
}
# The namespace of every derived code.
NAMESPACE = uuid.UUID("49277d79-bfe8-465b-ae54-57fa28c20cdc")


def code(*parts):
    return "{" + str(uuid.uuid5(NAMESPACE, "/".join(parts))).upper() + "}"


def product_code(arch, version):
    return code("Portmeld Configurator", arch, version)


def package_code(arch, version):
    return code("Portmeld Configurator", arch, version, "package")


def component_code(arch, name):
    # Per file and architecture, not per version: a component keeps its code
    # while it installs the same file to the same place.
    return code("Portmeld Configurator", arch, "component", name)


def run(*args, cwd=None, when=None):
    # wixl stamps the summary information with the current time (creation
    # and last save) and takes no SOURCE_DATE_EPOCH: its clock is stopped
    # at the release time instead.
    if when is not None:
        stamp = time.strftime("%Y-%m-%d %H:%M:%S", time.gmtime(when))
        args = ("faketime", "-f", stamp) + args
    result = subprocess.run(args, capture_output=True, text=True, cwd=cwd, env=dict(os.environ, TZ="UTC"))
    if result.returncode != 0:
        sys.exit(f"package_msi: {' '.join(args)} failed:\n{result.stdout}{result.stderr}")
    return result.stdout


def main():
    if len(sys.argv) != 5:
        sys.exit("usage: package_msi.py OUT.msi STAGE_DIR ARCH VERSION")
    out, stage, arch, version = sys.argv[1:5]
    if arch not in UPGRADE_CODES:
        sys.exit(f"package_msi: unknown architecture {arch}")
    when = epoch()
    with tempfile.TemporaryDirectory(prefix="portmeld-msi-") as work:
        # The cabinet takes each file's time from the file.
        files = os.path.join(work, "files")
        os.mkdir(files)
        for name in FILES:
            shutil.copyfile(os.path.join(stage, name), os.path.join(files, name))
            os.utime(os.path.join(files, name), (when, when))
        shutil.copyfile(os.path.join(ROOT, "app", "resources", "portmeld.ico"), os.path.join(files, "portmeld.ico"))
        shutil.copyfile(os.path.join(ROOT, "packaging", "portmeld.wxs"), os.path.join(work, "portmeld.wxs"))
        defines = {
            "Arch": arch,
            "Win64": "yes" if arch == "x64" else "no",
            "ProgramFilesFolder": "ProgramFiles64Folder" if arch == "x64" else "ProgramFilesFolder",
            "Version": version,
            "ProductCode": product_code(arch, version),
            "UpgradeCode": UPGRADE_CODES[arch],
            "ComponentConfigurator": component_code(arch, "PortmeldConfigurator.exe"),
            "ComponentConsole": component_code(arch, "portmeld.exe"),
            "ComponentDscManifest": component_code(arch, "portmeld.dsc.resource.json"),
            "ComponentReadme": component_code(arch, "README.md"),
            "Stage": "files",
        }
        msi = os.path.join(work, "package.msi")
        args = ["wixl", "-a", arch, "-o", msi]
        for name, value in defines.items():
            args += ["-D", f"{name}={value}"]
        run(*args, "portmeld.wxs", cwd=work, when=when)

        # The folder appended to the system PATH on install and taken out
        # again on removal ("=-*": set, remove on uninstall, machine-wide).
        run("msibuild", msi, "-q",
            "CREATE TABLE `Environment` (`Environment` CHAR(72) NOT NULL, `Name` CHAR(255) NOT NULL LOCALIZABLE, "
            "`Value` CHAR(255) LOCALIZABLE, `Component_` CHAR(72) NOT NULL PRIMARY KEY `Environment`)", when=when)
        run("msibuild", msi, "-q",
            "INSERT INTO `Environment` (`Environment`, `Name`, `Value`, `Component_`) "
            "VALUES ('PortmeldPath', '=-*PATH', '[~];[INSTALLDIR]', 'Console')", when=when)
        for action, sequence in (("RemoveEnvironmentStrings", 3300), ("WriteEnvironmentStrings", 5200)):
            run("msibuild", msi, "-q",
                "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) "
                f"VALUES ('{action}', {sequence})", when=when)
        # After an upgrade, the agent service (stopped by the ServiceControl
        # entry while its file was replaced) starts again; no agent, no
        # harm: sc.exe's answer is ignored. Deferred, as SYSTEM, after
        # StartServices (5900), before InstallFinalize (6600). wixl 0.101
        # drops a custom action that runs a program of a directory.
        run("msibuild", msi, "-q",
            "INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) "
            "VALUES ('AgentRestart', 3170, 'SystemFolder', '\"[SystemFolder]sc.exe\" start PortmeldAgent')",
            when=when)
        run("msibuild", msi, "-q",
            "INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) "
            "VALUES ('AgentRestart', 'WIX_UPGRADE_DETECTED AND NOT REMOVE', 6590)", when=when)
        run("msibuild", msi, "-s", "Portmeld Configurator", "Orvane",
            f"{'x64' if arch == 'x64' else 'Intel'};1033", package_code(arch, version), when=when)

        partial = out + ".partial"
        shutil.copyfile(msi, partial)
        os.replace(partial, out)


if __name__ == "__main__":
    main()
