"""Converts workbooks with a headless LibreOffice that leaves nothing behind.

soffice gets a profile of its own in `work` and its temporary files there too; it is killed with
everything it started when it is done or out of time, and the socket file its profile's pipe
leaves in /tmp is removed. store_xlsx() keeps one instance for the whole process instead (over
UNO, with python3-uno), ended the same way when the process ends.
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


class _Office:
    """One headless LibreOffice kept for the whole process and driven over UNO: a workbook is
    loaded hidden, computed and stored without a start of its own. Ended at exit (also when this
    process is killed: the kernel ends it with its parent)."""

    def __init__(self):
        import atexit
        import tempfile
        import time
        import uno
        from com.sun.star.connection import NoConnectException
        self.work = tempfile.mkdtemp(prefix="office-")
        self.pipe = "trelvix_test_%d_%d" % (os.getpid(), int(time.time() * 1000))
        self.profile_url = "file://" + os.path.join(self.work, "profile")
        tmp = os.path.join(self.work, "tmp")
        os.makedirs(tmp)
        binary = "/usr/lib/libreoffice/program/soffice.bin"
        cmd = [binary if os.access(binary, os.X_OK) else "soffice", "--headless", "--invisible",
               "--norestore", "--nologo", "--nodefault", "--nolockcheck",
               "-env:UserInstallation=" + self.profile_url,
               "--accept=pipe,name=%s;urp;" % self.pipe]
        self.cmd, self.env = cmd, dict(os.environ, TMPDIR=tmp)
        self._spawn()
        atexit.register(self.close)
        local = uno.getComponentContext()
        resolver = local.ServiceManager.createInstanceWithContext(
            "com.sun.star.bridge.UnoUrlResolver", local)
        url = "uno:pipe,name=%s;urp;StarOffice.ComponentContext" % self.pipe
        deadline = time.monotonic() + 120
        while True:
            try:
                ctx = resolver.resolve(url)
                break
            except NoConnectException:
                if self.proc.poll() == _RESTART:
                    self._spawn()  # a new profile is made by a first start that then ends
                elif self.proc.poll() is not None or time.monotonic() > deadline:
                    self.close()
                    raise RuntimeError("LibreOffice did not accept on its pipe")
                time.sleep(0.1)
        self.desktop = ctx.ServiceManager.createInstanceWithContext(
            "com.sun.star.frame.Desktop", ctx)

    def _spawn(self):
        self.proc = subprocess.Popen(self.cmd, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL, start_new_session=True,
                                     env=self.env, preexec_fn=_end_with_parent)

    def store(self, src, dst, filter_name):
        import uno
        from com.sun.star.beans import PropertyValue

        def props(**kw):
            out = []
            for k, v in kw.items():
                p = PropertyValue()
                p.Name, p.Value = k, v
                out.append(p)
            return tuple(out)

        doc = self.desktop.loadComponentFromURL(uno.systemPathToFileUrl(os.path.abspath(src)),
                                                "_blank", 0, props(Hidden=True))
        if doc is None:
            raise RuntimeError("LibreOffice did not load " + src)
        try:
            doc.calculateAll()
            doc.storeToURL(uno.systemPathToFileUrl(os.path.abspath(dst)),
                           props(FilterName=filter_name))
        finally:
            doc.close(True)

    def close(self):
        import shutil
        if self.proc is None:
            return
        try:
            self.desktop.terminate()
        except Exception:  # noqa: BLE001 - it is killed below anyway
            pass
        try:
            os.killpg(self.proc.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        self.proc.wait()
        self.proc = None
        for socket in _pipe_sockets(self.profile_url) + [
                os.path.join(d, "OSL_PIPE_%d_%s" % (os.getuid(), self.pipe))
                for d in ("/tmp", "/var/tmp")]:
            try:
                os.remove(socket)
            except FileNotFoundError:
                pass
        shutil.rmtree(self.work, ignore_errors=True)


# soffice.bin's exit code when it wants to be started again.
_RESTART = 81


def _end_with_parent():
    import ctypes
    PR_SET_PDEATHSIG = 1
    ctypes.CDLL(None).prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


_office = None


def store_xlsx(src, dst):
    """Saves the workbook SRC as DST through LibreOffice, which computes every formula, in the
    one instance this process keeps (python3-uno); False when there is none to be had, and the
    caller converts with a start of its own."""
    global _office
    # An instance that fails a workbook is ended; the workbook is tried once more in a fresh one,
    # so that an instance that went wrong (a first start that did not settle, say) fails nothing.
    for attempt in (1, 2):
        try:
            if _office is None:
                _office = _Office()
        except ImportError:
            return False
        try:
            _office.store(src, dst, "Calc MS Excel 2007 XML")
            return True
        except Exception as e:  # noqa: BLE001 - said, then tried again or raised
            import sys
            print("soffice: %s: %s (attempt %d)" % (src, e, attempt), file=sys.stderr)
            _office.close()
            _office = None
            if attempt == 2:
                raise
    return True
