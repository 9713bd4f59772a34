#!/usr/bin/env python3
"""Installs the build into a temporary prefix and checks what the desktop reads:
the menu entry passes desktop-file-validate and claims every connection URL
scheme and the favorite file type, and the shared-mime-info entry maps
*.tqbfav (in any case) to that type once the database is built."""
import configparser, os, subprocess, sys, tempfile

cmake, build = sys.argv[1], sys.argv[2]
SCHEMES = ["postgres", "postgresql", "postgresql+ssh", "ssh+postgres", "ssh+postgresql"]
TYPE = "application/x-trellan-favorite"
failures = []

with tempfile.TemporaryDirectory() as prefix:
    subprocess.run([cmake, "--install", build, "--prefix", prefix], check=True,
                   stdout=subprocess.DEVNULL, env=dict(os.environ, DESTDIR=""))
    share = os.path.join(prefix, "share")
    desktop = os.path.join(share, "applications", "trellan.desktop")
    if not os.access(os.path.join(prefix, "bin", "trellan"), os.X_OK):
        failures.append("bin/trellan was not installed")
    result = subprocess.run(["desktop-file-validate", desktop], capture_output=True, text=True)
    if result.returncode != 0 or result.stdout.strip():
        failures.append("desktop-file-validate: " + result.stdout + result.stderr)
    entry = configparser.ConfigParser(interpolation=None)
    entry.optionxform = str
    entry.read(desktop)
    types = entry["Desktop Entry"]["MimeType"].strip(";").split(";")
    for scheme in SCHEMES:
        if "x-scheme-handler/" + scheme not in types:
            failures.append("no handler for " + scheme)
    if TYPE not in types:
        failures.append("the favorite file type is not claimed")
    if "%U" not in entry["Desktop Entry"]["Exec"]:
        failures.append("Exec takes no URLs")
    # The install step ran update-mime-database itself (no DESTDIR).
    with open(os.path.join(share, "mime", "globs2")) as globs:
        lines = [line.strip() for line in globs if not line.startswith("#")]
    if not any(line.endswith(":" + TYPE + ":*.tqbfav") and ":cs" not in line for line in lines):
        failures.append("globs2 does not map *.tqbfav case-insensitively: %r" % lines)
    if not os.path.exists(os.path.join(share, "icons", "hicolor", "scalable", "apps", "trellan.svg")):
        failures.append("no icon")

for failure in failures:
    print(failure)
sys.exit(1 if failures else 0)
