"""signing: Authenticode-signed stand-ins for the wine tier (openssl + osslsigncode), without a
time stamp: nothing leaves the machine. Wine accepts such a self-signed signature as trusted;
real Windows does not (the root is not in its store). Failures raise SigningError with the
tool's output.
"""

from __future__ import annotations

import re
import shutil
import subprocess
from pathlib import Path
from typing import Optional, Tuple, Union

PathLike = Union[str, Path]


class SigningError(RuntimeError):
    pass


def _run(tool: str, *args) -> None:
    path = shutil.which(tool)
    if path is None:
        raise SigningError("%s is not installed (tools/install-deps.sh installs it)" % tool)
    r = subprocess.run([path] + [str(a) for a in args], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                       stderr=subprocess.STDOUT, timeout=60)
    if r.returncode != 0:
        raise SigningError("%s failed (%d): %s" % (tool, r.returncode, r.stdout.decode(errors="replace")))


def make_certificate(subject_cn: str, out_dir: PathLike,
                     organization: Optional[str] = None) -> Tuple[Path, Path]:
    """A self-signed code-signing certificate whose subject (and issuer) has CN `subject_cn` and O
    `organization` (default: the CN); returns (cert.pem, key.pem) in `out_dir`, named after the
    CN so several can share a folder. CertGetNameString's simple display name takes the CN."""
    out_dir = Path(out_dir)
    out_dir.mkdir(parents=True, exist_ok=True)
    stem = re.sub(r"[^A-Za-z0-9]+", "_", subject_cn).strip("_") or "signer"
    cert, key = out_dir / (stem + ".cert.pem"), out_dir / (stem + ".key.pem")
    # Characters openssl's -subj syntax treats specially are escaped, so "A Co.,Ltd." is one CN.
    subject = "/CN=%s/O=%s" % tuple(re.sub(r"([\\/,+=])", r"\\\1", v)
                                    for v in (subject_cn, organization or subject_cn))
    _run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "3650", "-subj", subject,
         "-utf8", "-addext", "extendedKeyUsage=codeSigning", "-keyout", key, "-out", cert)
    return cert, key


def sign_exe(src: PathLike, dst: PathLike, cert: PathLike, key: PathLike) -> Path:
    """Writes `dst`: `src` with an embedded Authenticode signature by `cert`/`key`."""
    dst = Path(dst)
    dst.unlink(missing_ok=True)  # osslsigncode refuses to overwrite
    _run("osslsigncode", "sign", "-certs", cert, "-key", key, "-h", "sha256", "-in", src, "-out", dst)
    return dst
