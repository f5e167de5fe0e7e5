"""Whole libraries of mesh files, chamfered on a Dask cluster: corvane.batch,
and `python3 -m corvane batch` over it.

The client (this process) finds the files, hands them to the cluster as
tasks (each large file alone, small ones in groups) and writes the report as
the results come in. A worker reads a file, chamfers it and writes its
output atomically, so a worker that dies costs only the task it was on; the
scheduler runs that task again elsewhere. Dask is imported only when a batch
runs: `import corvane` does not need it.
"""

import dataclasses
import glob
import json
import logging
import math
import os
import shutil
import signal
import socket
import sys
import tempfile
import threading
import time
import uuid
import warnings
from typing import Dict, List, Optional, Sequence, Union

# The extensions the readers take, and the format each names.
FORMATS = {".obj": "obj", ".ply": "ply", ".off": "off", ".stl": "stl", ".gltf": "gltf", ".glb": "glb"}
# The validity counts of a result the report gives, as stats() names them.
VALIDITY = ("border_edges", "crowded_edges", "repeated_point_polygons", "zero_area_polygons")
# A file that crashes or hangs its worker is tried this often in all.
TRIES = 2
# Files below this size go to the workers in groups of up to this many bytes
# and files; a group of small files takes about 0.2 s to chamfer.
GROUP_BYTES = 512 * 1024
GROUP_FILES = 64
DEFAULT_TIME_LIMIT = 600.0


class BatchError(ValueError):
    """Arguments a batch cannot start from: a missing input, an unknown
    format, two inputs that would write the same output."""


@dataclasses.dataclass
class BatchResult:
    """What a batch did: one report record per file it ran (in the order
    they finished), the inputs it skipped, and whether Ctrl-C stopped it."""

    records: List[dict]
    skipped: List[str]
    total: int
    seconds: float
    workers: int
    interrupted: bool = False

    def count(self, status: str) -> int:
        return sum(1 for r in self.records if r["status"] == status)

    @property
    def exit_status(self) -> int:
        """0 when every file gave a valid result, 1 when any failed or gave
        an invalid one, 130 when interrupted."""
        if self.interrupted:
            return 130
        return 0 if all(r["status"] == "ok" for r in self.records) else 1


# ---- on a worker -------------------------------------------------------------


class _Setup:
    """Loads the module once per worker process, when the worker starts, by
    the package's default loading: whichever module file the package brings.
    Workers of a local cluster ignore Ctrl-C, which the terminal sends to
    every process of the batch: the client alone stops them."""

    name = "corvane-batch"

    def __init__(self, local: bool):
        self.local = local

    def setup(self, worker=None):
        if self.local:
            try:
                signal.signal(signal.SIGINT, signal.SIG_IGN)
            except ValueError:  # not the main thread: nothing to do there
                pass
        import numpy as np

        import corvane

        with warnings.catch_warnings():
            warnings.simplefilter("ignore")  # a lone triangle has no edge to chamfer
            corvane.chamfer(corvane.Mesh(np.eye(3), [[0, 1, 2]]), 0.1)


class _Watchdog:
    """The deadlines of the files running in this worker process, watched by
    one thread (a thread per file would cost more than a small file's
    chamfer). A chamfer cannot be stopped from another thread, and a hung
    one holds the module's lock: past a deadline the process goes, and its
    nanny starts a fresh one."""

    lock = threading.Lock()
    deadlines: Dict[int, float] = {}
    thread = None

    @classmethod
    def watch(cls, seconds: float) -> int:
        with cls.lock:
            if cls.thread is None:
                cls.thread = threading.Thread(target=cls.run, name="corvane-batch-watchdog", daemon=True)
                cls.thread.start()
            token = id(object()) ^ threading.get_ident()
            cls.deadlines[token] = time.monotonic() + seconds
            return token

    @classmethod
    def done(cls, token: int):
        with cls.lock:
            cls.deadlines.pop(token, None)

    @classmethod
    def run(cls):
        while True:
            time.sleep(0.1)
            with cls.lock:
                late = any(deadline < time.monotonic() for deadline in cls.deadlines.values())
            if late:
                os.kill(os.getpid(), signal.SIGKILL)


def _caught_warnings(caught) -> List[str]:
    return [str(w.message) for w in caught if issubclass(w.category, RuntimeWarning)]


