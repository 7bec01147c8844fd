#!/usr/bin/env python3
"""Mutation bench: how many single faults in the portable rule files the native tests catch.

Mutants come from universalmutator's regex rules for C++ (universal, c_like, cpp). Each one is
written into a copy of the tree under the build folder (the work tree is never touched), only
native_tests is rebuilt, and the tests run under a time bound: a failing or timed-out run kills
the mutant, one that does not compile is stillborn and not counted. Survivors listed in
bench/mutation_equivalent.txt (an id and a one-line reason) count as equivalent.

A mutant's id is a hash of its file, the line it changes and the changed line, so it stays the
same when other lines move. --sample N keeps the N mutants of each file with the lowest ids:
the same subset on every run, as long as the lines themselves do not change.
"""
import argparse
import hashlib
import json
import os
import shutil
import subprocess
import sys
import time
import types

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# The rules that guard the elevated path need 90 % killed; the rest 75 %.
ELEVATED = [
    "src/pack/payload.cpp",
    "src/pack/name_case.cpp",
    "src/rules/names.cpp",
    "src/rules/folders.cpp",
    "src/sys/trust_rules.cpp",
    "src/rules/package_record.cpp",
    "src/sys/http_rules.cpp",
    "src/rules/pe_certificate.cpp",
    "src/rules/control_signature.cpp",
]
REST = [
    "src/app/ini_text.cpp",
    "src/app/startup_rules.cpp",
    "src/sys/tree_rules.cpp",
    "src/sys/runner_rules.cpp",
    "src/sys/instance_match.cpp",
    "src/rules/pe_headers.cpp",
    "src/picture/animation_rules.cpp",
    "src/picture/frame_budget.cpp",
    "src/ui/dialog_states.cpp",
    "src/ui/download_line.cpp",
    "src/ui/title_format.cpp",
    "src/settings/values.cpp",
    "src/rules/failure.cpp",
]
THRESHOLD = {"elevated": 0.90, "rest": 0.75}
RULES = ["universal.rules", "c_like.rules", "cpp.rules"]
# Lines no mutant should touch: comments, preprocessor lines, namespace braces.
IGNORE = [r"^\s*//", r"^\s*#", r"^\s*namespace\b", r"^\s*}\s*//\s*namespace", r"^\s*[{}]\s*$"]
EQUIVALENT_LIST = os.path.join(ROOT, "bench", "mutation_equivalent.txt")


def load_mutator(tool_path):
    """universalmutator's mutator module, from a checkout or an installed package."""
    if tool_path:
        sys.path.insert(0, os.path.abspath(tool_path))
    try:
        import comby  # noqa: F401
    except ImportError:
        # mutator.py imports comby's binding at the top but the regex mode never calls it;
        # an empty module lets the import pass where the binding is not installed.
        sys.modules["comby"] = types.SimpleNamespace(Comby=None)
    try:
        from universalmutator import mutator
    except ImportError:
        if tool_path:
            raise
        subprocess.call([sys.executable, "-m", "pip", "install", "--quiet", "universalmutator"])
        try:
            from universalmutator import mutator
        except ImportError:
            sys.exit("universalmutator is not installed and pip could not install it: "
                     "give a checkout of its repository with --tool PATH")
    return mutator


def mutant_id(path, original, mutated, occurrence):
    key = "\0".join([path, original.strip(), mutated.strip(), str(occurrence)])
    return hashlib.sha1(key.encode()).hexdigest()[:10]


def make_mutants(mutator, path, lines, sample):
    import contextlib
    import io
    with contextlib.redirect_stdout(io.StringIO()):  # the tool prints its rule list per call
        found = mutator.mutants_regexp(lines, ruleFiles=RULES, ignorePatterns=IGNORE)
    seen = {}
    mutants = []
    for (lineno, text, rule, _) in found:
        key = (lines[lineno - 1].strip(), text.strip())
        seen[key] = seen.get(key, 0) + 1
        mid = mutant_id(path, key[0], key[1], seen[key])
        mutants.append({"id": mid, "line": lineno, "text": text, "rule": rule[0].strip()})
    mutants.sort(key=lambda m: m["id"])
    total = len(mutants)
    if sample:
        mutants = mutants[:sample]
    return total, sorted(mutants, key=lambda m: m["line"])


