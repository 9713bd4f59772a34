# shellcheck shell=bash
# Shared by the scripts in this folder: the packages the project needs, root
# and postgres helpers, free ports, and the build. Source it; it runs nothing.

TRELLAN_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
PG_BIN=/usr/lib/postgresql/15/bin
# Debian's own interpreter, whatever version managers sit in PATH.
PYTHON=/usr/bin/python3
[ -x "$PYTHON" ] || PYTHON=python3
export DEBIAN_FRONTEND=noninteractive

# Everything the build, the tests and the demo need, in one place.
TRELLAN_PACKAGES=(
    # build
    cmake ninja-build g++ pkg-config
    qt6-base-dev libgl-dev libpq-dev libssl-dev libssh2-1-dev libsecret-1-dev
    libplist-dev zlib1g-dev libsqlite3-dev libmagic-dev
    googletest libgtest-dev libbenchmark-dev
    # scripts/fuzz: clang, and the libFuzzer and sanitizer runtimes it only recommends
    clang libclang-rt-14-dev
    # test and demo servers
    postgresql-15 postgresql-client-15 openssl openssh-server openssh-client
    dbus gnome-keyring libsecret-tools
    # a link to the test server that the tests cut as a network would
    iproute2
    # the desktop files the install target writes, checked by the tests
    desktop-file-utils shared-mime-info
    # the scripts themselves
    python3 procps passwd util-linux locales
    # fixed fonts for the widget tests
    fonts-dejavu-core
    # a virtual display for trying the program by hand on a machine without one,
    # with a window manager so that windows are activated and raised as on a desktop
    xvfb xdotool openbox
)

die() { echo "$(basename "$0"): $*" >&2; exit 1; }
note() { echo "== $*" >&2; }

is_root() { [ "$(id -u)" = 0 ]; }

# Runs a command as root: directly when we are root, else through sudo.
as_root() {
    if is_root; then
        "$@"
    elif command -v sudo >/dev/null; then
        sudo "$@"
    else
        die "needs root for: $* (install sudo or run as root)"
    fi
}

# Runs a command as the owner of the PostgreSQL servers: the postgres system
# user when we are root (the server refuses to run as root), else ourselves.
as_pg() {
    if is_root; then
        (cd / && runuser -u postgres -- "$@")
    else
        "$@"
    fi
}