def _faults(before: dict, after: dict) -> List[str]:
    """What the result has that the input did not; the chamfer's own warnings
    already name polygons through one point twice or of zero area."""
    def edges(n):
        return f"{n} edge{'' if n == 1 else 's'}"

    faults = []
    if before["border_edges"] == 0 and after["border_edges"] > 0:
        faults.append(f"the input is closed but the result has {edges(after['border_edges'])} on its border")
    if after["crowded_edges"] > before["crowded_edges"]:
        faults.append(f"the result has {edges(after['crowded_edges'])} on 3 or more polygons, "
                      f"the input {before['crowded_edges']}")
    return faults


def _chamfer_file(job: dict) -> dict:
    """One file, on a worker: its report record, with the output's bytes
    under "_bytes" when the client writes it."""
    import corvane

    start = time.perf_counter()
    # Never in the client's own process (a cluster of threads).
    watchdog = None
    if job["time_limit"] and (socket.gethostname(), os.getpid()) != tuple(job["client"]):
        watchdog = _Watchdog.watch(job["time_limit"])
    options = job["options"]
    record = {"input": job["input"], "output": None, "status": "failed", "before": None, "after": None,
              "options": dict(options, clamped=False, size_used=options["size"]), "validity": None,
              "warnings": [], "seconds": None, "error": None}
    scratch = None
    # Workers may start elsewhere than the client: they take the paths
    # absolute, and the report names them as they were given.
    path = job["source"]
    try:
        if job["data"] is not None:
            scratch = tempfile.mkdtemp(prefix="corvane-batch-")
            for name, data in job["data"].items():
                with open(os.path.join(scratch, name), "wb") as f:
                    f.write(data)
            path = os.path.join(scratch, next(iter(job["data"])))
        mesh = corvane.read(path)
        record["before"] = {"points": len(mesh.points), "polygons": len(mesh)}
        size, clamp = options["size"], options["clamp"]
        if clamp:
            safe = corvane.stats(mesh)["safe_bevel_size"]
            if size is None:
                # Each file at its own safe size; one with nothing to chamfer
                # has none, and any size leaves it as it is.
                size = safe if math.isfinite(safe) else 1.0
            record["options"]["clamped"] = size > safe
            record["options"]["size_used"] = min(size, safe)
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            result = corvane.chamfer(mesh, size, options["angle_mode"], options["limit_angle"], clamp=clamp)
        record["warnings"] = _caught_warnings(caught)
        after = corvane.stats(result.mesh, safe_size=False)
        record["after"] = {"points": after["points"], "polygons": after["polygons"]}
        record["validity"] = {k: after[k] for k in VALIDITY}
        invalid = False
        # A result without a border or a fault is valid whatever the input;
        # only the others are held against the input's counts.
        if any(record["validity"].values()):
            before = corvane.stats(mesh, safe_size=False)
            faults = _faults(before, after)
            record["warnings"] += faults
            invalid = bool(faults) or after["repeated_point_polygons"] > before["repeated_point_polygons"] or \
                after["zero_area_polygons"] > before["zero_area_polygons"]
        if job["data"] is None:
            os.makedirs(os.path.dirname(job["target"]), exist_ok=True)
            corvane.write(result.mesh, job["target"], job["format"])
        else:
            written = os.path.join(scratch, "out" + os.path.splitext(job["output"])[1])
            corvane.write(result.mesh, written, job["format"])
            with open(written, "rb") as f:
                record["_bytes"] = f.read()
        record["output"] = job["output"]
        record["status"] = "invalid" if invalid else "ok"
    except Exception as e:  # the file fails, the batch goes on
        # The reader names the copy or the absolute path; the user knows the
        # file by the name they gave.
        record["error"] = (str(e) or type(e).__name__).replace(path, job["input"])
        record["after"] = record["validity"] = None
    finally:
        if watchdog is not None:
            _Watchdog.done(watchdog)
        if scratch:
            shutil.rmtree(scratch, ignore_errors=True)
    record["seconds"] = round(time.perf_counter() - start, 6)
    return record


def _chamfer_files(jobs: List[dict]) -> List[dict]:
    return [_chamfer_file(job) for job in jobs]


def _sees(path: str, token: str, probe: str, probe_size: int) -> bool:
    # Whether a worker reads what the client wrote, and the input it named.
    try:
        with open(path) as f:
            return f.read() == token and os.path.getsize(probe) == probe_size
    except OSError:
        return False


# ---- in the client -----------------------------------------------------------


def _format_of(path: str) -> Optional[str]:
    return FORMATS.get(os.path.splitext(path)[1].lower())