def read_equivalents():
    known = {}
    if os.path.exists(EQUIVALENT_LIST):
        with open(EQUIVALENT_LIST) as f:
            for line in f:
                line = line.strip()
                if line and not line.startswith("#"):
                    parts = line.split(None, 2)
                    known[parts[0]] = parts[2] if len(parts) > 2 else ""
    return known


def prepare_tree(work, files):
    """A copy of the sources and a native build of native_tests inside `work`."""
    tree = os.path.join(work, "tree")
    build = os.path.join(work, "build")
    # A fresh copy each run; copy2 keeps the times, so unchanged files are not rebuilt.
    shutil.rmtree(tree, ignore_errors=True)
    for item in ["CMakeLists.txt", "cmake", "src", "tests", "bench", "resources"]:
        src = os.path.join(ROOT, item)
        if os.path.isdir(src):
            shutil.copytree(src, os.path.join(tree, item),
                            ignore=shutil.ignore_patterns("build", "__pycache__"))
        elif os.path.exists(src):
            os.makedirs(tree, exist_ok=True)
            shutil.copy2(src, os.path.join(tree, item))
    if not os.path.exists(os.path.join(build, "CMakeCache.txt")):
        subprocess.check_call(["cmake", "-S", tree, "-B", build, "-DCMAKE_BUILD_TYPE=Debug",
                               "-DCMAKE_C_COMPILER=clang", "-DCMAKE_CXX_COMPILER=clang++"],
                              stdout=subprocess.DEVNULL)
    # An object left from a mutant of a run that was stopped would look newer than its source.
    for path in files:
        touch_object(build, path)
    build_tests(build, timeout=3600, check=True)
    return tree, build


