#!/usr/bin/python3
"""The signed release: what scripts/package makes of the built programs with
each way of giving a code-signing certificate.

    signing_test.py BUILD_DIR RESULTS.xml

BUILD_DIR/{x64,x86}/bin hold the built programs (nothing is rebuilt). The
test makes a throwaway certificate authority, a code-signing certificate
and a time-stamp authority with openssl, a SoftHSM token holding the key,
and a local RFC 3161 server (on 127.0.0.1: no network). Each way of
signing packages the programs with scripts/lib/package_release into a
scratch folder; then every program (staged, in the zip, in the MSI's
cabinet) and every MSI must verify against that authority with
osslsigncode, a copy with one byte changed must not, nor must the file
against an authority that did not issue the certificate, and SHA256SUMS
must list the signed programs. Without a certificate the packages stay
unsigned; an incomplete one, or a wrong password, gives no package.
"""
import hashlib
import http.server
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from harness import ROOT, Checks  # noqa: E402

sys.path.insert(0, os.path.join(ROOT, "scripts", "lib"))
import sign_release  # noqa: E402

SOFTHSM_MODULE = "/usr/lib/softhsm/libsofthsm2.so"
PROGRAMS = ["PortmeldConfigurator.exe", "portmeld.exe"]
PASSWORD = "correct horse 7"
PIN = "481516"


def run(*args, env=None, cwd=None):
    result = subprocess.run(args, capture_output=True, text=True, env=env, cwd=cwd)
    if result.returncode != 0:
        raise RuntimeError(f"{' '.join(args)} failed:\n{result.stdout}{result.stderr}")
    return result.stdout


def version():
    with open(os.path.join(ROOT, "CMakeLists.txt")) as f:
        for line in f:
            if line.startswith("project(PortmeldConfigurator VERSION "):
                return line.split()[2]
    raise RuntimeError("no version in CMakeLists.txt")


# --- The throwaway certificates, token and time-stamp authority ---------------------------

def certificate(pki, name, subject, usage, issuer="ca"):
    """A key and a certificate that the authority `issuer` signed."""
    key, cert = os.path.join(pki, f"{name}.key"), os.path.join(pki, f"{name}.pem")
    extensions = os.path.join(pki, f"{name}.ext")
    with open(extensions, "w") as f:
        f.write(f"basicConstraints=critical,CA:false\nkeyUsage=critical,digitalSignature\n"
                f"extendedKeyUsage=critical,{usage}\n")
    run("openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert + ".csr", "-subj", subject)
    run("openssl", "x509", "-req", "-in", cert + ".csr", "-CA", os.path.join(pki, f"{issuer}.pem"),
        "-CAkey", os.path.join(pki, f"{issuer}.key"), "-CAcreateserial", "-days", "2",
        "-extfile", extensions, "-out", cert)
    return key, cert


def authority(pki, name, subject):
    run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", os.path.join(pki, f"{name}.key"),
        "-out", os.path.join(pki, f"{name}.pem"), "-days", "2", "-subj", subject,
        "-addext", "basicConstraints=critical,CA:true", "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    return os.path.join(pki, f"{name}.pem")


def private_file(path, text):
    with open(os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600), "w") as f:
        f.write(text)
    return path


def token(pki, key):
    """A SoftHSM token in pki holding the key; the environment that finds it."""
    tokens = os.path.join(pki, "tokens")
    os.mkdir(tokens)
    conf = os.path.join(pki, "softhsm2.conf")
    with open(conf, "w") as f:
        f.write(f"directories.tokendir = {tokens}\nobjectstore.backend = file\nlog.level = ERROR\n")
    env = dict(os.environ, SOFTHSM2_CONF=conf)
    run("softhsm2-util", "--init-token", "--free", "--label", "portmeld-test", "--so-pin", "2718281",
        "--pin", PIN, env=env)
    run("softhsm2-util", "--import", key, "--token", "portmeld-test", "--label", "release", "--id", "01",
        "--pin", PIN, env=env)
    return {"SOFTHSM2_CONF": conf}