def _walk(folder: str, skip: str) -> List[str]:
    found = []
    for root, dirs, files in os.walk(folder):
        dirs[:] = sorted(d for d in dirs if os.path.realpath(os.path.join(root, d)) != skip)
        found += [os.path.join(root, f) for f in sorted(files) if _format_of(f)]
    return found


def _collect(paths: Sequence, out_dir: str, format: Optional[str]) -> List[tuple]:
    """(input, output) for every file the inputs name: a folder's files by
    their path below it, a glob's below the part without wildcards, a file
    by its name. The output has the format's extension."""
    skip = os.path.realpath(out_dir)
    pairs = []
    for given in paths:
        given = os.fsdecode(given)
        if os.path.isdir(given):
            base, files = given, _walk(given, skip)
        elif os.path.exists(given):
            base, files = os.path.dirname(given), [given]
        elif any(c in given for c in "*?["):
            parts = given.split(os.sep)
            fixed = parts[:next(i for i, p in enumerate(parts) if any(c in p for c in "*?["))]
            base = os.sep.join(fixed) if fixed != [""] else os.sep
            files = []
            for match in sorted(glob.glob(given, recursive=True)):
                files += _walk(match, skip) if os.path.isdir(match) else [match] if _format_of(match) else []
            if not files:
                raise BatchError(f"{given}: no mesh file matches")
        else:
            raise BatchError(f"{given}: no such file or folder")
        for path in files:
            relative = os.path.relpath(path, base or ".")
            if format:
                relative = os.path.splitext(relative)[0] + "." + format
            pairs.append((path, os.path.join(out_dir, relative)))
    outputs: Dict[str, str] = {}
    for path, output in pairs:
        if outputs.setdefault(os.path.realpath(output), path) != path:
            raise BatchError(f"{outputs[os.path.realpath(output)]} and {path} would both write {output}")
    return pairs


def _read_report(report: str) -> Dict[str, dict]:
    lines = {}
    try:
        with open(report, encoding="utf-8") as f:
            for text in f:
                try:
                    line = json.loads(text)
                    lines[line["input"]] = line
                except (ValueError, KeyError, TypeError):
                    pass  # a line cut short when the batch was killed
    except FileNotFoundError:
        pass
    return lines


def _write_atomically(path: str, data: bytes):
    folder = os.path.dirname(path) or "."
    os.makedirs(folder, exist_ok=True)
    fd, temp = tempfile.mkstemp(dir=folder, prefix="." + os.path.basename(path) + ".")
    try:
        with os.fdopen(fd, "wb") as f:
            f.write(data)
            f.flush()
            os.fsync(f.fileno())
        os.replace(temp, path)
    except BaseException:
        os.unlink(temp)
        raise


def _input_bytes(path: str) -> Dict[str, bytes]:
    """The file, and for a .gltf the buffers it names beside it, by name."""
    with open(path, "rb") as f:
        data = {os.path.basename(path): f.read()}
    if _format_of(path) == "gltf":
        try:
            buffers = json.loads(data[os.path.basename(path)]).get("buffers", [])
        except ValueError:
            buffers = []  # the reader on the worker says what is wrong
        for buffer in buffers:
            uri = buffer.get("uri", "") if isinstance(buffer, dict) else ""
            if uri and not uri.startswith("data:") and "/" not in uri and os.path.isfile(
                    os.path.join(os.path.dirname(path), uri)):
                with open(os.path.join(os.path.dirname(path), uri), "rb") as f:
                    data[uri] = f.read()
    return data


class _Progress:
    """Files done out of files, failures and the time left, on one line of a terminal."""

    def __init__(self, total: int, show: bool):
        self.total, self.show, self.start = total, show, time.monotonic()

    def update(self, done: int, failed: int):
        if not self.show or not self.total:
            return
        elapsed = time.monotonic() - self.start
        left = "" if not done else f", {_duration(elapsed / done * (self.total - done))} left"
        width = 24
        filled = width * done // self.total
        sys.stderr.write(f"\r[{'#' * filled}{'.' * (width - filled)}] {done}/{self.total} files, "
                         f"{failed} failed{left}\x1b[K")
        sys.stderr.flush()

    def end(self):
        if self.show and self.total:
            sys.stderr.write("\n")


def _duration(seconds: float) -> str:
    seconds = int(seconds + 0.5)
    return f"{seconds // 3600}:{seconds // 60 % 60:02d}:{seconds % 60:02d}" if seconds >= 3600 else \
        f"{seconds // 60}:{seconds % 60:02d}"


