"""python3 -m fastreads index FILE... | splits FILE N [FILE2] | cat FILE [--start A --stop B]

index   builds FILE.ridx beside each FILE.
splits  prints up to N spans of FILE (and FILE2, a pair) at split points, as JSON: a list of
        {"start": A, "stop": B}.
cat     writes entries [A, B) of FILE (all of them without --start and --stop) as FASTQ/FASTA
        text on standard output, read from the nearest split point of its index.
"""

import argparse
import json
import sys

import fastreads


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python3 -m fastreads", description=__doc__.split("\n")[0])
    commands = parser.add_subparsers(dest="command", required=True)
    index = commands.add_parser("index", help="build FILE.ridx beside each FILE")
    index.add_argument("files", nargs="+", metavar="FILE")
    index.add_argument("--spacing", type=int, default=0, help="text between split points")
    splits = commands.add_parser("splits", help="print up to N spans as JSON")
    splits.add_argument("file", metavar="FILE")
    splits.add_argument("n", type=int, metavar="N")
    splits.add_argument("file2", nargs="?", metavar="FILE2")
    cat = commands.add_parser("cat", help="write entries [A, B) as text")
    cat.add_argument("file", metavar="FILE")
    cat.add_argument("--start", type=int)
    cat.add_argument("--stop", type=int)
    args = parser.parse_args(argv)
    try:
        if args.command == "index":
            for path in args.files:
                fastreads.index(path, spacing=args.spacing)
        elif args.command == "splits":
            parts = fastreads.splits(args.file, args.n, args.file2)
            json.dump([{"start": s.start, "stop": s.stop} for s in parts], sys.stdout)
            sys.stdout.write("\n")
        else:
            sys.stdout.flush()
            with fastreads.open(args.file, start=args.start, stop=args.stop) as reader, \
                    fastreads.open("-", mode="w", format="plain") as writer:
                for batch in reader.batches():
                    writer.write_batch(batch)
    except (OSError, ValueError) as error:
        print(f"fastreads {args.command}: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
