#!/usr/bin/python3
"""The DSC resource as the DSC engine sees it.

    dsc_test.py BIN_DIR RESULTS.xml

1. The manifest (cli/portmeld.dsc.resource.json) validates against the
   published resource manifest schema, and manifests with the faults that
   schema exists to catch do not.
2. Under Wine ($WINEPREFIX), with the adapters of dsc-bench.reg registered,
   BIN_DIR's portmeld.exe is run as DSC runs a command resource: the
   executable found on the PATH, the manifest's arguments, the desired state
   as one line on standard input. Every desired state and every answer is
   validated against the manifest's embedded schema; test, then get and
   set when the instance is not in the desired state, then test again.
   For a table of desired states, the embedded schema and the program must
   agree on what they accept.
"""
import json
import os
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import (ROOT, Checks, load_json, reg_import, reg_snapshot, schema_errors,  # noqa: E402
                     schema_validator, unix_to_wine, wine)

HERE = os.path.dirname(os.path.abspath(__file__))
SCHEMAS = os.path.join(HERE, "dsc-schemas")
IN_DESIRED_STATE = "https://aka.ms/dsc/schemas/v3/resource/properties/inDesiredState.json"
FTDIBUS = r"HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Enum\FTDIBUS"


def manifest_checks(checks, manifest):
    published = schema_validator(load_json(os.path.join(SCHEMAS, "resource-manifest.json")))

    def changed(edit):
        copy = json.loads(json.dumps(manifest))
        edit(copy)
        return copy

    embedded = lambda m: m["schema"]["embedded"]  # noqa: E731
    # (case, manifest, accepted by the published schema)
    cases = [
        ("as shipped", manifest, True),
        ("_inDesiredState defined in the manifest itself",
         changed(lambda m: embedded(m)["properties"].__setitem__(
             "_inDesiredState", {"type": ["boolean", "null"], "readOnly": True})), False),
        ("no version", changed(lambda m: m.pop("version")), False),
        ("type without owner", changed(lambda m: m.__setitem__("type", "Profile")), False),
        ("test returning an unknown kind", changed(lambda m: m["test"].__setitem__("return", "diff")), False),
        ("input neither stdin nor env", changed(lambda m: m["set"].__setitem__("input", "file")), False),
        ("embedded schema without properties", changed(lambda m: embedded(m).pop("properties")), False),
    ]
    for name, candidate, accepted in cases:
        errors = schema_errors(published, candidate)
        checks.check(f"manifest schema: {name} is {'accepted' if accepted else 'refused'}",
                     (errors == "") == accepted, errors or "accepted")

    # DSC compiles the embedded schema: it must be a schema itself.
    import jsonschema
    try:
        jsonschema.Draft202012Validator.check_schema(embedded(manifest))
        checks.check("embedded schema is a valid draft 2020-12 schema", True)
    except jsonschema.SchemaError as error:
        checks.check("embedded schema is a valid draft 2020-12 schema", False, error.message)


class Resource:
    """portmeld run as the manifest tells DSC to run it."""

    def __init__(self, manifest, bin_dir, scratch):
        self.manifest = manifest
        self.env = {
            "WINEPATH": unix_to_wine(bin_dir),  # DSC finds the executable on the PATH
            "PORTMELD_D2XX_DEVICES": unix_to_wine(os.path.join(scratch, "devices.txt")),
            "PORTMELD_D2XX_LOG": unix_to_wine(os.path.join(scratch, "d2xx.log")),
        }
        self.log = os.path.join(scratch, "d2xx.log")
        with open(os.path.join(scratch, "devices.txt"), "w") as f:
            f.write("device 0 5 04036001 1011 FT12AB34 Portmeld USB UART\n")

    def run(self, operation, state):
        method = self.manifest[operation]
        return wine(method["executable"], *method["args"],
                    stdin=(json.dumps(state) + "\n").encode(), env=self.env)

    def reloads(self):
        if not os.path.exists(self.log):
            return 0
        with open(self.log, errors="replace") as f:
            return sum(1 for line in f if "FT_Reload" in line)


def answer(checks, instance, resource, operation, desired):
    """Runs one operation, checks what DSC checks of its answer, returns it."""
    code, out, err = resource.run(operation, desired)
    label = f"dsc {operation}"
    if not checks.check(f"{label}: exit 0 and one line of JSON", code == 0 and out.count("\n") == 1,
                        f"exit {code}: {out}{err}"):
        return None
    try:
        state = json.loads(out)
    except ValueError as error:
        checks.check(f"{label}: answer is JSON", False, str(error))
        return None
    errors = schema_errors(instance, state)
    checks.check(f"{label}: answer valid against the embedded schema", errors == "", errors)
    return state