class TimeStampAuthority:
    """An RFC 3161 server on 127.0.0.1 that answers with `openssl ts -reply`."""

    def __init__(self, pki):
        key, cert = certificate(pki, "tsa", "/CN=Portmeld Test Time Stamps", "timeStamping")
        conf = os.path.join(pki, "tsa.cnf")
        with open(conf, "w") as f:
            f.write(f"[ tsa ]\ndefault_tsa = portmeld\n[ portmeld ]\nserial = {os.path.join(pki, 'tsa.serial')}\n"
                    "crypto_device = builtin\nsigner_digest = sha256\ndefault_policy = 1.2.3.4.1\n"
                    "digests = sha256, sha384, sha512\naccuracy = secs:1\nordering = yes\ntsa_name = yes\n"
                    "ess_cert_id_chain = no\ness_cert_id_alg = sha256\n")
        self.requests = 0
        authority_ = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                query = os.path.join(pki, "query.tsq")
                reply = os.path.join(pki, "reply.tsr")
                with open(query, "wb") as f:
                    f.write(self.rfile.read(int(self.headers["Content-Length"])))
                subprocess.run(["openssl", "ts", "-reply", "-config", conf, "-section", "portmeld", "-queryfile",
                                query, "-signer", cert, "-inkey", key, "-out", reply], capture_output=True)
                with open(reply, "rb") as f:
                    data = f.read()
                authority_.requests += 1
                self.send_response(200)
                self.send_header("Content-Type", "application/timestamp-reply")
                self.send_header("Content-Length", str(len(data)))
                self.end_headers()
                self.wfile.write(data)

            def log_message(self, *args):
                pass

        self.server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
        self.url = f"http://127.0.0.1:{self.server.server_address[1]}/"
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def stop(self):
        self.server.shutdown()


# --- Looking at what was made -------------------------------------------------------------

def verify(path, ca, tsa_ca=None):
    """(verified, osslsigncode's output)."""
    args = ["osslsigncode", "verify", "-CAfile", ca]
    if tsa_ca:
        args += ["-TSA-CAfile", tsa_ca]
    result = subprocess.run(args + ["-in", path], capture_output=True, text=True)
    return result.returncode == 0, result.stdout + result.stderr


def sha256(verified):
    """Whether the file's own digest (the first one osslsigncode names) is SHA-256."""
    found = re.search(r"Message digest algorithm\s*: (\S+)", verified)
    return found is not None and found.group(1) == "SHA256"


def tampered(path, scratch, marker=None):
    """A copy of path with one byte changed: the byte after the first
    `marker` (content the signature covers), else one in the middle."""
    with open(path, "rb") as f:
        data = bytearray(f.read())
    at = data.find(marker) + len(marker) - 1 if marker else len(data) // 2
    data[at] ^= 0x01
    copy = os.path.join(scratch, "tampered-" + os.path.basename(path))
    with open(copy, "wb") as f:
        f.write(data)
    return copy


def cabinet_files(msi, scratch):
    out = os.path.join(scratch, "msiextract")
    shutil.rmtree(out, ignore_errors=True)
    os.mkdir(out)
    subprocess.run(["msiextract", "-C", out, msi], capture_output=True, check=False)
    found = {}
    for folder, _, names in os.walk(out):
        for name in names:
            with open(os.path.join(folder, name), "rb") as f:
                found[name] = f.read()
    return found


def read(path):
    with open(path, "rb") as f:
        return f.read()


def package(build, arch, scratch, env_vars):
    """Runs package_release for one build into scratch/dist with only these
    signing variables set; (exit code, output, stage folder, dist folder)."""
    stage, dist = os.path.join(scratch, "stage-" + arch), os.path.join(scratch, "dist")
    env = {k: v for k, v in os.environ.items()
           if k not in sign_release.VARIABLES and k.lower() not in ("http_proxy", "all_proxy")}
    env.update(env_vars)
    result = subprocess.run([os.path.join(ROOT, "scripts", "lib", "package_release"), arch,
                             os.path.join(build, arch, "bin"), stage, dist, version()],
                            capture_output=True, text=True, env=env)
    return result.returncode, result.stdout + result.stderr, stage, dist


