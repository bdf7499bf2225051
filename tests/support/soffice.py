"""Converts workbooks with a headless LibreOffice that leaves nothing behind.

soffice gets a profile of its own in `work` and its temporary files there too; it is killed with
everything it started when it is done or out of time, and the socket file its profile's pipe
leaves in /tmp is removed.
"""
import hashlib
import os
import signal
import subprocess


def _pipe_sockets(profile_url):
    # LibreOffice names that pipe after the MD5 of the profile's URL in UTF-16, each byte in hex
    # without leading zeros, and makes it in /tmp (or /var/tmp).
    digest = hashlib.md5(profile_url.encode("utf-16-le")).digest()
    name = "OSL_PIPE_%d_SingleOfficeIPC_%s" % (os.getuid(), "".join("%x" % b for b in digest))
    return [os.path.join(folder, name) for folder in ("/tmp", "/var/tmp")]


def convert(work, to, outdir, files, timeout=300):
    """soffice --convert-to TO for FILES into OUTDIR; returns its standard error."""
    profile_url = "file://" + os.path.join(os.path.abspath(work), "profile")
    tmp = os.path.join(work, "tmp")
    os.makedirs(tmp, exist_ok=True)
    cmd = ["soffice", "--headless", "--norestore", "--nologo",
           "-env:UserInstallation=" + profile_url, "--convert-to", to, "--outdir", outdir] + files
    p = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                         start_new_session=True, env=dict(os.environ, TMPDIR=tmp))
    err = b""
    try:
        _, err = p.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        pass
    finally:
        try:
            os.killpg(p.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        p.wait()
        for socket in _pipe_sockets(profile_url):
            try:
                os.remove(socket)
            except FileNotFoundError:
                pass
    return err.decode(errors="replace")
