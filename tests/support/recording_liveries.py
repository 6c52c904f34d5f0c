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
    if recording.endswith(".rtrec"):
        # rtfeed's own layout: time,hex,lat,lon,alt,vs,track,gs,callsign,type,...
        with open(recording) as f:
            for line in f:
                if line.startswith("#"):
                    continue
                row = line.split(",")
                airline, model = row[8][:3].upper(), row[9].upper()
                if len(airline) == 3 and airline.isalpha() and model and (row[1], airline, model) not in seen:
                    seen.add((row[1], airline, model))
                    count[(airline, model)] += 1
        return [p for p, _ in count.most_common(most)]
    with open(recording, newline="") as f:
        for row in csv.DictReader(f):
            airline = (row.get("Airliner") or "")[:3]
            model = row.get("Aircraft_model") or ""
            key = (row.get("icao24"), airline, model)
            if len(airline) == 3 and airline.isalpha() and model and key not in seen:
                seen.add(key)
                count[(airline.upper(), model.upper())] += 1
    return [p for p, _ in count.most_common(most)]


def pairs_of_park_file(park_file, fleet_csv):
    """The airline and type pairs of a park file's occurrences ("opt"): their
    own attributes, or the fleet list's entry for their registration."""
    import xml.etree.ElementTree as ET
    fleet = {}
    if os.path.exists(fleet_csv):
        with open(fleet_csv, newline="") as f:
            for row in csv.DictReader(f):
                fleet[row["registration"]] = (row["airline_icao"].upper(), row["icao_type"].upper())
    text = open(park_file, encoding="utf-8").read()
    root = ET.fromstring("<root>" + text.split("?>", 1)[-1] + "</root>")
    pairs = collections.Counter()
    for opt in root.iter("opt"):
        pair = (opt.get("airl", "").upper(), opt.get("type", "").upper())
        if not all(pair):
            pair = fleet.get(opt.get("reg", ""), ("", ""))
        if all(pair):
            pairs[pair] += 1
    return [p for p, _ in pairs.most_common()]


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