def _groups(todo: List[tuple]) -> List[List[tuple]]:
    """The files in tasks: each large file alone, the small ones together up
    to GROUP_BYTES, since a task costs the scheduler a few milliseconds, as
    much as chamfering a file of a thousand corners."""
    groups, size = [], GROUP_BYTES
    for pair in todo:
        bytes = os.path.getsize(pair[0])
        if bytes >= GROUP_BYTES or size + bytes > GROUP_BYTES or len(groups[-1]) >= GROUP_FILES:
            groups.append([])
            size = 0
        groups[-1].append(pair)
        size += bytes
    return groups


def _killed(path: str, options: dict, error: BaseException, time_limit: float) -> dict:
    limit = f" or ran past the time limit of {time_limit:g} s" if time_limit else ""
    return {"input": path, "output": None, "status": "failed", "before": None, "after": None,
            "options": dict(options, clamped=False, size_used=options["size"]), "validity": None,
            "warnings": [], "seconds": None,
            "error": f"the worker crashed{limit} on it, {TRIES} times" if type(error).__name__ == "KilledWorker"
            else f"{type(error).__name__}: {error}"}


# A worker that dies on a file costs it one of its tries, and costs one too
# to every file the scheduler had sent that worker: one file at a time per
# worker thread keeps the cost to the file that was running.
SCHEDULER_SETTINGS = {"allowed_failures": TRIES - 1, "WORKER_SATURATION": 1.0}


def _apply_settings(client, settings: dict) -> Optional[dict]:
    """Sets the scheduler's attributes; returns their old values, or None
    when the scheduler would not run the function."""
    # Made here, so that it travels by value: the scheduler need not have
    # this package installed.
    def apply(dask_scheduler, settings):
        old = {name: getattr(dask_scheduler, name) for name in settings}
        for name, value in settings.items():
            setattr(dask_scheduler, name, value)
        return old

    try:
        return client.run_on_scheduler(apply, settings=settings)
    except Exception as e:
        warnings.warn(f"the scheduler's settings for the batch could not be made ({e}); a file whose worker dies "
                      "is tried as often as the scheduler's distributed.scheduler.allowed-failures says",
                      RuntimeWarning, 2)
        return None


def _transfer(client, transfer: str, local: bool, out_dir: str, first: Optional[str]) -> str:
    """"path" when every worker reads what the client writes (a shared file
    system), else "bytes"."""
    if transfer != "auto":
        return transfer
    if local or first is None:
        return "path"
    os.makedirs(out_dir, exist_ok=True)
    token = uuid.uuid4().hex
    probe = os.path.join(os.path.abspath(out_dir), f".corvane-batch-{token}")
    with open(probe, "w") as f:
        f.write(token)
    try:
        seen = client.run(_sees, probe, token, os.path.abspath(first), os.path.getsize(first))
    finally:
        os.unlink(probe)
    return "path" if seen and all(seen.values()) else "bytes"


