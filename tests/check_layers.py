#!/usr/bin/env python3
"""Fails when a source file includes a header of a higher layer, or when the
engine or model reach for QtWidgets/QtGui. Linking enforces most of this; the
check also catches header-only slips that linking never sees."""
import pathlib
import re
import sys

ORDER = ["platform", "engine", "model", "uikit", "actions", "RNCryptor", "favorites",
         "window", "browser", "query", "structure", "app"]
# What each layer may include besides itself (mirrors the link lists in CMakeLists.txt).
ALLOWED = {
    "platform": set(),
    "engine": {"platform"},
    "model": {"platform", "engine"},
    "uikit": {"platform", "engine"},
    "actions": {"platform", "engine", "model", "uikit"},
    "RNCryptor": {"platform"},
    "favorites": {"platform", "engine", "model", "uikit", "actions", "RNCryptor"},
    "window": {"platform", "engine", "model", "uikit", "actions", "RNCryptor", "favorites"},
    "browser": {"platform", "engine", "model", "uikit", "actions", "RNCryptor", "favorites", "window"},
    "query": {"platform", "engine", "model", "uikit", "actions", "RNCryptor", "favorites", "window", "browser"},
    "structure": {"platform", "engine", "model", "uikit", "actions", "RNCryptor", "favorites", "window", "browser"},
    "app": set(ORDER) - {"app"},
}
NO_WIDGETS = {"platform", "engine", "model", "RNCryptor"}
INCLUDE = re.compile(r'^\s*#\s*include\s*[<"]([^>"]+)[>"]')
WIDGET_HEADERS = re.compile(r'^(QtWidgets/|QtGui/|Q(Widget|Application|Dialog|MainWindow|Painter|PushButton|Label|Layout|'
                            r'MessageBox|Pixmap|Image|Icon|Font|Color)\b)')


def main(root):
    src = pathlib.Path(root) / "src"
    problems = []
    for path in sorted(src.glob("*/*")):
        if path.suffix not in (".h", ".cpp"):
            continue
        layer = path.parent.name
        for n, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
            m = INCLUDE.match(line)
            if not m:
                continue
            target = m.group(1)
            head = target.split("/")[0] if "/" in target else None
            if head in ALLOWED and head != layer and head not in ALLOWED.get(layer, set()):
                problems.append(f"{path.relative_to(root)}:{n}: {layer} must not include {target}")
            if layer in NO_WIDGETS and WIDGET_HEADERS.match(target):
                problems.append(f"{path.relative_to(root)}:{n}: {layer} must not use {target}")
    for p in problems:
        print(p)
    print(f"{0 if problems else 1} passed, {1 if problems else 0} failed")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else "."))
