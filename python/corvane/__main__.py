"""python3 -m corvane batch INPUT... -o OUTDIR [options]: whole libraries of
mesh files, chamfered on a local Dask cluster or on the one --scheduler
names. Exit status: 0 every file gave a valid result, 1 some file failed or
gave an invalid one, 2 bad arguments, 130 stopped by Ctrl-C."""

import argparse
import sys

from .batch import DEFAULT_TIME_LIMIT, FORMATS, BatchError, run


def parse(argv):
    parser = argparse.ArgumentParser(prog="python3 -m corvane", description=__doc__.split("\n\n")[0])
    commands = parser.add_subparsers(dest="command", required=True, metavar="batch")
    p = commands.add_parser("batch", help="chamfer every mesh file the inputs name into OUTDIR",
                            description="Chamfers every mesh file the inputs name (files, folders searched "
                            "recursively, glob patterns) into OUTDIR, in object mode, each output at its "
                            "path below its input folder.")
    p.add_argument("inputs", nargs="+", metavar="INPUT")
    p.add_argument("-o", "--output", required=True, metavar="OUTDIR", help="folder of the outputs")
    p.add_argument("--format", type=str.lower, choices=sorted(set(FORMATS.values())),
                   help="format of every output (default: each input's own)")
    p.add_argument("--size", type=float, help="bevel size")
    p.add_argument("--clamp", action="store_true",
                   help="keep the size to each file's safe size (without --size: chamfer each at it)")
    p.add_argument("--angle-mode", type=str.lower, choices=["disable", "lt", "gt"], default="disable")
    p.add_argument("--limit-angle", type=float, default=90.0, metavar="DEG")
    p.add_argument("--jobs", type=int, metavar="N", help="worker processes of the local cluster (default: cores)")
    p.add_argument("--scheduler", metavar="ADDRESS", help="run on the Dask cluster of this scheduler "
                   "(tcp://HOST:PORT) instead of a local one")
    p.add_argument("--skip-existing", action="store_true",
                   help="skip files whose output and report line exist (resume a batch)")
    p.add_argument("--report", metavar="FILE", help="write one JSON line per file here")
    p.add_argument("--transfer", choices=["auto", "path", "bytes"], default="auto",
                   help="workers read and write the files themselves (path) or get them through the "
                   "scheduler (bytes); auto checks whether they share this file system")
    p.add_argument("--time-limit", type=float, default=DEFAULT_TIME_LIMIT, metavar="SECONDS",
                   help=f"stop a file's worker after this long, 0 for never (default {DEFAULT_TIME_LIMIT:g})")
    p.add_argument("--no-progress", action="store_true", help="no progress line, even on a terminal")
    args = parser.parse_args(argv)
    if args.jobs is not None and args.jobs < 1:
        parser.error("--jobs must be 1 or more")
    if args.jobs is not None and args.scheduler:
        parser.error("--jobs sizes the local cluster; a --scheduler's cluster has its own workers")
    return parser, args


def summary(result) -> str:
    rows = [("ok", result.count("ok")), ("invalid", result.count("invalid")), ("failed", result.count("failed")),
            ("skipped", len(result.skipped))]
    if result.interrupted:
        rows.append(("not run", result.total - len(result.records) - len(result.skipped)))
    lines = [f"{'files':<10}{result.total:>8}"] + [f"  {name:<8}{n:>8}" for name, n in rows if n or name == "ok"]
    lines.append(f"{result.seconds:.1f} s on {result.workers} worker{'s' if result.workers != 1 else ''}"
                 + (" (stopped by Ctrl-C)" if result.interrupted else ""))
    for record in result.records:
        if record["status"] == "failed":
            lines.append(f"failed: {record['input']}: {record['error']}")
        elif record["status"] == "invalid":
            lines.append(f"invalid: {record['output']}: {'; '.join(record['warnings'])}")
    return "\n".join(lines)


def main(argv=None) -> int:
    _, args = parse(sys.argv[1:] if argv is None else argv)
    try:
        result = run(args.inputs, args.output, format=args.format, size=args.size, clamp=args.clamp,
                     angle_mode=args.angle_mode, limit_angle=args.limit_angle, jobs=args.jobs,
                     scheduler=args.scheduler, skip_existing=args.skip_existing, report=args.report,
                     transfer=args.transfer, time_limit=args.time_limit or None,
                     progress=False if args.no_progress else None)
    # Arguments it cannot start from, workers without the module, a cluster
    # it cannot reach, a report it cannot write.
    except (BatchError, OSError) as e:
        print(f"corvane batch: {e}", file=sys.stderr)
        return 2
    print(summary(result))
    return result.exit_status


if __name__ == "__main__":
    sys.exit(main())