def run(paths: Sequence, out_dir, *, format: Optional[str] = None, size: Optional[float] = None,
        clamp: bool = False, angle_mode: str = "disable", limit_angle: float = 90.0, jobs: Optional[int] = None,
        scheduler: Optional[str] = None, client=None, skip_existing: bool = False, report=None,
        transfer: str = "auto", time_limit: Optional[float] = DEFAULT_TIME_LIMIT,
        progress: Optional[bool] = None) -> BatchResult:
    """batch() without raising KeyboardInterrupt: an interrupted batch comes
    back with interrupted=True, for the command line's summary."""
    out_dir = os.fsdecode(out_dir)
    if format is not None:
        format = format.lower()
        if format not in FORMATS.values():
            raise BatchError(f"format must be one of {', '.join(FORMATS.values())}, not {format!r}")
    if size is None and not clamp:
        raise BatchError("give a size, or clamp to chamfer each file at its own safe size")
    if size is not None and not (math.isfinite(size) and size >= 0):
        raise BatchError(f"the size must be a finite number of 0 or more, not {size}")
    if angle_mode.lower() not in ("disable", "lt", "gt"):
        raise BatchError(f'angle_mode must be "disable", "lt" or "gt", not {angle_mode!r}')
    if not 0 <= limit_angle <= 180:
        raise BatchError(f"the limit angle must be from 0 to 180, not {limit_angle}")
    if transfer not in ("auto", "path", "bytes"):
        raise BatchError(f'transfer must be "auto", "path" or "bytes", not {transfer!r}')
    if client is not None and scheduler is not None:
        raise BatchError("give a scheduler address or a client, not both")
    pairs = _collect(paths, out_dir, format)
    report = os.fsdecode(report) if report is not None else None
    options = {"size": size, "angle_mode": angle_mode.lower(), "limit_angle": limit_angle, "clamp": clamp}

    # A resumed batch keeps the lines of the files it skips and no others,
    # so that the report holds one line per file however often it ran.
    skipped, kept = [], []
    if skip_existing:
        old = _read_report(report) if report else {}
        for path, output in pairs:
            line = old.get(path)
            if os.path.exists(output) and (report is None or (line and line.get("output") == output)):
                skipped.append(path)
                if line:
                    kept.append(line)
    if report:
        _write_atomically(report, b"".join(json.dumps(line).encode() + b"\n" for line in kept))
    skip = set(skipped)
    todo = [(path, output) for path, output in pairs if path not in skip]
    # The largest first, so that no worker is left with a big file at the end.
    todo.sort(key=lambda pair: -os.path.getsize(pair[0]))

    import distributed

    start = time.monotonic()
    cluster = own_client = None
    local = client is None and scheduler is None
    old_settings = None
    records: List[dict] = []
    in_flight: Dict[str, tuple] = {}
    workers = 0
    interrupted = False
    if progress is None:
        progress = sys.stderr.isatty()
    bar = _Progress(len(todo), progress)
    sink = open(report, "a", encoding="utf-8") if report else None
    try:
        if local:
            # Spawned workers inherit an ignored Ctrl-C; see _Setup.
            handler = signal.signal(signal.SIGINT, signal.SIG_IGN) \
                if threading.current_thread() is threading.main_thread() else None
            try:
                # No dashboard; the scheduler's HTTP server (health checks)
                # on a free port, not on one a cluster beside it may hold.
                cluster = distributed.LocalCluster(n_workers=jobs or os.cpu_count() or 1, threads_per_worker=1,
                                                   processes=True, dashboard_address=None,
                                                   scheduler_kwargs={"dashboard_address": "127.0.0.1:0"},
                                                   silence_logs=logging.ERROR)
            finally:
                if handler is not None:
                    signal.signal(signal.SIGINT, handler)
            client = own_client = distributed.Client(cluster)
        elif scheduler is not None:
            client = own_client = distributed.Client(scheduler)
        # Set for this batch and put back after it: a cluster may be shared.
        old_settings = _apply_settings(client, SCHEDULER_SETTINGS)
        try:
            client.register_worker_plugin(_Setup(local), name=_Setup.name)
        except Exception as e:  # every file would fail the same way
            raise BatchError(f"the workers cannot run corvane: {type(e).__name__}: {e}") from e
        mode = _transfer(client, transfer, local, out_dir, todo[0][0] if todo else None)
        workers = len(client.scheduler_info()["workers"])

        here = (socket.gethostname(), os.getpid())

        def submit(group):
            files = [{"input": path, "output": output, "source": os.path.abspath(path),
                      "target": os.path.abspath(output), "format": format, "options": options,
                      "time_limit": time_limit or 0, "client": here,
                      "data": _input_bytes(path) if mode == "bytes" else None} for path, output in group]
            future = client.submit(_chamfer_files, files, key=f"corvane-{uuid.uuid4().hex}", pure=False)
            in_flight[future.key] = (future, group)
            return future

        # Paths cost nothing to hold; bytes are held only for the files in
        # flight, a few per worker.
        groups = _groups(todo)
        window = len(groups) if mode == "path" else max(4, 4 * max(workers, 1))
        # The results are fetched in the background as they finish: one
        # round trip each from this thread would cost more than a small file.
        # On this client's loop: by default it would take the last client
        # made in the process, and wait on futures of another forever.
        running = distributed.as_completed([submit(group) for group in groups[:window]], loop=client.loop,
                                           with_results=True, raise_errors=False)
        groups = groups[window:]
        failed = 0
        bar.update(0, 0)
        for future, result in running:
            group = in_flight.pop(future.key)[1]
            finished = future.status == "finished"
            future.release()
            if finished:
                done = result
            elif len(group) > 1:
                # Twice the worker died on this group: each of its files gets
                # tries of its own, so that only the culprit fails.
                groups = [[pair] for pair in group] + groups
                done = []
            else:
                # An errored future's result comes as (type, exception, traceback).
                error = result[1] if isinstance(result, tuple) and len(result) == 3 else result
                done = [_killed(group[0][0], options, error, time_limit)]
            for record in done:
                data = record.pop("_bytes", None)
                if data is not None:
                    try:
                        _write_atomically(record["output"], data)
                    except OSError as e:
                        record.update(status="failed", output=None, error=str(e))
                records.append(record)
                failed += record["status"] == "failed"
                if sink:
                    sink.write(json.dumps(record) + "\n")
            if sink:
                sink.flush()
            bar.update(len(records), failed)
            while groups and len(in_flight) < window:
                running.add(submit(groups.pop(0)))
    except KeyboardInterrupt:
        interrupted = True
    finally:
        bar.end()
        if sink:
            sink.close()
        # Stopped half-way, the client's own bookkeeping may still be fetching
        # a result as it closes, and the scheduler and the client's loop log
        # that as errors with tracebacks: noise about the shutdown the user
        # asked for, which would bury the summary. Quiet until all is closed.
        quieted = []
        if interrupted:
            # Every such logger: some carry a level of their own.
            for name, logger in list(logging.Logger.manager.loggerDict.items()):
                if isinstance(logger, logging.Logger) and name.split(".")[0] in ("distributed", "tornado"):
                    quieted.append((logger, logger.level))
                    logger.setLevel(logging.CRITICAL)
        if client is not None:
            try:
                if in_flight:
                    client.cancel([future for future, _ in in_flight.values()])
            except Exception:
                pass
            if old_settings is not None and cluster is None:  # a scheduler that outlives the batch
                _apply_settings(client, old_settings)
        if own_client is not None:
            own_client.close()
        if cluster is not None:
            cluster.close()
        for logger, level in quieted:
            logger.setLevel(level)
    return BatchResult(records=records, skipped=skipped, total=len(pairs), seconds=time.monotonic() - start,
                       workers=workers, interrupted=interrupted)


