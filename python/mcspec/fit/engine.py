"""Where the models run: one evaluation = one run of the program in its own temporary directory
on a Dask worker, with MCSPEC_THREADS=1 (one evaluation per core). Without a scheduler address a
LocalCluster with one single-threaded worker process per core is started on 127.0.0.1; with one,
the fit uses whatever workers are attached to that scheduler (they need this package on their
PYTHONPATH and the program, the data directory and the output directory at the same paths).
"""
from __future__ import annotations

import ipaddress
import os
import shutil
import socket
import subprocess
import tempfile
import time

from ..errors import RunError
from . import objective

STDERR_TAIL = 2000  # characters of the program's standard error kept as the failure message


def worker_name() -> str:
    try:
        from distributed import get_worker
        w = get_worker()
        return str(w.name if w.name is not None else w.address)
    except (ImportError, ValueError):
        return f"{socket.gethostname()}:{os.getpid()}"


def failure_message(stderr: str, stdout: str, rc: int) -> str:
    """The program's own message: the last non-empty lines of standard error, else of stdout."""
    for text in (stderr, stdout):
        lines = [ln.strip() for ln in text.splitlines() if ln.strip()]
        if lines:
            return f"exit {rc}: " + " | ".join(lines[-3:])[-STDERR_TAIL:]
    return f"exit {rc}"


def run_model(task: dict) -> dict:
    """Run one model (on a worker). The program is started here rather than through
    mcspec.run, which reads back every output file (0.3-0.6 s a run): the fit needs only
    spct.dat (5 ms). task: index, files (name -> text), binary, mcdata, timeout,
    observed (objective.Observed), dereddened, keep_below, run_root, keep; optional
    packet_ramp (MCSPEC_PACKET_RAMP of the run; 1: none). A warm start is one more file,
    "warmstart.dat". The record holds the run's radfield.dat text ("radfield") and its
    number of temperature passes ("passes").
    Returns the evaluation record; never raises for a model that fails."""
    from ..errors import McspecError
    from ..outputs import read_spct

    t0 = time.perf_counter()
    rec = {"index": task["index"], "worker": worker_name(), "status": "ok", "chi2": float("inf"),
           "nbins": 0, "message": "", "run_dir": "", "program_s": 0.0, "spct": None}
    tmp = tempfile.mkdtemp(prefix=f"mcspec-eval-{task['index']:06d}-")
    kept = False
    try:
        for name, text in task["files"].items():
            with open(os.path.join(tmp, name), "w") as f:
                f.write(text)
        env = dict(os.environ, MCDATA=task["mcdata"], MCSPEC_THREADS="1", MCSPEC_QUIET="1",
                   MCSPEC_PACKET_RAMP=repr(float(task.get("packet_ramp", 1.0))))
        t1 = time.perf_counter()
        try:
            with open(os.path.join(tmp, "stdout.txt"), "w") as out:
                proc = subprocess.run([task["binary"]], cwd=tmp, env=env, stdout=out,
                                      stderr=subprocess.PIPE, text=True,
                                      timeout=task["timeout"])
            rc, err = proc.returncode, proc.stderr
        except subprocess.TimeoutExpired:
            rc, err = None, ""
        rec["program_s"] = time.perf_counter() - t1
        if rc is None:
            rec.update(status="failed", message=f"timed out after {task['timeout']:g} s")
        elif rc != 0:
            with open(os.path.join(tmp, "stdout.txt")) as f:
                rec.update(status="failed", message=failure_message(err, f.read(), rc))
        else:
            with open(os.path.join(tmp, "stdout.txt")) as f:
                rec["passes"] = sum(ln.lstrip().startswith("TEMP ITER") for ln in f)
            try:
                with open(os.path.join(tmp, "radfield.dat")) as f:
                    rec["radfield"] = f.read()
            except OSError:
                pass
            try:
                spct = read_spct(os.path.join(tmp, "spct.dat"))
                rec["chi2"], rec["nbins"] = objective.chi2(spct, task["observed"],
                                                          task["dereddened"])
                rec["spct"] = spct
            except (McspecError, ValueError, OSError) as e:
                rec.update(status="failed", message=f"spct.dat: {e}")
        if rec["status"] == "ok" and (task["keep"] or rec["chi2"] < task["keep_below"]):
            dest = os.path.join(task["run_root"], f"eval-{task['index']:06d}")
            os.makedirs(task["run_root"], exist_ok=True)
            shutil.move(tmp, dest)
            rec["run_dir"] = dest
            kept = True
    finally:
        if not kept:
            shutil.rmtree(tmp, ignore_errors=True)
    rec["wall_s"] = time.perf_counter() - t0
    return rec


CONNECT_TIMEOUT = 8    # s to reach a scheduler
WORKERS_TIMEOUT = 60   # s to wait for a first worker at a scheduler without any


def is_loopback(address: str) -> bool:
    """Whether a scheduler address (tcp://host:port, tls://[::1]:port, host:port) names
    this machine's loopback interface."""
    host = address.split("://", 1)[-1].rsplit(":", 1)[0].strip("[]")
    try:
        infos = socket.getaddrinfo(host, None)
    except (OSError, UnicodeError):
        return False
    return bool(infos) and all(ipaddress.ip_address(i[4][0].split("%")[0]).is_loopback
                               for i in infos)