def signed_package_checks(checks, tag, build, arch, scratch, env_vars, ca, stranger, tsa=None):
    code, output, stage, dist = package(build, arch, scratch, env_vars)
    name = f"portmeld-{version().rsplit('.', 1)[0]}-{arch}"
    msi, archive = os.path.join(dist, name + ".msi"), os.path.join(dist, name + ".zip")
    if not checks.check(f"{tag}: packaged", code == 0 and os.path.isfile(msi) and os.path.isfile(archive),
                        output[-2000:]):
        return
    tsa_ca = ca if tsa else None
    for program in PROGRAMS:
        ok, text = verify(os.path.join(stage, program), ca, tsa_ca)
        checks.check(f"{tag}: {program} verifies, SHA-256", ok and sha256(text), text[-1500:])
    ok, text = verify(msi, ca, tsa_ca)
    checks.check(f"{tag}: the MSI verifies, SHA-256", ok and sha256(text), text[-1500:])
    if tsa:
        checks.check(f"{tag}: the MSI carries the authority's timestamp",
                     "Timestamp Server Signature verification: ok" in text, text[-1500:])

    # What ships is what was signed: the zip's programs and SHA256SUMS, the MSI's cabinet.
    with zipfile.ZipFile(archive) as zf:
        members = {info.filename: zf.read(info) for info in zf.infolist()}
    checks.check(f"{tag}: the zip holds the signed programs",
                 all(members.get(p) == read(os.path.join(stage, p)) for p in PROGRAMS), sorted(members))
    sums = dict(reversed(line.split("  ", 1)) for line in members.get("SHA256SUMS", b"").decode().splitlines())
    checks.equal(f"{tag}: SHA256SUMS lists the signed programs",
                 {p: hashlib.sha256(read(os.path.join(stage, p))).hexdigest() for p in PROGRAMS},
                 {p: sums.get(p) for p in PROGRAMS})
    installed = cabinet_files(msi, scratch)
    checks.check(f"{tag}: the MSI installs the signed programs",
                 all(installed.get(p) == read(os.path.join(stage, p)) for p in PROGRAMS), sorted(installed))

    # A changed byte, or an authority that did not issue the certificate, fails.
    ok, text = verify(tampered(os.path.join(stage, "portmeld.exe"), scratch), ca)
    checks.check(f"{tag}: portmeld.exe with one byte changed fails", not ok, text[-800:])
    ok, text = verify(tampered(msi, scratch, b"portmeld.dsc.resource.json"), ca)
    checks.check(f"{tag}: the MSI with one byte changed fails", not ok, text[-800:])
    ok, text = verify(os.path.join(stage, "PortmeldConfigurator.exe"), stranger)
    checks.check(f"{tag}: another authority's trust does not verify it", not ok, text[-800:])


def unsigned_checks(checks, build, scratch, ca):
    env = {k: v for k, v in os.environ.items() if k not in sign_release.VARIABLES}
    described = subprocess.run([sys.executable, os.path.join(ROOT, "scripts", "lib", "sign_release.py"),
                                "--describe"], capture_output=True, text=True, env=env)
    checks.check("unsigned: one line says so", described.returncode == 0 and
                 described.stdout.startswith("not signing: ") and described.stdout.count("\n") == 1,
                 described.stdout + described.stderr)
    code, output, stage, dist = package(build, "x64", scratch, {})
    checks.equal("unsigned: packaged", 0, code)
    name = f"portmeld-{version().rsplit('.', 1)[0]}-x64"
    for path in [os.path.join(stage, p) for p in PROGRAMS] + [os.path.join(dist, name + ".msi")]:
        ok, text = verify(path, ca)
        checks.check(f"unsigned: {os.path.basename(path)} carries no signature",
                     not ok and ("No signature found" in text or "has no signature" in text), text[-800:])


