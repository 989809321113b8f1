"""Command line: write the entities described by a spec file, streamed as they are built, or
the tables of a data set document.

    tessary SPECS --scale N [--seed S] [-o FILE] [--format json|jsonl] [--compression gzip|zstd]
            [--level L] [--start A] [--stop B] [--digest sha256|xxh128]
            [--progress | --no-progress]
    tessary SPECS --scale N -o URL/ [--partitions K] [--digest sha256|xxh128]
            [--scheduler ADDRESS]
    tessary dataset DOCUMENT [--seed S] -o FOLDER [--format parquet|jsonl|json]
            [--compression gzip|zstd] [--progress | --no-progress] [--overwrite]
    tessary check SPECS
    tessary verify URL [--regenerate K] [--scheduler ADDRESS]

Without --seed a fresh seed is drawn and printed on standard error, so the run can be repeated.
Exit status: 0 done, 1 the output could not be written, 2 bad arguments or specs, 130 Ctrl-C.
`dataset`, `check` and `verify` are commands only as the first argument: a spec file of that name
is given as `./check`.
"""

from __future__ import annotations

import argparse
import contextlib
import errno
import importlib
import io
import os
import stat
import sys
from collections.abc import Callable, Iterator
from typing import IO, Any

import tessary
from tessary import _engine
from tessary.results import DIGESTS

U64_MAX = 2**64 - 1

# Above this many entities a write first prints the specs' warnings: a long run is worth a look.
WARN_ABOVE = 10**6

# Exit status of `tessary check`: the first severity found in this order decides (clean: 0).
CHECK_STATUS = {"error": 2, "may fail": 3, "warning": 1}

STDOUT_NAME = "standard output"
STDIN_NAME = "standard input"
SPECS_HELP = "path of the JSON spec file ('-' for standard input)"
DOCUMENT_HELP = "path of the JSON data set document ('-' for standard input)"


class Failure(Exception):
    """Ends the command with one line on standard error and an exit status."""

    def __init__(self, status: int, message: str) -> None:
        super().__init__(message)
        self.status = status
        self.message = message


def _say(message: str) -> None:
    if sys.stderr is not None:  # print(file=None) would write to standard output
        print(f"tessary: {message}", file=sys.stderr, flush=True)


def _reason(error: Exception) -> str:
    """The reason an error gives, without the errno and file name an OSError's text adds."""
    if isinstance(error, OSError) and error.strerror:
        return error.strerror
    return str(error)


# Arguments.


def _u64(text: str) -> int:
    try:
        value = int(text, 0)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not an integer: {text!r}") from None
    if not 0 <= value <= U64_MAX:
        raise argparse.ArgumentTypeError(f"must be between 0 and {U64_MAX}: {text}")
    return value


def _positive(text: str) -> int:
    value = _u64(text)
    if value == 0:
        raise argparse.ArgumentTypeError("must be at least 1")
    return value


def _add_write_arguments(
    parser: argparse.ArgumentParser, default_format: str, default_compression: str
) -> None:
    """The arguments that the table and data set commands share, but the output's name."""
    parser.add_argument("--seed", type=_u64, help="64-bit seed (default: drawn from the OS)")
    parser.add_argument(
        "--format", choices=("json", "jsonl", "parquet"),
        help=f"a JSON array, JSON Lines or Parquet (default: {default_format})",
    )
    parser.add_argument(
        "--compression", choices=("gzip", "zstd"), help=f"default: {default_compression}"
    )
    parser.add_argument(
        "--progress", action=argparse.BooleanOptionalAction,
        help="show a progress bar on standard error (default: when it is a terminal that is not "
        "also receiving the entities)",
    )


def _write_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="tessary",
        description="Generate synthetic entities from a JSON array of attribute specs.",
        epilog="Other commands, as the first argument: 'tessary dataset DOCUMENT -o FOLDER' "
        "writes the tables of a data set; 'tessary check SPECS' lists the problems of a spec "
        "file or data set document; 'tessary verify URL' checks a partitioned data set.",
    )
    parser.add_argument("specs", help=SPECS_HELP)
    parser.add_argument("--scale", type=_u64, required=True, help="number of entities")
    parser.add_argument(
        "--output", "-o",
        help="file to write (default or '-': standard output); a URL ending in '/' writes a "
        "partitioned data set",
    )
    _add_write_arguments(parser, "from the file name, else json", "from the file name, else none")
    parser.add_argument("--level", type=int, help="compression level")
    parser.add_argument("--start", type=_u64, default=0, help="first id to write (default: 0)")
    parser.add_argument("--stop", type=_u64, help="id after the last to write (default: scale)")
    parser.add_argument(
        "--digest", choices=DIGESTS,
        help="for a file, print this digest of the bytes written on standard error; for a "
        "partitioned data set, the manifest's digest (default: sha256)",
    )
    parser.add_argument(
        "--partitions", type=_positive, help="write a partitioned data set of this many parts"
    )
    parser.add_argument(
        "--scheduler", help="address of a Dask scheduler for a partitioned data set"
    )
    return parser


