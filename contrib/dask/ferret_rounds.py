#!/usr/bin/python3
"""Crawls a list of start URLs over N shards of ferret, in rounds.

Each round runs one ferret process per shard that has URLs to crawl
(ferret -i - -shard K/N -json, plus the options after "--"), each fed its
URLs on standard input as "URL DEPTH" lines. A shard's run requests only the
hosts of its own shard and writes every link to another shard as an
"outlink" event (with the shard it belongs to and the depth it has left);
the driver drops the URLs already seen (started, asked for or handed on),
and hands the others to their shards in the next round, until a round
finds nothing new or --rounds is reached. The first round gives every
shard the whole start list: ferret itself keeps the starts of its shard and
writes the others as outlinks, which are dropped, so the driver never needs
to know how hosts map to shards.

The shards' events go out as one JSON Lines stream (every event but the
shards' own "stats", in round and shard order), ended by one "stats" event
that adds up the shards' counters. Every event keeps the schema of
doc/ferret-events.schema.json.

The processes run on Dask distributed: a LocalCluster of --workers
processes on this machine, or the cluster of a running scheduler
(--scheduler tcp://host:8786), whose workers must have ferret at --ferret.
With --parallel, GNU parallel runs them on this machine, without Dask.

A URL met again after its first round is dropped whatever depth it comes
with: a page first reached along a longer path is not expanded again from a
shorter one, as a single -once run would (give a depth that covers the site,
or cross fewer shards, when that matters).

Every shard runs with -once. What a shard asked for in earlier rounds is
kept by -state (a crawl state on disk, one file per shard under --workdir)
when the ferret binary lists -state in its usage text (--state on/off to
say so); without it, each round's list begins with "URL -" lines, the pages
the shard asked for before, which -once then does not ask for again (a cost
that grows with the crawl: -state is the way for large ones).
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile
import time

COUNTERS = ("saves", "prints", "hits", "http200", "errors", "refused")


def shard_command(ferret, shard, shards, options, state_file):
    command = [ferret, "-i", "-", "-shard", "%d/%d" % (shard, shards), "-json", "-once"]
    if state_file:
        command += ["-state", state_file]
    return command + list(options)


def run_shard(ferret, shard, shards, lines, options, state_file):
    """One shard's round: its standard output (JSON Lines) and exit status."""
    done = subprocess.run(shard_command(ferret, shard, shards, options, state_file),
                          input="".join(lines).encode(), stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL)
    return done.stdout.decode("utf-8", "surrogateescape"), done.returncode