# An environment that does not name one complete certificate is refused
# before anything is built or signed.
def refusal_checks(checks, pki, files):
    cases = [
        ("a PKCS#12 file without its password file", {"PORTMELD_SIGN_PFX": files["pfx"]}),
        ("a certificate without a key", {"PORTMELD_SIGN_CERT": files["cert"]}),
        ("a key without a certificate", {"PORTMELD_SIGN_KEY": files["key"]}),
        ("a token key without the module", {"PORTMELD_SIGN_CERT": files["cert"],
                                            "PORTMELD_SIGN_KEY": "pkcs11:token=portmeld-test;object=release"}),
        ("a PIN in the token's URI", {"PORTMELD_SIGN_CERT": files["cert"],
                                      "PORTMELD_SIGN_PKCS11_MODULE": SOFTHSM_MODULE,
                                      "PORTMELD_SIGN_KEY": f"pkcs11:object=release;pin-value={PIN}"}),
        ("a module with a key file", {"PORTMELD_SIGN_CERT": files["cert"], "PORTMELD_SIGN_KEY": files["key"],
                                      "PORTMELD_SIGN_PKCS11_MODULE": SOFTHSM_MODULE}),
        ("two certificates", {"PORTMELD_SIGN_PFX": files["pfx"], "PORTMELD_SIGN_PASSWORD_FILE": files["password"],
                              "PORTMELD_SIGN_CERT": files["cert"], "PORTMELD_SIGN_KEY": files["key"]}),
        ("a missing PKCS#12 file", {"PORTMELD_SIGN_PFX": os.path.join(pki, "nonexistent.pfx"),
                                    "PORTMELD_SIGN_PASSWORD_FILE": files["password"]}),
        ("a timestamp without a certificate", {"PORTMELD_TIMESTAMP_URL": "http://127.0.0.1:9/"}),
    ]
    for name, env_vars in cases:
        env = {k: v for k, v in os.environ.items() if k not in sign_release.VARIABLES}
        env.update(env_vars)
        result = subprocess.run([sys.executable, os.path.join(ROOT, "scripts", "lib", "sign_release.py"),
                                 "--describe"], capture_output=True, text=True, env=env)
        checks.check(f"refused: {name}", result.returncode == 3 and "sign_release: " in result.stderr,
                     f"exit {result.returncode}: {result.stdout}{result.stderr}")


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: signing_test.py BUILD_DIR RESULTS.xml")
    build, results = sys.argv[1:3]
    checks = Checks("Signing")
    with tempfile.TemporaryDirectory(prefix="portmeld-signing-test-") as scratch:
        pki = os.path.join(scratch, "pki")
        os.mkdir(pki)
        ca = authority(pki, "ca", "/CN=Portmeld Test Root")
        stranger = authority(pki, "stranger", "/CN=Someone Else's Root")
        key, cert = certificate(pki, "release", "/CN=Orvane Test Release/O=Orvane", "codeSigning")
        password = private_file(os.path.join(pki, "password"), PASSWORD + "\n")
        pfx = os.path.join(pki, "release.pfx")
        run("openssl", "pkcs12", "-export", "-in", cert, "-inkey", key, "-out", pfx, "-passout",
            f"file:{password}")
        pin = private_file(os.path.join(pki, "pin"), PIN + "\n")
        wrong = private_file(os.path.join(pki, "wrong"), "not the password\n")
        tsa = TimeStampAuthority(pki)
        softhsm = token(pki, key)
        p11_key = "pkcs11:token=portmeld-test;object=release"

        # One row per way of giving the certificate: its variables, the
        # secret that must never be on a command line, the builds signed.
        ways = [
            ("PKCS#12 and password file", {"PORTMELD_SIGN_PFX": pfx, "PORTMELD_SIGN_PASSWORD_FILE": password},
             PASSWORD, ("x64", "x86"), False),
            ("PEM certificate and key, timestamped", {"PORTMELD_SIGN_CERT": cert, "PORTMELD_SIGN_KEY": key,
                                                      "PORTMELD_TIMESTAMP_URL": tsa.url}, None, ("x64",), True),
            ("token through PKCS#11 (SoftHSM)",
             dict(softhsm, PORTMELD_SIGN_CERT=cert, PORTMELD_SIGN_KEY=p11_key,
                  PORTMELD_SIGN_PKCS11_MODULE=SOFTHSM_MODULE, PORTMELD_SIGN_PASSWORD_FILE=pin),
             PIN, ("x64",), False),
        ]
        for tag, env_vars, secret, arches, timestamped in ways:
            options, _ = sign_release.signer({k: v for k, v in env_vars.items() if k in sign_release.VARIABLES})
            line = sign_release.command(options, "in.exe", "out.exe")
            if secret:
                checks.check(f"{tag}: the secret is read from its file, not given on the command line",
                             "-readpass" in line and not any(secret in arg for arg in line), " ".join(line))
            checks.equal(f"{tag}: a timestamp is asked for only with a time-stamp authority",
                         timestamped, "-ts" in line)
            before = tsa.requests
            for arch in arches:
                signed_package_checks(checks, f"{tag}, {arch}", build, arch, scratch, env_vars, ca, stranger,
                                      tsa if timestamped else None)
            if timestamped:
                checks.equal(f"{tag}: one timestamp per signed file (2 programs, 1 MSI)", 3 * len(arches),
                             tsa.requests - before)

        unsigned_checks(checks, build, scratch, ca)
        refusal_checks(checks, pki, {"pfx": pfx, "password": password, "cert": cert, "key": key})

        # A signature that cannot be made leaves no package, signed or not.
        for name, env_vars in [
                ("a wrong password", {"PORTMELD_SIGN_PFX": pfx, "PORTMELD_SIGN_PASSWORD_FILE": wrong}),
                ("a time-stamp authority that does not answer",
                 {"PORTMELD_SIGN_CERT": cert, "PORTMELD_SIGN_KEY": key,
                  "PORTMELD_TIMESTAMP_URL": "http://127.0.0.1:1/"})]:
            code, output, stage, dist = package(build, "x64", os.path.join(scratch, "failed"), env_vars)
            checks.check(f"{name} fails and leaves no package",
                         code != 0 and (not os.path.exists(dist) or os.listdir(dist) == []), f"exit {code}: {output}")
        tsa.stop()
    checks.finish(results)


if __name__ == "__main__":
    main()
