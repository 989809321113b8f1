"""Command line: write the entities described by a spec file as one JSON text.

    python -m tessary SPECS.json --scale N [--seed S] [--output FILE]

Without --seed a fresh seed is drawn and printed on standard error, so the run can be repeated.
"""

from __future__ import annotations

import argparse
import os
import sys

from tessary import generate_entities, make_seed

U64_MAX = 2**64 - 1


def _u64(text: str) -> int:
    try:
        value = int(text, 0)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not an integer: {text!r}") from None
    if not 0 <= value <= U64_MAX:
        raise argparse.ArgumentTypeError(f"must be between 0 and {U64_MAX}: {text}")
    return value


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="tessary",
        description="Generate synthetic entities from a JSON array of attribute specs.",
    )
    parser.add_argument("specs", help="path of the JSON spec file ('-' for standard input)")
    parser.add_argument("--scale", type=_u64, required=True, help="number of entities")
    parser.add_argument("--seed", type=_u64, help="64-bit seed (default: drawn from the OS)")
    parser.add_argument(
        "--output", "-o", help="write the JSON text here (default: standard output)"
    )
    return parser


def _read_specs(path: str) -> str:
    if path == "-":
        return sys.stdin.read()
    with open(path, encoding="utf-8") as file:
        return file.read()


def main(argv: list[str] | None = None) -> int:
    args = _parser().parse_args(argv)
    try:
        specs_json = _read_specs(args.specs)
    except (OSError, UnicodeDecodeError) as error:
        print(f"tessary: cannot read {args.specs}: {error}", file=sys.stderr)
        return 2

    seed = args.seed
    if seed is None:
        seed = make_seed()
        print(f"tessary: seed {seed}", file=sys.stderr)

    try:
        text = generate_entities(seed, args.scale, specs_json)
    except ValueError as error:
        print(f"tessary: {args.specs}: {error}", file=sys.stderr)
        return 2
    except MemoryError as error:
        print(f"tessary: {error}", file=sys.stderr)
        return 1

    if args.output is None:
        try:
            sys.stdout.write(text)
            sys.stdout.write("\n")
            sys.stdout.flush()
        except BrokenPipeError:  # the reader stopped early, as `| head` does: not an error
            # Point stdout at /dev/null so that the flush at exit does not fail again.
            os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
            return 0
    else:
        with open(args.output, "w", encoding="utf-8") as file:
            file.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