def _dataset_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="tessary dataset",
        description="Write every table of a data set document to a new folder: one file per "
        "table and _dataset.json, which describes them.",
    )
    parser.add_argument("document", metavar="DOCUMENT", help=DOCUMENT_HELP)
    parser.add_argument(
        "--output", "-o", required=True, metavar="FOLDER", help="the folder to write"
    )
    _add_write_arguments(parser, "parquet", "none")
    parser.add_argument(
        "--overwrite", action="store_true",
        help="replace an existing folder, once the new one is complete",
    )
    return parser


def _check_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="tessary check",
        description="List the problems of a spec file or data set document without generating "
        "anything. Exit status: 0 clean, 1 warnings only, 3 a spec may fail, 2 an error.",
    )
    parser.add_argument(
        "specs", help="path of the JSON spec file or data set document ('-' for standard input)"
    )
    return parser


def _verify_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="tessary verify",
        description="Check a partitioned data set against its manifest, changing nothing. "
        "Exit status: 0 sound, 1 problems found (one line each).",
    )
    parser.add_argument("url", help="folder of the data set (a path or an fsspec URL)")
    parser.add_argument(
        "--regenerate", type=_u64, default=0,
        help="also regenerate this many parts chosen at random and compare their digests",
    )
    parser.add_argument("--scheduler", help="address of a Dask scheduler to run on")
    return parser


# Input.


def _specs_name(path: str) -> str:
    return STDIN_NAME if path == "-" else path


def _decode(stream: IO[bytes]) -> str:
    """The stream's text read as strict UTF-8, whatever the locale or PYTHONIOENCODING says."""
    text = io.TextIOWrapper(stream, encoding="utf-8", errors="strict")
    try:
        return text.read()
    finally:
        text.detach()  # the stream stays open: it may be standard input


def _read_specs(path: str) -> str:
    try:
        if path != "-":
            with open(path, "rb") as file:
                return _decode(file)
        if sys.stdin is None:
            raise OSError(errno.EBADF, os.strerror(errno.EBADF))
        return _decode(sys.stdin.buffer)
    except (OSError, UnicodeDecodeError) as error:
        raise Failure(2, f"cannot read {_specs_name(path)}: {_reason(error)}") from None


def _problem_line(specs_name: str, problem: Any) -> str:
    where = ":".join(
        str(part) for part in (specs_name, problem.line, problem.column) if part is not None
    )
    return f"{where}: {problem.severity}: {problem.message}"


def _warn_before_long_write(specs_name: str, specs_json: str, entities: int) -> None:
    """Prints the warnings and "may fail" lines of the specs before a long write; errors are left
    to the write, which reports them in its own words."""
    if entities <= WARN_ABOVE or sys.stderr is None:
        return
    for problem in tessary.check_specs(specs_json):
        if problem.severity != "error":
            print(_problem_line(specs_name, problem), file=sys.stderr)


# Output.


def _check_output_path(path: str) -> None:
    """Raises the OSError that writing to path would meet at its end, before any work: a folder,
    a missing folder, or one where the file cannot be made. Devices and FIFOs pass."""
    try:
        mode: int | None = os.stat(path).st_mode
    except FileNotFoundError:
        mode = None
    if mode is not None and stat.S_ISDIR(mode):
        raise IsADirectoryError(errno.EISDIR, os.strerror(errno.EISDIR))
    if mode is None or stat.S_ISREG(mode):  # written beside the file it names, then renamed
        folder = os.path.dirname(os.path.realpath(path))
        os.stat(folder)  # a missing folder fails here
        if not os.access(folder, os.W_OK | os.X_OK):
            raise PermissionError(errno.EACCES, os.strerror(errno.EACCES))


def _silence_stdout() -> None:
    """Points standard output at /dev/null, so that the flush at exit does not fail again."""
    devnull = os.open(os.devnull, os.O_WRONLY)
    os.dup2(devnull, sys.stdout.fileno())
    os.close(devnull)


def _progress(choice: bool | None, to_stdout: bool) -> bool:
    """The --progress choice, else a bar when standard error is a terminal that does not also
    show the entities."""
    if choice is not None:
        return choice
    if sys.stderr is None or not sys.stderr.isatty():
        return False
    if not to_stdout or not sys.stdout.isatty():
        return True
    out, err = os.fstat(sys.stdout.fileno()), os.fstat(sys.stderr.fileno())
    return (out.st_dev, out.st_ino) != (err.st_dev, err.st_ino)