def supports_state(ferret):
    usage = subprocess.run([ferret], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    return b"-state" in usage.stdout


class DaskRunner:
    def __init__(self, scheduler, workers):
        from distributed import Client, LocalCluster
        if scheduler:
            self.cluster = None
            self.client = Client(scheduler)
        else:
            self.cluster = LocalCluster(n_workers=workers, threads_per_worker=1,
                                        processes=True, dashboard_address=None)
            self.client = Client(self.cluster)

    def run(self, jobs):
        # pure=False: a round may ask a shard for the same lines twice.
        futures = [self.client.submit(run_shard, *job, pure=False) for job in jobs]
        return self.client.gather(futures)

    def close(self):
        self.client.close()
        if self.cluster is not None:
            self.cluster.close()


class ParallelRunner:
    """GNU parallel, one job a shard, on this machine."""

    def __init__(self, workdir):
        self.workdir = workdir
        self.round = 0

    def run(self, jobs):
        self.round += 1
        base = os.path.join(self.workdir, "round-%d" % self.round)
        os.makedirs(base, exist_ok=True)
        commands = []
        for ferret, shard, shards, lines, options, state_file in jobs:
            stem = os.path.join(base, "shard-%d" % shard)
            with open(stem + ".list", "w") as out:
                out.write("".join(lines))
            with open(stem + ".args", "w") as out:
                out.write("\0".join(shard_command(ferret, shard, shards, options, state_file)))
            commands.append(stem)
        subprocess.run(["parallel", "--will-cite", "-j", str(len(jobs)),
                        "xargs -0 -a {}.args sh -c '\"$0\" \"$@\" < {}.list > {}.jsonl "
                        "2>/dev/null; echo $? > {}.rc'", ":::"] + commands, check=True)
        results = []
        for stem in commands:
            with open(stem + ".jsonl", encoding="utf-8", errors="surrogateescape") as out:
                text = out.read()
            with open(stem + ".rc") as rc:
                results.append((text, int(rc.read())))
        return results

    def close(self):
        pass


def read_starts(path):
    stream = sys.stdin if path == "-" else open(path)
    starts = []
    for line in stream:
        words = line.split()
        if words and not words[0].startswith("#"):
            starts.append(line.strip() + "\n")
    return starts


def crawl(args, runner, out):
    began = time.monotonic()
    state = {"on": True, "off": False}.get(args.state)
    if state is None:
        state = supports_state(args.ferret)
    totals = dict.fromkeys(COUNTERS, 0)
    status = 0
    seen = set()
    starts = read_starts(args.starts)
    for line in starts:
        seen.add(line.split()[0])
    todo = {shard: list(starts) for shard in range(args.shards)}
    met = {shard: set() for shard in range(args.shards)}  # pages each shard asked for
    rounds = []
    for number in range(1, args.rounds + 1):
        if not todo:
            break
        shards = sorted(todo)
        if not state:
            for shard in shards:
                todo[shard] = ["%s -\n" % url for url in sorted(met[shard])] + todo[shard]
        jobs = [(args.ferret, shard, args.shards, todo[shard], args.options,
                 os.path.join(args.workdir, "shard-%d.state" % shard) if state else None)
                for shard in shards]
        results = runner.run(jobs)
        handed = {}  # url: (shard, the most depth it was handed on with this round)
        for shard, (text, code) in zip(shards, results):
            status = max(status, code)
            with open(os.path.join(args.workdir, "round-%d-shard-%d.jsonl" % (number, shard)),
                      "w", encoding="utf-8", errors="surrogateescape") as kept:
                kept.write(text)
            for line in text.splitlines():
                event = json.loads(line)
                kind = event["type"]
                if kind == "stats":
                    for name in COUNTERS:
                        totals[name] += event[name]
                    continue
                out.write(line + "\n")
                if kind == "page":
                    seen.update((event["url"], event["final_url"]))
                    met[shard].update((event["url"], event["final_url"]))
                elif kind == "start":
                    seen.add(event["url"])
                elif kind == "outlink" and event["referrer"] is not None and event["depth"] >= 0:
                    prior = handed.get(event["url"])
                    if prior is None or prior[1] < event["depth"]:
                        handed[event["url"]] = (event["shard"], event["depth"])
        todo = {}
        for url, (shard, depth) in sorted(handed.items()):
            if url in seen:
                continue
            seen.add(url)
            todo.setdefault(shard, []).append("%s %d\n" % (url, depth))
        rounds.append({"round": number, "shards": len(shards),
                       "handed_on": sum(len(v) for v in todo.values())})
    stats = {"type": "stats"}
    stats.update(totals)
    stats["percent200"] = totals["http200"] * 100 // totals["hits"] if totals["hits"] else 0
    # The counters line's order, as ferret writes it.
    ordered = {k: stats[k] for k in ("type", "saves", "prints", "hits", "http200", "percent200",
                                     "errors", "refused")}
    ordered["exit_status"] = status
    ordered["wall_ms"] = int((time.monotonic() - began) * 1000)
    out.write(json.dumps(ordered, separators=(",", ":")) + "\n")
    out.flush()
    for r in rounds:
        print("round %(round)d: %(shards)d shards, %(handed_on)d URLs handed on" % r,
              file=sys.stderr)
    return status


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("starts", help="file of start URLs, one a line (or URL DEPTH); - for stdin")
    parser.add_argument("options", nargs="*", help="ferret options, after --")
    parser.add_argument("--ferret", default="ferret", help="the ferret binary")
    parser.add_argument("--shards", type=int, default=4)
    parser.add_argument("--rounds", type=int, default=100, help="most rounds (default 100)")
    parser.add_argument("--workers", type=int, default=None,
                        help="LocalCluster worker processes (default: --shards)")
    parser.add_argument("--scheduler", help="address of a running dask scheduler")
    parser.add_argument("--parallel", action="store_true", help="GNU parallel instead of Dask")
    parser.add_argument("--state", choices=("auto", "on", "off"), default="auto")
    parser.add_argument("--workdir", help="where each round's shard output is kept "
                        "(default: a temporary directory, removed)")
    parser.add_argument("--output", help="the merged JSON Lines (default: standard output)")
    args = parser.parse_args()
    # A relative path is this machine's; a bare name is looked up on each worker's PATH.
    if os.sep in args.ferret:
        args.ferret = os.path.abspath(args.ferret)
    temporary = None
    if args.workdir is None:
        temporary = tempfile.TemporaryDirectory(prefix="ferret-rounds-")
        args.workdir = temporary.name
    os.makedirs(args.workdir, exist_ok=True)
    if args.parallel:
        runner = ParallelRunner(args.workdir)
    else:
        runner = DaskRunner(args.scheduler, args.workers or args.shards)
    out = open(args.output, "w") if args.output else sys.stdout
    try:
        return crawl(args, runner, out)
    finally:
        runner.close()
        if temporary is not None:
            temporary.cleanup()


if __name__ == "__main__":
    sys.exit(main())
