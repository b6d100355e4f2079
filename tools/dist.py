#!/usr/bin/env python3
"""make dist: the release archives from the two build trees.

    python3 tools/dist.py BUILD OUTDIR

writes OUTDIR/pagorex-<version>-win32.zip and -win64.zip, each one folder holding both
programs (stripped of their debugging information), README.txt and LICENSE.txt, and
OUTDIR/SHA256SUMS (`sha256sum -c SHA256SUMS` checks them). The same commit gives the same
bytes: fixed order, fixed permission bits, and the commit's time (SOURCE_DATE_EPOCH where
set) as the date of every entry and in the programs' headers."""
import hashlib
import os
import subprocess
import sys
import tempfile
import time
import zipfile

TARGETS = {"win32": "i686-w64-mingw32", "win64": "x86_64-w64-mingw32"}
PROGRAMS = ["pagorex.exe", "pagorex-store.exe"]
# Text files with Windows line ends: Notepad before Windows 10 shows others as one line.
TEXTS = [("README.md", "README.txt"), ("LICENSE", "LICENSE.txt")]


def release_epoch(root):
    stamp = os.environ.get("SOURCE_DATE_EPOCH")
    if not stamp:
        git = subprocess.run(["git", "-C", root, "log", "-1", "--format=%ct"], capture_output=True, text=True)
        stamp = git.stdout.strip() if git.returncode == 0 else ""
    # A zip cannot date anything before 1980; a tree outside git gets that.
    return max(int(stamp or 0), 315532800)


def stripped(path, triple, epoch):
    # strip writes a time stamp into the program's header: the release's, not the clock's.
    env = dict(os.environ, SOURCE_DATE_EPOCH=str(epoch))
    with tempfile.TemporaryDirectory() as work:
        copy = os.path.join(work, os.path.basename(path))
        result = subprocess.run([f"{triple}-strip", "-o", copy, path], capture_output=True, text=True, env=env)
        if result.returncode != 0:
            sys.exit(f"dist: cannot strip {path}: {result.stderr.strip()}")
        return open(copy, "rb").read()


def add(archive, name, data, date):
    entry = zipfile.ZipInfo(name, date_time=date)
    entry.create_system = 3
    entry.external_attr = (0o755 if name.endswith(".exe") else 0o644) << 16
    entry.compress_type = zipfile.ZIP_DEFLATED
    archive.writestr(entry, data, compresslevel=9)


def main(build, outdir):
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    version = open(os.path.join(root, "VERSION")).readline().strip()
    epoch = release_epoch(root)
    date = time.gmtime(epoch)[:6]
    os.makedirs(outdir, exist_ok=True)
    sums = []
    for target, triple in TARGETS.items():
        folder = f"pagorex-{version}-{target}"
        for program in PROGRAMS:
            if not os.path.isfile(os.path.join(build, target, "bin", program)):
                sys.exit(f"dist: {build}/{target}/bin/{program} is missing: build the {target} tree first")
        zip_path = os.path.join(outdir, folder + ".zip")
        with zipfile.ZipFile(zip_path, "w") as archive:
            for program in PROGRAMS:
                data = stripped(os.path.join(build, target, "bin", program), triple, epoch)
                add(archive, f"{folder}/{program}", data, date)
            for source, name in TEXTS:
                text = open(os.path.join(root, source), "rb").read().replace(b"\r\n", b"\n")
                add(archive, f"{folder}/{name}", text.replace(b"\n", b"\r\n"), date)
        digest = hashlib.sha256(open(zip_path, "rb").read()).hexdigest()
        sums.append(f"{digest}  {folder}.zip\n")
        print(f"{zip_path}  {os.path.getsize(zip_path)} bytes")
    with open(os.path.join(outdir, "SHA256SUMS"), "w", newline="\n") as out:
        out.writelines(sums)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2])
