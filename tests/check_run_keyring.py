#!/usr/bin/env python3
"""The keyring scripts/run gives Trellan on a bare X server, from a fresh HOME
with XDG_DATA_HOME set: gnome-keyring's login keyring, made with the empty
password and unlocked. A secret is stored and read back with secret-tool
without any prompt (there is no display here, so a prompt would fail the
store), the next run reads it again, and a run where an earlier one left
another keyring (with a password of its own) as the default still stores into
the login keyring."""
import os, shutil, subprocess, sys, tempfile

root = sys.argv[1]
failures = []

# One run of the keyring as scripts/run starts it, in a D-Bus session of its own.
SESSION = r'''
set -euo pipefail
. "$1/scripts/lib.sh"
keyring=$(start_session_keyring "$2" "$HOME/keyring.log")
trap 'kill $keyring 2>/dev/null || true' EXIT
if [ -n "$4" ]; then
    printf '%s' "$4" | timeout 20 secret-tool store --label=probe service trellan-probe account "$3"
fi
timeout 20 secret-tool lookup service trellan-probe account "$3"
'''


def run(home, password, account, store=""):
    env = {k: v for k, v in os.environ.items()
           if k not in ("DBUS_SESSION_BUS_ADDRESS", "DISPLAY", "WAYLAND_DISPLAY", "GNOME_KEYRING_CONTROL")}
    runtime = os.path.join(home, "runtime")
    os.makedirs(runtime, mode=0o700, exist_ok=True)
    env.update(HOME=home, XDG_DATA_HOME=os.path.join(home, "data"), XDG_CONFIG_HOME=os.path.join(home, "config"),
               XDG_CACHE_HOME=os.path.join(home, "cache"), XDG_RUNTIME_DIR=runtime)
    return subprocess.run(["dbus-run-session", "--", "bash", "-c", SESSION, "session", root, password, account, store],
                          env=env, capture_output=True, text=True, timeout=120)


def expect(result, wanted, what):
    if result.returncode != 0 or result.stdout != wanted:
        failures.append(f"{what}: exit {result.returncode}, read {result.stdout!r}\n{result.stderr}")


with tempfile.TemporaryDirectory() as home:
    expect(run(home, "", "first", store="pw-first"), "pw-first", "a fresh run stores and reads")
    keyrings = os.path.join(home, "data", "keyrings")
    if not os.path.exists(os.path.join(keyrings, "login.keyring")):
        failures.append("no login keyring was made: " + ", ".join(sorted(os.listdir(keyrings))))
    expect(run(home, "", "first"), "pw-first", "the next run reads what the first stored")

    # Another keyring as the default, as a run before this one could leave it:
    # made with a password elsewhere, then named the default here.
    with tempfile.TemporaryDirectory() as other:
        run(other, "a password of its own", "none")
        shutil.copy(os.path.join(other, "data", "keyrings", "login.keyring"), os.path.join(keyrings, "other.keyring"))
    with open(os.path.join(keyrings, "default"), "w") as f:
        f.write("other")
    expect(run(home, "", "second", store="pw-second"), "pw-second", "a run with another default keyring stores")

for failure in failures:
    print(failure)
print(f"{0 if failures else 1} passed, {1 if failures else 0} failed")
sys.exit(1 if failures else 0)
