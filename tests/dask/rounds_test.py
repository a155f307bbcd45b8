#!/usr/bin/python3
"""The Dask driver (contrib/dask/ferret_rounds.py) on the 8-host site.

  rounds_test.py FERRET SOURCE_DIR

A LocalCluster of 4 worker processes runs 4 shards in rounds from one start
page; then GNU parallel runs them (when installed). Each time: the pages
asked for are those of a single-process -once crawl, no URL is asked for
twice (the servers' logs), each host is asked by exactly one shard (the
shards' own page events, which account for every request), and the merged
stream validates against the events' schema with its one stats event last,
whose counters add up the shards'. Exits 77 (skipped) without Dask.
"""
import collections
import json
import os
import subprocess
import sys
import tempfile
import urllib.parse

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from eight_hosts import EightHostSite, HOSTS  # noqa: E402


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def check_run(name, site, reference, workdir, merged_path, schema):
    log = site.take_log()
    counts = collections.Counter(log)
    twice = [k for k, n in counts.items() if n > 1]
    if twice:
        fail("%s: asked twice: %s" % (name, sorted(twice)[:5]))
    if set(counts) != reference:
        fail("%s: pages differ from the -once crawl: only sharded %s, only single %s" %
             (name, sorted(set(counts) - reference)[:5], sorted(reference - set(counts))[:5]))
    hosts_of = collections.defaultdict(set)
    asked = collections.Counter()
    for entry in sorted(os.listdir(workdir)):
        if not entry.endswith(".jsonl") or "-shard-" not in entry:
            continue
        shard = int(entry.rsplit("-", 1)[1].split(".")[0])
        for line in open(os.path.join(workdir, entry)):
            event = json.loads(line)
            if event["type"] == "page":
                parsed = urllib.parse.urlsplit(event["url"])
                hosts_of[parsed.hostname].add(shard)
                asked[(parsed.hostname, parsed.path)] += 1
    if asked != counts:
        fail("%s: the shards' page events are not the servers' requests" % name)
    shared = {h: s for h, s in hosts_of.items() if len(s) != 1}
    if shared or set(hosts_of) != set(HOSTS):
        fail("%s: hosts not asked by exactly one shard: %s of %s" % (name, shared, dict(hosts_of)))
    if len(set().union(*hosts_of.values())) < 2:
        fail("%s: the hosts all went to one shard" % name)
    events = [json.loads(line) for line in open(merged_path)]
    if [e["type"] for e in events].count("stats") != 1 or events[-1]["type"] != "stats":
        fail("%s: the merged stream has not one stats event, last" % name)
    if events[-1]["http200"] != len(reference) or events[-1]["errors"] != 0:
        fail("%s: merged counters %s for %d pages" % (name, events[-1], len(reference)))
    check = subprocess.run([sys.executable, os.path.join(source, "tests/e2e/json_check.py"),
                            schema, merged_path], stdout=subprocess.PIPE, text=True)
    if check.stdout != "ok\n":
        fail("%s: the merged stream: %s" % (name, check.stdout))
    print("%s: %d pages, once each, hosts by shard %s" %
          (name, len(reference), {h: min(s) for h, s in sorted(hosts_of.items())}))


def main():
    global source
    ferret, source = os.path.abspath(sys.argv[1]), sys.argv[2]
    try:
        import distributed  # noqa: F401
    except ImportError:
        print("skipped: python3-distributed is not installed (scripts/packages test)")
        return 77
    driver = os.path.join(source, "contrib/dask/ferret_rounds.py")
    schema = os.path.join(source, "doc/ferret-events.schema.json")
    site = EightHostSite()
    try:
        start = site.url(0, 0)
        single = subprocess.run([ferret, start, "-d", "100", "-once", "-json"],
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        if single.returncode != 0:
            fail("the single crawl exited %d" % single.returncode)
        reference = set(site.take_log())
        if reference != site.pages():
            fail("the single crawl missed pages: %s" % sorted(site.pages() - reference)[:5])
        runs = [("dask", [])]
        if subprocess.run(["sh", "-c", "command -v parallel"], stdout=subprocess.DEVNULL).returncode == 0:
            runs.append(("parallel", ["--parallel"]))
        else:
            print("GNU parallel is not installed: its run is left out")
        for name, extra in runs:
            with tempfile.TemporaryDirectory(prefix="ferret-rounds-") as workdir:
                starts = os.path.join(workdir, "starts")
                with open(starts, "w") as out:
                    out.write("# the 8-host site\n%s\n" % start)
                merged = os.path.join(workdir, "merged.jsonl")
                done = subprocess.run([sys.executable, driver, "--ferret", ferret, "--shards", "4",
                                       "--workers", "4", "--workdir", workdir, "--output", merged]
                                      + extra + [starts, "--", "-d", "100"],
                                      stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                      timeout=600)
                if done.returncode != 0:
                    fail("%s: the driver exited %d: %s" % (name, done.returncode, done.stderr[-2000:]))
                check_run(name, site, reference, workdir, merged, schema)
    finally:
        site.close()
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