# Installs the packages of TRELLAN_PACKAGES that are missing; the package lists
# are refreshed only when something has to be installed.
ensure_deps() {
    local missing=() p status
    for p in "${TRELLAN_PACKAGES[@]}"; do
        status=$(dpkg-query -W -f='${db:Status-Abbrev}' "$p" 2>/dev/null || true)
        [[ "$status" == ii* ]] || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    note "installing ${missing[*]}"
    as_root apt-get update -q
    as_root apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# The value tests also run under a German locale, to prove that numbers never
# follow the user's locale; generate it once when the machine lacks it.
ensure_test_locale() {
    locale -a 2>/dev/null | grep -qix 'de_DE.utf-\?8' && return 0
    note "generating the de_DE.UTF-8 locale"
    as_root localedef -i de_DE -f UTF-8 de_DE.UTF-8 || note "could not generate de_DE.UTF-8; the value tests fall back to C.UTF-8"
}

# TRELLAN_JOBS caps the build and test parallelism (several builds sharing one machine).
jobs_count() { echo "${TRELLAN_JOBS:-$(nproc 2>/dev/null || echo 2)}"; }
# TRELLAN_TEST_JOBS, when set, is ctest's alone: the tests mostly wait on their
# servers, so more of them than processors can run at once.
test_jobs_count() { echo "${TRELLAN_TEST_JOBS:-$(jobs_count)}"; }

# Configures (once) and builds build/; extra arguments go to cmake --build.
build_project() {
    local dir="$TRELLAN_ROOT/build"
    if [ ! -f "$dir/build.ninja" ]; then
        note "configuring $dir"
        cmake -S "$TRELLAN_ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >&2
    fi
    note "building"
    cmake --build "$dir" -j "$(jobs_count)" "$@" >&2
}

# Configures (once) and builds build-sanitize/: a Debug build with
# AddressSanitizer and UndefinedBehaviorSanitizer, of the platform, engine,
# model and actions tests only (the layers where the threads, the C libraries
# and the statements that change a user's data are).
build_sanitized() {
    local dir="$TRELLAN_ROOT/build-sanitize" targets=() t
    if [ ! -f "$dir/build.ninja" ]; then
        note "configuring $dir"
        cmake -S "$TRELLAN_ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTRELLAN_SANITIZE=ON >&2
    fi
    for t in "$TRELLAN_ROOT"/tests/{platform,engine,model,actions}/*.cpp; do
        t=${t#"$TRELLAN_ROOT"/tests/}
        targets+=("test_${t%%/*}_$(basename "$t" .cpp)")
    done
    note "building ${#targets[@]} sanitized test programs"
    cmake --build "$dir" -j "$(jobs_count)" --target "${targets[@]}" >&2
}

# Configures (once) and builds build-fuzz/: clang, libFuzzer, AddressSanitizer
# and UndefinedBehaviorSanitizer; only the fuzz targets of tests/fuzz and the
# layers they link. Arguments are the targets to build (none: all of them).
build_fuzz() {
    local dir="$TRELLAN_ROOT/build-fuzz"
    if [ ! -f "$dir/build.ninja" ]; then
        note "configuring $dir"
        CC=clang CXX=clang++ cmake -S "$TRELLAN_ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
            -DTRELLAN_FUZZ=ON >&2
    fi
    note "building the fuzz targets"
    # Runs of scripts/fuzz may go on side by side: their builds take turns.
    if [ $# -gt 0 ]; then
        flock "$dir/.build-lock" cmake --build "$dir" -j "$(jobs_count)" --target "$@" >&2
    else
        flock "$dir/.build-lock" cmake --build "$dir" -j "$(jobs_count)" >&2
    fi
}

# Prints N distinct loopback ports that were free a moment ago. The kernel
# picks them (bind to port 0); all sockets stay open until every port is known
# so that the N differ.
free_ports() {
    "$PYTHON" - "$1" <<'EOF'
import socket, sys
socks = []
for _ in range(int(sys.argv[1])):
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.bind(("127.0.0.1", 0))
    socks.append(s)
print(" ".join(str(s.getsockname()[1]) for s in socks))
EOF
}

# Waits until something accepts TCP connections on 127.0.0.1:port.
wait_for_port() {
    "$PYTHON" - "$1" "${2:-30}" <<'EOF'
import socket, sys, time
port, limit = int(sys.argv[1]), float(sys.argv[2])
deadline = time.monotonic() + limit
while True:
    try:
        socket.create_connection(("127.0.0.1", port), timeout=1).close()
        sys.exit(0)
    except OSError:
        if time.monotonic() > deadline:
            sys.exit(1)
        time.sleep(0.05)
EOF
}

# initdb for a throwaway or demo cluster: UTF-8, no fsync, trust for the admin.
pg_initdb() {
    local datadir=$1 admin=$2
    as_pg "$PG_BIN/initdb" -D "$datadir" -U "$admin" --auth=trust --encoding=UTF8 \
        --locale=C.UTF-8 --no-sync --no-instructions >/dev/null
}

# Creates a directory owned by whoever runs the servers, mode 0700.
pg_owned_dir() {
    if is_root; then
        install -d -o postgres -g postgres -m "${2:-700}" "$1"
    else
        install -d -m "${2:-700}" "$1"
    fi
}

# Copies a file into a cluster's directory, owned by the server's user, 0600.
pg_owned_copy() {
    if is_root; then
        install -o postgres -g postgres -m 600 "$1" "$2"
    else
        install -m 600 "$1" "$2"
    fi
}

# Inside a D-Bus session: starts a Secret Service (gnome-keyring) with the
# login keyring unlocked with the given password (made with it when new; the
# empty password too), as the keyring a desktop session opens, waits until it
# answers, and prints its process id.
start_session_keyring() {
    local password=$1 log=$2 pid i
    # gnome-keyring reads the password up to the end of its input: no input at
    # all means no password, and it makes no login keyring; a new keyring would
    # then ask for a password of its own at the first save. The closing NUL ends
    # the password, so that the empty one is one.
    printf '%s\0' "$password" |
        gnome-keyring-daemon --foreground --unlock --components=secrets >"$log" 2>&1 &
    pid=$!
    for i in $(seq 100); do
        dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
            org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null |
            grep -q 'boolean true' && break
        [ "$i" = 100 ] && { cat "$log" >&2; die "the keyring did not start"; }
        sleep 0.1
    done
    # Items go to the login keyring, even where an earlier run left another
    # keyring (one with a password of its own) as the default.
    dbus-send --session --print-reply --dest=org.freedesktop.secrets /org/freedesktop/secrets \
        org.freedesktop.Secret.Service.SetAlias string:default \
        objpath:/org/freedesktop/secrets/collection/login >/dev/null 2>>"$log" ||
        { cat "$log" >&2; die "the login keyring did not open"; }
    echo "$pid"
}