@contextlib.contextmanager
def _write_errors(specs_name: str, output_name: str) -> Iterator[None]:
    """Turns what a write raises into the command's message and exit status."""
    try:
        yield
    # The reader's message (the other arguments were checked before), or a sampling parameter
    # that failed for some entity.
    except (ValueError, tessary.PanicException) as error:
        raise Failure(2, f"{specs_name}: {error}") from None
    except MemoryError:
        raise Failure(1, "out of memory") from None
    except OSError as error:
        raise Failure(1, f"cannot write {output_name}: {_reason(error)}") from None


def _output_options(
    parser: argparse.ArgumentParser, args: argparse.Namespace, output: str | None,
    default_format: str, level: int | None = None,
) -> tuple[str, str | None, int | None]:
    """The output's format, compression and level, checked by the writer's own rules, so that a
    ValueError met later is about the specs."""
    try:
        return _engine.output_options(
            output, args.format, args.compression, level, default_format=default_format
        )
    except ValueError as error:
        parser.error(str(error))


def _check_arguments(
    parser: argparse.ArgumentParser, args: argparse.Namespace, output: str | None,
    default_format: str,
) -> tuple[str, str | None, int | None]:
    """The table's output options, as _output_options, and its range checked."""
    options = _output_options(parser, args, output, default_format, args.level)
    try:
        _engine.check_range(args.scale, args.start, args.stop)
    except ValueError as error:
        parser.error(str(error))
    return options


def _to_standard_output(write: Callable[[IO[bytes]], object], newline: bool) -> None:
    """Runs write on standard output's bytes, then ends the line if newline. A reader that
    stopped early, as `| head` does, is not an error. After any failure standard output points at
    /dev/null, so that the flush at exit neither fails again nor writes a buffered tail."""
    try:
        write(sys.stdout.buffer)
        if newline:
            sys.stdout.buffer.write(b"\n")
        sys.stdout.buffer.flush()
    except BrokenPipeError:
        _silence_stdout()
    except BaseException:
        _silence_stdout()
        raise


def _write_stream(
    parser: argparse.ArgumentParser, args: argparse.Namespace, specs_json: str
) -> int:
    output = None if args.output in (None, "-") else args.output
    output_name = output or STDOUT_NAME
    specs_name = _specs_name(args.specs)
    try:
        if output is None and sys.stdout is None:  # closed, as with `>&-`
            raise OSError(errno.EBADF, os.strerror(errno.EBADF))
        if output is not None:
            _check_output_path(output)
    except OSError as error:
        raise Failure(1, f"cannot write {output_name}: {_reason(error)}") from None

    format, compression, level = _check_arguments(parser, args, output, "json")
    stop = args.scale if args.stop is None else args.stop
    _warn_before_long_write(specs_name, specs_json, stop - args.start)
    seed = _seed(args.seed)
    progress = _progress(args.progress, to_stdout=output is None)

    results: list[tessary.WriteResult] = []

    def write(target: str | IO[bytes]) -> None:
        results.append(tessary.write(
            target, seed, args.scale, specs_json, format=format, compression=compression,
            level=level, start=args.start, stop=args.stop, digest=args.digest or False,
            progress=progress,
        ))

    with _write_errors(specs_name, output_name):
        if output is not None:
            write(output)
        else:  # a JSON array ends its line there, as print() would; a file holds just the array
            _to_standard_output(write, newline=format == "json" and compression is None)
    if args.digest is not None:  # as the algorithm's own tool prints it, on standard error
        _say(f"{args.digest} {results[0].digest}  {output_name}")
    return 0


def _seed(seed: int | None) -> int:
    if seed is None:
        seed = tessary.make_seed()
        _say(f"seed {seed}")
    return seed


@contextlib.contextmanager
def _dask_scheduler(address: str | None) -> Iterator[None]:
    """Connects a distributed client to the scheduler at address, if any, for the block's length;
    without one, Dask's local scheduler runs the work."""
    if address is None:
        yield
        return
    with _dask_extra("distributed").Client(address):
        yield


def _dask_extra(module: str) -> Any:
    """The module, imported at first use: partitioned data sets need the optional dask extra."""
    try:
        return importlib.import_module(module)
    except ImportError as error:
        raise Failure(2, f"partitioned data sets need tessary[dask] ({error})") from None


