#!/usr/bin/env python3
"""Test programs leave nothing in the user's home or the temporary folder:
listing their tests (as the build does) writes nothing, and a run removes what
it made when it ends, also when its test fails or its children are killed.
Each program runs with a HOME and a TMPDIR of its own that must stay empty."""
import os, subprocess, sys, tempfile

build = sys.argv[1]
tests = os.path.join(build, "tests")
DRAG = ["test_favorites_FavoriteDragTest"]
WINDOW = ["test_favorites_FavoritesWindowFilesTest"]
STORE = ["test_favorites_StoreFileTest"]
NO_BUS = {"DBUS_SESSION_BUS_ADDRESS": "unix:path=/nonexistent/trellan-no-bus"}
# (what, program and arguments, whether it passes, environment changes)
# The build lists the tests outside any session: no runtime folder is set.
NO_SESSION = {"XDG_RUNTIME_DIR": None}
CASES = [
    ("listing the tests", DRAG + ["--gtest_list_tests"], True, NO_SESSION),
    ("listing the tests", WINDOW + ["--gtest_list_tests"], True, NO_SESSION),
    ("drag files written", DRAG + ["--gtest_filter=FavoriteDrag.FilesAreWrittenOnlyWhenAskedForOwnerOnlyAndOnce"],
     True, {}),
    ("children killed", STORE + ["--gtest_filter=StoreFile.ASaveCutShortAtAnyMomentLeavesEitherTheOldOrTheNewState"],
     True, {}),
    # As root its child runs as nobody.
    ("a child of another user", STORE + ["--gtest_filter=StoreFile.AReadOnlyStoreReportsTheSaveAndKeepsTheEditsInMemory"],
     True, {}),
    # Without a keyring the test stops at a fatal failure.
    ("a fatal failure",
     WINDOW + ["--gtest_filter=FavoritesWindowFiles.ADraggedRowReadsItsPasswordOnlyForItsFileAndChangesNothing"],
     False, NO_BUS),
]
for target in ["update_answer", "favorite_file"]:
    corpus = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fuzz", "corpus", target)
    CASES.append(("fuzz inputs", [os.path.join("fuzz", "fuzz_" + target), corpus], True, {}))

failures = []
for what, command, passes, changes in CASES:
    with tempfile.TemporaryDirectory() as root:
        home, tmp, runtime = (os.path.join(root, name) for name in ("home", "tmp", "runtime"))
        for folder in (home, tmp, runtime):
            os.mkdir(folder, 0o700)
        # Open as /tmp is, to a child that runs as another user.
        os.chmod(root, 0o755)
        os.chmod(tmp, 0o1777)
        env = {k: v for k, v in os.environ.items() if not k.startswith(("XDG_", "TRELLAN_TEST_"))}
        env.update(HOME=home, TMPDIR=tmp, XDG_RUNTIME_DIR=runtime, QT_QPA_PLATFORM="offscreen")
        env.update(changes)
        env = {k: v for k, v in env.items() if v is not None}
        result = subprocess.run([os.path.join(tests, command[0])] + command[1:], env=env, capture_output=True,
                                text=True, timeout=240)
        name = f"{command[0]} ({what})"
        if (result.returncode == 0) != passes:
            failures.append(f"{name}: exit {result.returncode}\n{result.stdout[-3000:]}{result.stderr[-3000:]}")
        left = sorted(os.path.relpath(os.path.join(top, entry), root)
                      for folder in (home, tmp) for top, dirs, files in os.walk(folder) for entry in dirs + files)
        if left:
            failures.append(f"{name} left {len(left)}: " + ", ".join(left[:12]))

for failure in failures:
    print(failure)
sys.exit(1 if failures else 0)
