#!/usr/bin/env python3
"""Signs release files (the programs, the MSIs) with Authenticode, SHA-256,
through Debian's osslsigncode, with the code-signing certificate that the
environment names:

    sign_release.py --describe    one line: what will sign, or that nothing will
    sign_release.py FILE...       signs each file in place (nothing without a
                                  certificate)

  PORTMELD_SIGN_PFX              a PKCS#12 file with the certificate (and its
                                 chain) and the private key; its password in
  PORTMELD_SIGN_PASSWORD_FILE    (never on a command line, where other users
                                 of the machine can read it)
  PORTMELD_SIGN_CERT             or the certificate (and its chain), PEM, with
  PORTMELD_SIGN_KEY              the private key, PEM (an encrypted key's
                                 passphrase in PORTMELD_SIGN_PASSWORD_FILE),
                                 or a pkcs11: URI of a key on a token, with
  PORTMELD_SIGN_PKCS11_MODULE    the token's PKCS#11 module (its PIN in
                                 PORTMELD_SIGN_PASSWORD_FILE, else asked for)
  PORTMELD_TIMESTAMP_URL         an RFC 3161 time-stamp authority: the
                                 signatures stay valid after the certificate
                                 expires

With none of these set nothing is signed. A combination that does not name
one complete way to sign is refused (exit 3) before anything is built or
signed: a release meant to be signed never comes out unsigned by a typo.
A file whose signing failed is left as it was (exit 2).
"""
import os
import stat
import subprocess
import sys

VARIABLES = ("PORTMELD_SIGN_PFX", "PORTMELD_SIGN_PASSWORD_FILE", "PORTMELD_SIGN_CERT",
             "PORTMELD_SIGN_KEY", "PORTMELD_SIGN_PKCS11_MODULE", "PORTMELD_TIMESTAMP_URL")
DESCRIPTION = "Portmeld Configurator"  # what Windows shows as the signed program's name


class Refused(Exception):
    pass


def signer(env=None):
    """(the osslsigncode options that choose the key, one line saying so), or
    None when the environment names no certificate. Raises Refused when it
    names an incomplete or ambiguous one, or a file that is not there."""
    env = os.environ if env is None else env
    given = {name: env[name] for name in VARIABLES if env.get(name)}
    if not given:
        return None
    pfx, password = given.get("PORTMELD_SIGN_PFX"), given.get("PORTMELD_SIGN_PASSWORD_FILE")
    cert, key = given.get("PORTMELD_SIGN_CERT"), given.get("PORTMELD_SIGN_KEY")
    module = given.get("PORTMELD_SIGN_PKCS11_MODULE")
    if pfx and (cert or key or module):
        raise Refused("PORTMELD_SIGN_PFX and PORTMELD_SIGN_CERT/KEY/PKCS11_MODULE name two certificates: "
                      "set one of them")
    if pfx:
        if not password:
            raise Refused("PORTMELD_SIGN_PFX needs PORTMELD_SIGN_PASSWORD_FILE, the file holding its password")
        options, line = ["-pkcs12", pfx], f"the PKCS#12 file {pfx}"
        files = [pfx]
    elif cert and key:
        if key.startswith("pkcs11:"):
            if not module:
                raise Refused("a pkcs11: key in PORTMELD_SIGN_KEY needs PORTMELD_SIGN_PKCS11_MODULE, "
                              "the token's PKCS#11 module")
            if "pin-value=" in key.lower():
                raise Refused("PORTMELD_SIGN_KEY holds the token's PIN, which would be on a command line: "
                              "put it in the file that PORTMELD_SIGN_PASSWORD_FILE names")
            options = ["-pkcs11module", module, "-certs", cert, "-key", key]
            line = f"the certificate {cert} and the token key {key} (module {module})"
            files = [cert, module]
        else:
            if module:
                raise Refused("PORTMELD_SIGN_PKCS11_MODULE is set but PORTMELD_SIGN_KEY is no pkcs11: URI")
            options, line = ["-certs", cert, "-key", key], f"the certificate {cert} and the key {key}"
            files = [cert, key]
    else:
        raise Refused("no complete certificate: set PORTMELD_SIGN_PFX and PORTMELD_SIGN_PASSWORD_FILE, "
                      "or PORTMELD_SIGN_CERT and PORTMELD_SIGN_KEY (and PORTMELD_SIGN_PKCS11_MODULE for a "
                      f"pkcs11: key); given: {', '.join(sorted(given))}")
    if password:
        options += ["-readpass", password]
        files.append(password)
    for path in files:
        if not os.path.isfile(path):
            raise Refused(f"{path}: no such file")
    url = given.get("PORTMELD_TIMESTAMP_URL")
    if url:
        options += ["-ts", url]
        line += f", timestamped by {url}"
    else:
        line += ", without a timestamp: the signatures stop being valid when the certificate expires"
    return options, line


def command(options, infile, outfile):
    return ["osslsigncode", "sign", *options, "-h", "sha256", "-n", DESCRIPTION, "-in", infile, "-out", outfile]


def sign(options, path):
    """Signs path in place; False (with osslsigncode's words on standard
    error) when it could not, leaving the file as it was."""
    partial = path + ".signed.partial"
    if os.path.exists(partial):
        os.remove(partial)
    # Standard input and error stay the caller's: a token may ask for its PIN.
    result = subprocess.run(command(options, path, partial), stdout=subprocess.PIPE, text=True)
    if result.returncode != 0 or not os.path.isfile(partial):
        if os.path.exists(partial):
            os.remove(partial)
        print(f"sign_release: signing {path} failed{': ' + result.stdout.strip() if result.stdout.strip() else ''}",
              file=sys.stderr)
        return False
    os.replace(partial, path)
    return True


def main():
    args = sys.argv[1:]
    if not args:
        sys.exit("usage: sign_release.py --describe | FILE...")
    try:
        chosen = signer()
    except Refused as refusal:
        print(f"sign_release: {refusal}", file=sys.stderr)
        sys.exit(3)
    if args == ["--describe"]:
        password = os.environ.get("PORTMELD_SIGN_PASSWORD_FILE")
        if chosen and password and os.stat(password).st_mode & (stat.S_IRGRP | stat.S_IROTH):
            print(f"sign_release: warning: other users of this machine can read {password}", file=sys.stderr)
        print(f"signing with {chosen[1]}" if chosen else
              "not signing: no code-signing certificate given (PORTMELD_SIGN_PFX or PORTMELD_SIGN_CERT)")
        return
    if not chosen:
        return  # unsigned, as --describe said
    for path in args:
        if not sign(chosen[0], path):
            sys.exit(2)


if __name__ == "__main__":
    main()