def batch(paths: Sequence[Union[str, os.PathLike]], out_dir: Union[str, os.PathLike], *,
          format: Optional[str] = None, size: Optional[float] = None, clamp: bool = False,
          angle_mode: str = "disable", limit_angle: float = 90.0, jobs: Optional[int] = None,
          scheduler: Optional[str] = None, client=None, skip_existing: bool = False,
          report: Optional[Union[str, os.PathLike]] = None, transfer: str = "auto",
          time_limit: Optional[float] = DEFAULT_TIME_LIMIT, progress: Optional[bool] = None) -> BatchResult:
    """Chamfers every mesh file `paths` names into `out_dir`, in object mode,
    on a Dask cluster; returns a BatchResult.

    paths: files, folders (searched recursively for .obj, .ply, .off, .stl,
      .gltf and .glb files) or glob patterns ("scans/**/*.ply"). Each output
      keeps the file's path below its folder (or below a pattern's part
      without wildcards), with `format`'s extension when given.
    size, clamp, angle_mode, limit_angle: as chamfer() takes them; clamp
      without a size chamfers each file at its own safe bevel size.
    jobs: worker processes of the local cluster started when neither
      `scheduler` (an address such as "tcp://10.0.0.5:8786") nor `client` (a
      distributed.Client) names one; the core count by default.
    skip_existing: files whose output (and report line, with `report`)
      exist are not run again, so an interrupted batch resumes.
    report: a file of one JSON line per file (see the README).
    transfer: "path" when the workers read the inputs and write the outputs
      themselves (a shared file system), "bytes" when they travel through
      the scheduler; "auto" finds out.
    time_limit: seconds a file may take before its worker is stopped (None
      for none); a file that crashes or stops its worker twice fails.
    progress: a progress line on stderr; by default when it is a terminal.

    Every output is written atomically; a file that fails leaves none and
    the batch goes on. Raises BatchError (a ValueError) for arguments it
    cannot start from, and KeyboardInterrupt after Ctrl-C, once the report
    holds every file finished.
    """
    result = run(paths, out_dir, format=format, size=size, clamp=clamp, angle_mode=angle_mode,
                 limit_angle=limit_angle, jobs=jobs, scheduler=scheduler, client=client,
                 skip_existing=skip_existing, report=report, transfer=transfer, time_limit=time_limit,
                 progress=progress)
    if result.interrupted:
        raise KeyboardInterrupt
    return result
