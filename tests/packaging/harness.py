"""What the package and DSC tests share: named checks written as GoogleTest
XML (so that scripts/test counts them with the other tiers), Windows
programs run under wine64 in the caller's prefix, registry snapshots, and
a JSON Schema validator that works offline with Debian 12's jsonschema.
"""
import json
import os
import subprocess
import sys
import xml.sax.saxutils
from urllib.parse import urldefrag

WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


class Checks:
    """Named checks of one suite; failures are collected, not raised, so that
    one run reports every fault."""

    def __init__(self, suite):
        self.suite = suite
        self.results = []  # (name, failure text or None)

    def check(self, name, ok, detail=""):
        self.results.append((name, None if ok else (detail or "failed")))
        print(f"{self.suite}: {'ok  ' if ok else 'FAIL'} {name}" + ("" if ok else f": {detail}"))
        return ok

    def equal(self, name, expected, actual):
        return self.check(name, expected == actual, f"expected {expected!r}, got {actual!r}")

    def failed(self):
        return sum(1 for _, failure in self.results if failure is not None)

    def write(self, path):
        """GoogleTest's XML layout, which scripts/test reads."""
        quote = xml.sax.saxutils.quoteattr
        lines = [f'<?xml version="1.0" encoding="UTF-8"?>',
                 f'<testsuites tests="{len(self.results)}" failures="{self.failed()}" errors="0" disabled="0">',
                 f'  <testsuite name={quote(self.suite)} tests="{len(self.results)}" failures="{self.failed()}">']
        for name, failure in self.results:
            if failure is None:
                lines.append(f'    <testcase name={quote(name)} status="run" result="completed"/>')
            else:
                lines.append(f'    <testcase name={quote(name)} status="run" result="completed">')
                lines.append(f'      <failure message={quote(failure)}/>')
                lines.append('    </testcase>')
        lines += ["  </testsuite>", "</testsuites>", ""]
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as f:
            f.write("\n".join(lines))

    def finish(self, xml_path):
        self.write(xml_path)
        print(f"{self.suite}: {len(self.results) - self.failed()} passed, {self.failed()} failed")
        sys.exit(1 if self.failed() else 0)


def unix_to_wine(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


_server_started = False


def wine(*args, stdin=None, env=None):
    """Runs a Windows program in $WINEPREFIX; (exit code, stdout, stderr).
    Exit codes above 255 come back as their low byte (a Unix limit)."""
    global _server_started
    if not os.environ.get("WINEPREFIX"):
        sys.exit("WINEPREFIX must name the test's Wine prefix")
    if not _server_started:
        # Without a persistent server each program's end waits about 3 s
        # for Wine's background processes to let go of the output pipe.
        # Wine's background services, started by the first program, keep
        # that program's output open: the first one writes nowhere.
        quiet = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run([WINESERVER, "-p"], **quiet)
        subprocess.run([WINE, "reg", "query", r"HKCU\Software\Wine"], **quiet,
                       env=dict(os.environ, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml="))
        _server_started = True
    run_env = dict(os.environ, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    run_env.update(env or {})
    result = subprocess.run([WINE, *args], input=stdin, capture_output=True, env=run_env)
    return result.returncode, result.stdout.decode("utf-8", "replace"), result.stderr.decode("utf-8", "replace")


def reg_import(reg_file):
    code, out, err = wine("reg", "import", unix_to_wine(reg_file))
    if code != 0:
        raise RuntimeError(f"reg import {reg_file} failed: {out}{err}")


def reg_snapshot(key, scratch):
    """{key path: {value name: data line}} of a registry tree, from regedit's
    export; {} when the key does not exist."""
    out_file = os.path.join(scratch, "snapshot.reg")
    if os.path.exists(out_file):
        os.remove(out_file)
    wine("regedit", "/e", unix_to_wine(out_file), key)
    if not os.path.exists(out_file):
        return {}
    with open(out_file, "rb") as f:
        text = f.read().decode("utf-16")
    tree, current, pending = {}, None, ""
    for line in text.splitlines():
        if pending:  # a value continued on the next line
            line, pending = pending + line.strip(), ""
        if line.endswith("\\"):
            pending = line[:-1]
            continue
        if line.startswith("[") and line.endswith("]"):
            current = line[1:-1].lower()
            tree[current] = {}
        elif current is not None and "=" in line:
            name, _, data = line.partition("=")
            tree[current][name.lower()] = data
    return tree


def load_json(path):
    with open(path, encoding="utf-8") as f:
        return json.load(f)


def schema_validator(schema, extra_schemas=()):
    """A draft 2020-12 validator for SCHEMA that resolves $ref offline: into
    SCHEMA's own $id-named parts and into EXTRA_SCHEMAS ({uri: schema})."""
    import jsonschema
    from jsonschema import _validators
    from jsonschema.validators import RefResolver

    # Debian 12's jsonschema (4.10) has two faults that the published DSC
    # schemas reach: it takes a property named "$id" for a schema's id (and
    # fails on its dict), and it does not count an adjacent
    # additionalProperties as evaluating properties, so unevaluatedProperties
    # wrongly walks into the meta-schemas, whose $dynamicRef it cannot resolve.
    class Resolver(RefResolver):
        def _find_in_subschemas(self, url):
            uri, fragment = urldefrag(url)
            for sub in self._get_subschemas_cache()["$id"]:
                sub_id = sub.get("$id")
                if isinstance(sub_id, str) and \
                        self._urljoin_cache(self.resolution_scope, sub_id).rstrip("/") == uri.rstrip("/"):
                    return url, (self.resolve_fragment(sub, fragment) if fragment else sub)
            return None

    stock = _validators.unevaluatedProperties

    def unevaluated_properties(validator, value, instance, sub_schema):
        if "additionalProperties" in sub_schema:
            return  # every property is evaluated by then
        yield from stock(validator, value, instance, sub_schema)

    jsonschema.Draft202012Validator.VALIDATORS["unevaluatedProperties"] = unevaluated_properties
    resolver = Resolver.from_schema(schema, store=dict(extra_schemas))
    return jsonschema.Draft202012Validator(schema, resolver=resolver)


def schema_errors(validator, instance):
    """The validation errors as short lines ("" when valid)."""
    return "; ".join(f"{'/'.join(map(str, e.absolute_path)) or '(root)'}: {e.message[:160]}"
                     for e in validator.iter_errors(instance))