def _write_partitioned(
    parser: argparse.ArgumentParser, args: argparse.Namespace, specs_json: str
) -> int:
    if args.output is None:
        parser.error("--partitions needs -o URL/")
    if args.level is not None or args.start != 0 or args.stop is not None:
        parser.error("--level, --start and --stop do not apply to a partitioned data set")
    url, specs_name = args.output, _specs_name(args.specs)
    format, compression, _ = _check_arguments(parser, args, None, "jsonl")
    tessary_dask = _dask_extra("tessary.dask")
    if args.partitions is not None:
        try:
            tessary_dask.plan_ranges(0, args.scale, "[]", partitions=args.partitions)
        except ValueError as error:
            parser.error(str(error))
    seed = _seed(args.seed)
    with _write_errors(specs_name, url):  # the specs and the first entity, before any Dask work
        tessary.Table(seed, args.scale, specs_json).check_first_entity()
    _warn_before_long_write(specs_name, specs_json, args.scale)
    progress = _progress(args.progress, to_stdout=False)
    with _write_errors(specs_name, url), _dask_scheduler(args.scheduler):
        try:
            tessary_dask.write(
                url, seed, args.scale, specs_json, format=format,
                compression=compression, partitions=args.partitions, progress=progress,
                digest=args.digest or "sha256",
            )
        except ImportError as error:  # no filesystem for the URL's protocol
            raise Failure(2, f"cannot write {url}: {error}") from None
        except ValueError as error:  # arguments and specs were checked: the folder is in use
            raise Failure(1, f"cannot write {url}: {error}") from None
    return 0


# Commands.


def _write_command(argv: list[str]) -> int:
    parser = _write_parser()
    args = parser.parse_args(argv)
    if args.output == "":
        parser.error("an empty output name names no file: give a path, '-' or a URL ending in '/'")
    specs_json = _read_specs(args.specs)
    if specs_json.lstrip().startswith("{"):  # a list of specs is an array, a data set an object
        raise Failure(2, f"{_specs_name(args.specs)}: a data set document: write its tables with "
                      "'tessary dataset DOCUMENT -o FOLDER'")
    partitioned = args.partitions is not None or (args.output or "").endswith("/")
    if partitioned:
        return _write_partitioned(parser, args, specs_json)
    if args.scheduler is not None:
        parser.error("--scheduler applies to a partitioned data set (-o URL/ or --partitions)")
    return _write_stream(parser, args, specs_json)


def _dataset_command(argv: list[str]) -> int:
    parser = _dataset_parser()
    args = parser.parse_args(argv)
    if args.output == "":
        parser.error("an empty output name names no folder")
    format, compression, _ = _output_options(parser, args, None, "parquet")
    document_name, folder = _specs_name(args.document), args.output
    document_json = _read_specs(args.document)
    seed = _seed(args.seed)
    with _write_errors(document_name, folder):
        dataset = tessary.Dataset(seed, document_json)
    counts = {name: dataset[name].count for name in dataset}
    _warn_before_long_write(document_name, document_json, sum(counts.values()))
    progress = _progress(args.progress, to_stdout=False)
    with _write_errors(document_name, folder):
        try:
            dataset.write(
                folder, format=format, compression=compression, progress=progress,
                overwrite=args.overwrite,
            )
        except FileExistsError:
            raise Failure(1, f"cannot write {folder}: the folder exists (--overwrite replaces "
                          "it)") from None
    suffix = _engine.output_suffix(format, compression)
    for name, count in counts.items():
        _say(f"{name}: {count} entities, {os.path.join(folder, name + suffix)}")
    return 0


def _check_command(argv: list[str]) -> int:
    args = _check_parser().parse_args(argv)
    specs_json = _read_specs(args.specs)
    problems = tessary.check_specs(specs_json)
    for problem in problems:
        print(_problem_line(_specs_name(args.specs), problem))
    severities = {problem.severity for problem in problems}
    return next((status for severity, status in CHECK_STATUS.items() if severity in severities), 0)


def _verify_command(argv: list[str]) -> int:
    args = _verify_parser().parse_args(argv)
    tessary_dask = _dask_extra("tessary.dask")
    try:
        with _dask_scheduler(args.scheduler):
            problems = tessary_dask.verify(args.url, regenerate=args.regenerate)
    except (OSError, ValueError, ImportError) as error:
        raise Failure(2, f"cannot verify {args.url}: {_reason(error)}") from None
    for problem in problems:
        print(problem)
    return 1 if problems else 0


COMMANDS = {"dataset": _dataset_command, "check": _check_command, "verify": _verify_command}


def main(argv: list[str] | None = None) -> int:
    argv = sys.argv[1:] if argv is None else argv
    command = COMMANDS.get(argv[0]) if argv else None
    try:
        if command is not None:
            return command(argv[1:])
        return _write_command(argv)
    except Failure as failure:
        _say(failure.message)
        return failure.status
    except KeyboardInterrupt:  # a path being written was removed by the writer
        return 130


if __name__ == "__main__":
    sys.exit(main())
