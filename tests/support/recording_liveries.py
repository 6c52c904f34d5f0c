#!/usr/bin/env python3
"""Writes a livery folder (aircraft.cfg files with their texture, model and .air
files) for the airline and type pairs a recording flies, so that a demo or test
finds an installed livery for most of its aircraft, and the list of titles the
simulator stand-in accepts.

Usage: recording_liveries.py RECORDING.csv OUT_FOLDER [MAX_PAIRS]
Reads the Hong Kong arrivals CSV layout (Airliner = ICAO call sign, Aircraft_model).
Writes OUT_FOLDER/tree/... and OUT_FOLDER/titles.txt.
"""
import collections
import csv
import os
import sys


def pairs_of(recording, most):
    count = collections.Counter()
    seen = set()
    with open(recording, newline="") as f:
        for row in csv.DictReader(f):
            airline = (row.get("Airliner") or "")[:3]
            model = row.get("Aircraft_model") or ""
            key = (row.get("icao24"), airline, model)
            if len(airline) == 3 and airline.isalpha() and model and key not in seen:
                seen.add(key)
                count[(airline.upper(), model.upper())] += 1
    return [p for p, _ in count.most_common(most)]


def write_tree(pairs, out):
    tree = os.path.join(out, "tree")
    titles = []
    by_model = collections.defaultdict(list)
    for airline, model in pairs:
        by_model[model].append(airline)
    for model, airlines in sorted(by_model.items()):
        folder = os.path.join(tree, model)
        os.makedirs(os.path.join(folder, "model"), exist_ok=True)
        with open(os.path.join(folder, "S.air"), "w") as f:
            f.write("air")
        lines = ["[General]", "atc_model=" + model]
        for n, airline in enumerate(sorted(airlines)):
            title = "%s %s livery" % (airline, model)
            texture = airline
            os.makedirs(os.path.join(folder, "texture." + texture), exist_ok=True)
            lines += ["[fltsim.%d]" % n, "title=" + title, "sim=S", "model=", "texture=" + texture,
                      "atc_parking_types=GATE", "atc_parking_codes=" + airline, ""]
            titles.append(title)
        with open(os.path.join(folder, "aircraft.cfg"), "w") as f:
            f.write("\n".join(lines) + "\n")
    with open(os.path.join(out, "titles.txt"), "w") as f:
        f.write("\n".join(titles) + "\n")
    return tree


if __name__ == "__main__":
    rec, out = sys.argv[1], sys.argv[2]
    most = int(sys.argv[3]) if len(sys.argv) > 3 else 200
    pairs = pairs_of(rec, most)
    write_tree(pairs, out)
    print("%d liveries for %d types" % (len(pairs), len({m for _, m in pairs})))