def build_tests(build, timeout, check=False):
    try:
        result = subprocess.run(["cmake", "--build", build, "--target", "native_tests", "-j2"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                timeout=timeout)
    except subprocess.TimeoutExpired:
        return False
    if check and result.returncode != 0:
        sys.exit("native_tests does not build from the unmutated tree")
    return result.returncode == 0


def run_tests(build, timeout):
    """'pass', 'fail' or 'timeout' for one run of native_tests."""
    exe = os.path.join(build, "tests", "native", "native_tests")
    env = dict(os.environ, ASAN_OPTIONS="detect_leaks=1:abort_on_error=0",
               UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=0")
    try:
        result = subprocess.run([exe, "--gtest_brief=1", "--gtest_filter=-*RealFiles.*"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                env=env, timeout=timeout)
    except subprocess.TimeoutExpired:
        return "timeout"
    return "pass" if result.returncode == 0 else "fail"


def touch_object(build, path):
    """Drops the object of `path` so the next build compiles it whatever the clock says."""
    rel = path[len("src/"):] + ".o"
    for dirpath, _, files in os.walk(os.path.join(build, "src")):
        for name in files:
            if os.path.join(dirpath, name).endswith(rel):
                os.remove(os.path.join(dirpath, name))


def score(row):
    counted = row["killed"] + row["survived"]
    return row["killed"] / counted if counted else 1.0


def print_table(results, out=sys.stdout):
    head = "%-32s %-8s %6s %6s %6s %6s %6s %6s %7s" % (
        "file", "group", "total", "run", "dead", "killed", "surv", "equiv", "score")
    print(head, file=out)
    print("-" * len(head), file=out)
    groups = {}
    for row in results:
        print("%-32s %-8s %6d %6d %6d %6d %6d %6d %6.1f%%" % (
            row["file"], row["group"], row["total"], row["run"], row["stillborn"],
            row["killed"], row["survived"], row["equivalent"], 100 * score(row)), file=out)
        g = groups.setdefault(row["group"], {"killed": 0, "survived": 0})
        g["killed"] += row["killed"]
        g["survived"] += row["survived"]
    print("-" * len(head), file=out)
    ok = True
    for name, g in groups.items():
        s = score(g)
        met = s >= THRESHOLD[name]
        ok = ok and met
        print("%-8s killed %d of %d non-equivalent: %.1f%% (needs %d%%) %s" % (
            name, g["killed"], g["killed"] + g["survived"], 100 * s,
            100 * THRESHOLD[name], "met" if met else "NOT MET"), file=out)
    return ok


def main():
    parser = argparse.ArgumentParser(
        description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter,
        epilog="Needs universalmutator: installed with pip when it can be, otherwise "
               "--tool PATH to a checkout of its repository (or MORVANE_UNIVERSALMUTATOR).")
    parser.add_argument("--tool", default=os.environ.get("MORVANE_UNIVERSALMUTATOR"),
                        help="path to a universalmutator checkout (used instead of pip)")
    parser.add_argument("--work", default=os.path.join(ROOT, "build", "mutation"),
                        help="scratch folder for the tree copy and its build")
    parser.add_argument("--sample", type=int, default=0,
                        help="mutants per file, the same ones every run (0: all)")
    parser.add_argument("--timeout", type=float, default=60,
                        help="seconds one run of native_tests may take before it counts as killed")
    parser.add_argument("--list", action="store_true", help="only count the mutants per file")
    parser.add_argument("--report", action="store_true",
                        help="print the table of the last run's results and stop")
    parser.add_argument("files", nargs="*", help="files to mutate (default: every rule file)")
    args = parser.parse_args()

    results_path = os.path.join(args.work, "results.json")
    if args.report:
        # Survivors since listed as equivalent count as equivalent.
        equivalents = read_equivalents()
        with open(results_path) as f:
            results = json.load(f)
        for row in results:
            known = [m for m in row["survivors"] if m in equivalents]
            row["survived"] -= len(known)
            row["equivalent"] += len(known)
            row["survivors"] = [m for m in row["survivors"] if m not in equivalents]
        return 0 if print_table(results) else 1

    mutator = load_mutator(args.tool)
    files = args.files or [f for f in ELEVATED + REST if os.path.exists(os.path.join(ROOT, f))]
    equivalents = read_equivalents()

    if args.list:
        for path in files:
            with open(os.path.join(ROOT, path)) as f:
                total, _ = make_mutants(mutator, path, f.readlines(), 0)
            print("%-32s %d" % (path, total))
        return 0

    os.makedirs(args.work, exist_ok=True)
    tree, build = prepare_tree(args.work, files)
    if run_tests(build, args.timeout) != "pass":
        sys.exit("native_tests fail on the unmutated tree")

    # A run over some files replaces their rows and keeps the others' from earlier runs.
    results = []
    if os.path.exists(results_path):
        with open(results_path) as f:
            results = [row for row in json.load(f) if row["file"] not in files]
    survivors = open(os.path.join(args.work, "survivors.txt"), "w")
    for path in files:
        group = "elevated" if path in ELEVATED else "rest"
        target = os.path.join(tree, path)
        with open(target) as f:
            lines = f.readlines()
        total, mutants = make_mutants(mutator, path, lines, args.sample)
        row = {"file": path, "group": group, "total": total, "run": len(mutants),
               "stillborn": 0, "killed": 0, "survived": 0, "equivalent": 0, "survivors": []}
        started = time.time()
        try:
            for m in mutants:
                with open(target, "w") as f:
                    f.writelines(lines[:m["line"] - 1] + [m["text"]] + lines[m["line"]:])
                touch_object(build, path)
                if not build_tests(build, timeout=300):
                    row["stillborn"] += 1
                    continue
                outcome = run_tests(build, args.timeout)
                if outcome != "pass":
                    row["killed"] += 1
                elif m["id"] in equivalents:
                    row["equivalent"] += 1
                else:
                    row["survived"] += 1
                    row["survivors"].append(m["id"])
                    survivors.write("%s %s:%d  [%s]\n  - %s  + %s\n" % (
                        m["id"], path, m["line"], m["rule"], lines[m["line"] - 1].strip(),
                        m["text"].strip()))
                    survivors.flush()
        finally:
            with open(target, "w") as f:
                f.writelines(lines)
            touch_object(build, path)
        print("%-32s %d mutants in %.0f s: %d killed, %d survived, %d equivalent, %d stillborn"
              % (path, len(mutants), time.time() - started, row["killed"], row["survived"],
                 row["equivalent"], row["stillborn"]), flush=True)
        results.append(row)
        order = ELEVATED + REST
        results.sort(key=lambda r: order.index(r["file"]) if r["file"] in order else len(order))
        with open(results_path, "w") as f:
            json.dump(results, f, indent=1)
    build_tests(build, timeout=600)
    print()
    ok = print_table(results)
    print("\nsurvivors with their diffs: %s" % os.path.join(args.work, "survivors.txt"))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
