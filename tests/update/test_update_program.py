#!/usr/bin/env python3
"""The program's update check, started as a user would, against the local
HTTPS download server serving the build's tree with a newer release added by
refdata --installer.

Usage: test_update_program.py <Ventrix_P3D> <refdata> <server tree> <download_server.py> <livgen> <version>
"""
import os
import random
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from world import make_world, read, read_parameters, write_parameters  # noqa: E402
import download_server  # noqa: E402

EXE, REFDATA, TREE, SERVER, LIVGEN = (os.path.abspath(a) for a in sys.argv[1:6])
RUNNING = sys.argv[6]
# The next program: for 11.9.2 that is 11.10.0, newer only when compared number by number.
major, minor, _ = (int(x) for x in RUNNING.split("."))
NEW = "%d.%d.0" % (major, minor + 1)
failures = []


def check(cond, what):
    print(("ok   " if cond else "FAIL ") + what)
    if not cond:
        failures.append(what)


def start_server(tree, work):
    return download_server.start_background(tree, work)


def run(install, env):
    r = subprocess.run([EXE, "--production"], cwd=install, env=env, stdin=subprocess.DEVNULL,
                       capture_output=True, text=True, timeout=120)
    return r.returncode, read(os.path.join(install, "Log.txt"))


with tempfile.TemporaryDirectory() as root:
    # The build's tree, and a release NEW of an installer of random bytes.
    tree = os.path.join(root, "tree")
    shutil.copytree(TREE, tree)
    installer = os.path.join(root, "setup.exe")
    payload = random.Random(5).randbytes(1300000)
    with open(installer, "wb") as f:
        f.write(payload)
    notes = os.path.join(root, "notes.pdf")
    with open(notes, "wb") as f:
        f.write(b"%PDF-1.4 release notes")
    subprocess.run([REFDATA, "--server", tree, "--installer", installer, "--program-version", NEW,
                    "--release-notes", notes], check=True, stdout=subprocess.DEVNULL)
    release = os.path.join(tree, "downloads", "release", "setup_Ventrix_P3D_d_v%s.zip" % NEW)
    check(os.path.isfile(release), "refdata --installer writes the release archive")

    server, served = start_server(tree, root)
    try:
        env, install = make_world(root, EXE, livgen=LIVGEN)
        env.update({k: v for k, v in served.items() if k in ("VNTX_DOWNLOAD_BASE", "VNTX_DOWNLOAD_CA")})
        env["NO_PROXY"] = "localhost,127.0.0.1"
        # A user of this version with a livery folder, whose data versions were
        # never stored; the add-on airports were scanned at 1.0.0.
        values = read_parameters(env)
        values["ADDONS_SCAN_VERSION"] = "1.0.0"
        write_parameters(env, values)

        rc, log = run(install, env)
        check(rc == 0, "stopped for the new version with exit code 0 (got %d)" % rc)
        check("Ventrix_P3D program version at web = " + NEW in log, "%s finds %s on the server" % (RUNNING, NEW))
        check("Exiting: NEW VERSION" in log, "ends with NEW VERSION")
        check("dbase records read" not in log, "stops before the data files are read")
        nv = os.path.join(install, "new_version")
        with open(os.path.join(nv, "install_new_version.exe"), "rb") as f:
            check(f.read() == payload, "new_version/install_new_version.exe is the released installer")
        check(read(os.path.join(nv, "README.txt")).startswith("A new version is available."), "README.txt written")
        check(os.path.isfile(os.path.join(nv, "ReleaseNotes.pdf")), "ReleaseNotes.pdf beside it")
        check(sorted(os.listdir(install)) == ["Log.txt", "airports", "docs", "input", "new_version", "output"],
              "nothing else left in the install folder: %s" % sorted(os.listdir(install)))

        # The release is withdrawn: the program says so and starts normally,
        # taking the data files whose versions it never stored.
        os.remove(os.path.join(served["VNTX_DOWNLOAD_ROOT"], "downloads", "release",
                               "setup_Ventrix_P3D_d_v%s.zip" % NEW))
        shutil.rmtree(nv)
        rc, log = run(install, env)
        check(rc == 0, "production run returns 0 (got %d)" % rc)
        check("The downloading/unzipping of the new version failed? Try manually via the Corlinde website." in log,
              "the failed download is reported")
        for member in ("airports", "aig", "dbase"):
            check(member + " updated to 1.0.0" in log, member + " downloaded (no stored version)")
        if "Exiting: USER CLOSED SIM" not in log:
            print(log)
        check("dbase records read" in log and "Exiting: USER CLOSED SIM" in log, "then starts normally")
        check("liveries updated to 1.0.0" in log and "addons updated" not in log,
              "the livery scan runs (version never stored), the add-on scan does not")
        check(not os.path.exists(nv), "no new_version folder")
        values = read_parameters(env)
        check(values.get("DBASE_VERSION") == "1.0.0" and values.get("AIG_VERSION") == "1.0.0",
              "data versions stored")
    finally:
        server.terminate()
        server.wait(timeout=30)

print("%d passed, %d failed" % (0 if failures else 1, len(failures)))
sys.exit(1 if failures else 0)