def latencies(snapshot):
    return {key.split("\\")[-3]: values.get('"latencytimer"')
            for key, values in snapshot.items() if key.endswith("\\device parameters")}


def round_trip(checks, manifest, bin_dir, scratch):
    instance = schema_validator(manifest["schema"]["embedded"],
                                {IN_DESIRED_STATE: load_json(os.path.join(SCHEMAS, "inDesiredState.json"))})
    wine("reg", "delete", FTDIBUS, "/f")
    reg_import(os.path.join(HERE, "dsc-bench.reg"))
    resource = Resource(manifest, bin_dir, scratch)

    desired = {"ignoreSerial": False, "ports": [{"match": {"vidpid": "0403:6001"}, "latencyTimer": 2}]}
    errors = schema_errors(instance, desired)
    checks.check("desired state valid against the embedded schema", errors == "", errors)

    before = reg_snapshot(FTDIBUS, scratch)
    state = answer(checks, instance, resource, "test", desired)
    checks.equal("dsc test: _inDesiredState while two ports have 16 ms", False,
                 state and state.get("_inDesiredState"))
    checks.equal("dsc test: wrote nothing", before, reg_snapshot(FTDIBUS, scratch))

    state = answer(checks, instance, resource, "get", desired)
    checks.equal("dsc get: the matched ports' latency", [16, 16],
                 [port.get("latencyTimer") for port in (state or {}).get("ports", [])])

    state = answer(checks, instance, resource, "set", desired)
    checks.equal("dsc set: the state after it", [2, 2],
                 [port.get("latencyTimer") for port in (state or {}).get("ports", [])])
    checks.equal("dsc set: registry afterwards (only the matched ports changed)",
                 {"vid_0403+pid_6001+ft12ab34a": "dword:00000002", "vid_0403+pid_6010+ft9xk2l1a": "dword:00000005",
                  "vid_0403+pid_6001+ft7q3m5ra": "dword:00000002"},
                 latencies(reg_snapshot(FTDIBUS, scratch)))
    checks.equal("dsc set: driver reloaded once", 1, resource.reloads())

    state = answer(checks, instance, resource, "test", desired)
    checks.equal("dsc test after set: _inDesiredState", True, state and state.get("_inDesiredState"))

    # What the embedded schema accepts, the program accepts (exit 0), and
    # what it refuses, the program refuses as bad input (exit 3).
    agreement = [
        ("a latency in range", {"ports": [{"latencyTimer": 255}]}),
        ("latency 0", {"ports": [{"latencyTimer": 0}]}),
        ("a misspelt setting", {"ports": [{"latencyTimr": 2}]}),
        ("ignoreSerial as a string", {"ignoreSerial": "no"}),
        ("an unknown match key", {"ports": [{"match": {"com": "COM5"}, "latencyTimer": 2}]}),
        ("a baud alias of 3 Mbaud", {"ports": [{"baudAlias.9600": 3000000}]}),
        ("a baud alias of 2.5 Mbaud", {"ports": [{"baudAlias.9600": 2500000}]}),
        ("a write buffer of 4097 bytes", {"ports": [{"writeBufferSize": 4097}]}),
        ("a COM number as the port", {"ports": [{"match": {"serial": "FT12AB34A"}, "port": "COM9"}]}),
        ("a built-in alias table", {"ports": [{"baudAliases": "tarnlink"}]}),
        ("a match port that is no COM name", {"ports": [{"match": {"port": "COM"}}]}),
    ]
    for name, state in agreement:
        errors = schema_errors(instance, state)
        code, out, err = resource.run("test", state)
        checks.equal(f"schema and program agree on {name}", 0 if errors == "" else 3, code)
    wine("reg", "delete", FTDIBUS, "/f")


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: dsc_test.py BIN_DIR RESULTS.xml")
    bin_dir, results = sys.argv[1:3]
    checks = Checks("DscResource")
    manifest = load_json(os.path.join(ROOT, "cli", "portmeld.dsc.resource.json"))
    manifest_checks(checks, manifest)
    checks.equal("the manifest beside portmeld.exe is the source's", manifest,
                 load_json(os.path.join(bin_dir, "portmeld.dsc.resource.json")))
    with tempfile.TemporaryDirectory(prefix="portmeld-dsc-") as scratch:
        round_trip(checks, manifest, bin_dir, scratch)
    checks.finish(results)


if __name__ == "__main__":
    main()
