#!/usr/bin/env python3
"""Runs the unit-test suite of a build folder under valgrind memcheck.

Every test that CTest knows (the end-to-end label excepted) runs under valgrind with the
project's suppression file; a test passes when it passes as usual, valgrind reports no error
and no definite leak. The GoogleTest cases of one binary run as one process, since starting
valgrind per case costs more than the cases themselves. Logs go to BUILD/memcheck/.

Usage: tools/memcheck.py BUILD [-R REGEX] [-j JOBS]
"""
import argparse
import concurrent.futures
import json
import os
import re
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SUPPRESSIONS = os.path.join(HERE, "valgrind.supp")
EXIT_ON_ERROR = 97


def list_tests(build, regex):
    cmd = ["ctest", "--show-only=json-v1", "-LE", "e2e"]
    if regex:
        cmd += ["-R", regex]
    data = json.loads(subprocess.run(cmd, cwd=build, check=True, capture_output=True,
                                     text=True).stdout)
    runs = {}
    for test in data.get("tests", []):
        command = test.get("command")
        if not command:
            continue
        props = {p["name"]: p["value"] for p in test.get("properties", [])}
        env = dict(e.split("=", 1) for e in props.get("ENVIRONMENT", []))
        workdir = props.get("WORKING_DIRECTORY", build)
        if any(arg.startswith("--gtest_filter") for arg in command):
            # One process for all cases of a GoogleTest binary.
            key = command[0]
            command = [command[0]]
            name = os.path.basename(command[0])
        else:
            key = test["name"]
            name = test["name"]
        runs.setdefault(key, (name, command, env, workdir))
    return list(runs.values())


def run_one(build, run, timeout):
    name, command, env, workdir = run
    folder = os.path.join(build, "memcheck")
    log = os.path.join(folder, name + ".log")
    full_env = dict(os.environ)
    full_env.update(env)
    valgrind = ["valgrind", "--tool=memcheck", "--error-exitcode=%d" % EXIT_ON_ERROR,
                "--leak-check=full", "--show-leak-kinds=definite",
                "--errors-for-leak-kinds=definite", "--track-origins=yes",
                "--num-callers=30", "--suppressions=" + SUPPRESSIONS,
                "--gen-suppressions=all", "--log-file=" + log]
    start = time.time()
    try:
        proc = subprocess.run(valgrind + command, cwd=workdir, env=full_env, timeout=timeout,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        code, output = proc.returncode, proc.stdout.decode(errors="replace")
    except subprocess.TimeoutExpired as e:
        code, output = None, (e.stdout or b"").decode(errors="replace")
    with open(os.path.join(folder, name + ".out"), "w") as f:
        f.write(output)
    errors = definite = -1
    if os.path.exists(log):
        with open(log, errors="replace") as f:
            text = f.read()
        # Death tests fork: every process of the run has its own summary, and all count.
        summaries = re.findall(r"ERROR SUMMARY: ([\d,]+) errors", text)
        errors = sum(int(n.replace(",", "")) for n in summaries) if summaries else -1
        definite = sum(int(n.replace(",", ""))
                       for n in re.findall(r"definitely lost: ([\d,]+) bytes", text))
    return name, code, errors, definite, time.time() - start


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("-R", dest="regex", help="only tests whose name matches")
    parser.add_argument("-j", dest="jobs", type=int, default=2)
    parser.add_argument("--timeout", type=int, default=1800, help="seconds per test binary")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    os.makedirs(os.path.join(build, "memcheck"), exist_ok=True)

    runs = list_tests(build, args.regex)
    if not runs:
        print("no test found in %s" % build)
        return 1
    # Tests that hold the presence port must not overlap; they run one after another at the end.
    port_tests = [r for r in runs if r[0] in port8999_tests(build)]
    others = [r for r in runs if r not in port_tests]
    results = []
    with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, args.jobs)) as pool:
        for result in pool.map(lambda r: run_one(build, r, args.timeout), others):
            report(result)
            results.append(result)
    for run in port_tests:
        result = run_one(build, run, args.timeout)
        report(result)
        results.append(result)

    bad = [r for r in results if r[1] != 0 or r[2] != 0]
    print("%d passed, %d failed" % (len(results) - len(bad), len(bad)))
    for name, code, errors, definite, _ in bad:
        print("  %s: exit %s, %s errors, %s bytes definitely lost; see memcheck/%s.log"
              % (name, code, errors, definite, name))
    return 1 if bad else 0


def port8999_tests(build):
    data = json.loads(subprocess.run(["ctest", "--show-only=json-v1"], cwd=build, check=True,
                                     capture_output=True, text=True).stdout)
    names = set()
    for test in data.get("tests", []):
        for prop in test.get("properties", []):
            if prop["name"] == "RESOURCE_LOCK" and "port8999" in prop["value"]:
                names.add(test["name"])
    return names


def report(result):
    name, code, errors, definite, seconds = result
    verdict = "ok" if code == 0 and errors == 0 else "FAILED"
    print("%-32s %-6s exit %-5s errors %-4s definitely lost %-8s %6.0f s"
          % (name, verdict, code, errors, definite, seconds), flush=True)


if __name__ == "__main__":
    sys.exit(main())