class Engine:
    """A Dask client: a LocalCluster on this machine, or a scheduler at an address, reached
    with TLS when `tls` names the CA, certificate and key files (PEM)."""

    def __init__(self, scheduler: str = "", workers: int = 0, retries: int = 2, log=print,
                 tls=None):
        self.scheduler, self.workers, self.retries, self.log = scheduler, workers, retries, log
        self.tls = tls
        self.client = self.cluster = None

    def _connect(self):
        from distributed import Client
        from distributed.security import Security
        addr = self.scheduler
        security = None
        if self.tls:
            if not addr.startswith("tls://"):
                raise RunError(f"scheduler {addr} ([cluster] scheduler or --scheduler): with "
                               f"[cluster] tls_ca_file, tls_cert and tls_key the address "
                               f"starts with tls://")
            ca, cert, key = self.tls
            security = Security(tls_ca_file=ca, tls_client_cert=cert, tls_client_key=key,
                                require_encryption=True)
        elif addr.startswith("tls://"):
            raise RunError(f"cannot connect to the Dask scheduler {addr} ([cluster] scheduler "
                           f"or --scheduler): it uses TLS; set [cluster] tls_ca_file, tls_cert "
                           f"and tls_key")
        elif not is_loopback(addr):
            self.log(f"fit: warning: scheduler {addr} is not on this machine's loopback and "
                     f"the connection has no TLS: whoever reaches the scheduler can run code "
                     f"on its workers; set [cluster] tls_ca_file, tls_cert, tls_key "
                     f"(docs/fitting.md)")
        try:
            return Client(addr, timeout=f"{CONNECT_TIMEOUT}s", security=security)
        except Exception as e:   # refused, timed out, TLS handshake, a malformed address
            raise RunError(f"cannot connect to the Dask scheduler {addr} ([cluster] scheduler "
                           f"or --scheduler): {type(e).__name__}: {e}") from None

    def __enter__(self):
        from distributed import LocalCluster, Client
        if self.scheduler:
            self.client = self._connect()
            n = len(self.client.scheduler_info()["workers"])
            if n == 0:
                try:
                    self.client.wait_for_workers(1, timeout=WORKERS_TIMEOUT)
                except TimeoutError:
                    self.client.close()
                    raise RunError(f"no worker attached to the scheduler {self.scheduler} "
                                   f"within {WORKERS_TIMEOUT} s") from None
                n = len(self.client.scheduler_info()["workers"])
            self.log(f"fit: scheduler {self.scheduler}, {n} workers attached")
        else:
            n = self.workers or os.cpu_count() or 1
            # TLS with a certificate made for this cluster: other users of this machine
            # reach 127.0.0.1 too (needs python3-cryptography; without it, plain TCP).
            try:
                import cryptography  # noqa: F401
                security = True
            except ImportError:
                security = None
            self.cluster = LocalCluster(n_workers=n, threads_per_worker=1, processes=True,
                                        host="127.0.0.1", dashboard_address=None,
                                        silence_logs=40, security=security)
            self.client = Client(self.cluster)
            self.log(f"fit: local cluster, {n} single-threaded workers"
                     + (" (TLS)" if security else " (no TLS: python3-cryptography missing)"))
        self.n_workers = n
        return self

    def __exit__(self, *exc):
        # Connections cut while closing are logged with their tracebacks; they tell nothing.
        import logging
        loggers = [logging.getLogger(n) for n in ("distributed", "asyncio", "tornado")]
        levels = [lg.level for lg in loggers]
        for lg in loggers:
            lg.setLevel(logging.CRITICAL)
        try:
            if self.client is not None:
                self.client.close()
            if self.cluster is not None:
                self.cluster.close()
        finally:
            for lg, level in zip(loggers, levels):
                lg.setLevel(level)
        return False

    def map(self, fn, tasks):
        """Run fn over tasks on the cluster; yield (task, record) as each finishes. A task
        whose worker died is rerun elsewhere by the scheduler, one that raised is retried
        `retries` times; after that it yields a record with status "error"."""
        from distributed import as_completed
        if not tasks:
            return
        futures = self.client.map(fn, tasks, retries=self.retries, pure=False)
        by_key = {f.key: t for f, t in zip(futures, tasks)}
        for fut in as_completed(futures):
            task = by_key[fut.key]
            if fut.status == "finished":
                yield task, fut.result()
            else:
                try:
                    exc = fut.exception()
                    msg = f"{type(exc).__name__}: {exc}"
                except Exception as e:  # cancelled future, lost scheduler
                    msg = f"{type(e).__name__}: {e}"
                yield task, {"index": task["index"], "status": "error", "chi2": float("inf"),
                             "nbins": 0, "message": msg, "run_dir": "", "program_s": 0.0,
                             "wall_s": 0.0, "worker": "", "spct": None}
            fut.release()


class SerialEngine:
    """The same interface in this process, for tests and for debugging a configuration."""
    n_workers = 1

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        return False

    def map(self, fn, tasks):
        for t in tasks:
            yield t, fn(t)
