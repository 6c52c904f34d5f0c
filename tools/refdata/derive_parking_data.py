#!/usr/bin/env python3
"""Derives the reduced stand and visit tables of data/ from the shared raw data.

  derive_parking_data.py <shared data folder> <project data folder>

Writes
  data/stands_osm/LSZH.csv  stands from the OpenStreetMap layout of Zurich
                            (ODbL), in the column layout of data/stands
  data/parking/<ICAO>.csv   one row per flight that stands at an airport with
                            stands, with the weekdays it does so, from the
                            FlightGear AI schedules (GPL-2+)

tools/refdata turns these into stock park files; this script is only needed
again when the raw data changes. See the PROVENANCE.md files it sits beside.
"""
import collections
import csv
import json
import math
import os
import re
import sys
import zlib

WEEK = 7 * 1440
OSM_AIRPORTS = ["LSZH"]


def metres(a, b):
    """Local flat-earth distance in metres between (lat, lon) pairs."""
    k = math.cos(math.radians((a[0] + b[0]) / 2))
    return math.hypot((a[0] - b[0]) * 111195.0, (a[1] - b[1]) * 111195.0 * k)


def bearing(a, b):
    k = math.cos(math.radians((a[0] + b[0]) / 2))
    return math.degrees(math.atan2((b[1] - a[1]) * k, b[0] - a[0])) % 360.0


def move(p, heading_deg, dist_m):
    k = math.cos(math.radians(p[0]))
    h = math.radians(heading_deg)
    return (p[0] + dist_m * math.cos(h) / 111195.0, p[1] + dist_m * math.sin(h) / (111195.0 * k))


# ---------------------------------------------------------------- OSM stands

def osm_stands(path):
    els = json.load(open(path))["elements"]
    taxi_nodes, taxi_points, gates = set(), [], []
    for e in els:
        t = e.get("tags", {})
        if e["type"] == "way" and t.get("aeroway") in ("taxiway", "taxilane"):
            taxi_nodes.update(e["nodes"])
            taxi_points += [(g["lat"], g["lon"]) for g in e["geometry"]]
        if t.get("aeroway") == "gate":
            gates.append((e["lat"], e["lon"]) if e["type"] == "node" else (e["geometry"][0]["lat"], e["geometry"][0]["lon"]))

    def near_taxi(p):
        return min(metres(p, q) for q in taxi_points) if taxi_points else 0.0

    lines, points = collections.OrderedDict(), {}
    for e in els:
        t = e.get("tags", {})
        if t.get("aeroway") != "parking_position":
            continue
        ref = (t.get("ref") or t.get("name") or "").strip()
        if not ref or "run up" in ref.lower() or "run-up" in ref.lower():
            continue
        if e["type"] == "node":
            points.setdefault(ref, (e["lat"], e["lon"]))
        elif ref not in lines:  # a second lead-in line of the same stand adds nothing
            geo = [(g["lat"], g["lon"]) for g in e["geometry"]]
            first_on_taxi, last_on_taxi = e["nodes"][0] in taxi_nodes, e["nodes"][-1] in taxi_nodes
            if first_on_taxi != last_on_taxi:
                stop_last = first_on_taxi
            else:  # the end farther from the taxiways is where the aircraft stops
                stop_last = near_taxi(geo[-1]) >= near_taxi(geo[0])
            lines[ref] = geo if stop_last else geo[::-1]

    stops = {ref: (g[-1], bearing(g[-2], g[-1])) for ref, g in lines.items()}
    for ref, p in points.items():
        if ref not in stops:
            nearest = min(stops.values(), key=lambda s: metres(s[0], p)) if stops else (p, 0.0)
            stops[ref] = (p, nearest[1])
    refs = list(stops)
    rows = []
    for ref in refs:
        stop, heading = stops[ref]
        # Half the way to the next stand; stands closer than 20 m are the
        # alternative lead-ins of one place (they end up as neighbours).
        others = [d for d in (metres(stop, stops[o][0]) for o in refs if o != ref) if d > 20.0]
        radius = max(12.0, min(40.0, 0.5 * min(others))) if others else 20.0
        centre = move(stop, heading + 180.0, radius)  # the aircraft's middle, one radius back from the stop
        at_gate = any(metres(stop, g) < 60.0 for g in gates)
        rows.append([ref, "%.6f" % centre[0], "%.6f" % centre[1], "%.1f" % heading, "%.1f" % radius,
                     "gate" if at_gate else "tie-down", "0", "0", "0" if at_gate else "1", ""])
    n = 0
    for e in els:
        t = e.get("tags", {})
        if t.get("aeroway") != "helipad":
            continue
        n += 1
        if e["type"] == "node":
            lat, lon = e["lat"], e["lon"]
        else:
            lat = sum(g["lat"] for g in e["geometry"]) / len(e["geometry"])
            lon = sum(g["lon"] for g in e["geometry"]) / len(e["geometry"])
        ref = (t.get("ref") or "helipad%d" % n).strip()
        if any(r[0] == ref for r in rows):
            ref = "%s#%d" % (ref, n)
        rows.append([ref, "%.6f" % lat, "%.6f" % lon, "0.0", "10.0", "tie-down", "0", "1", "1", ""])
    return rows


# ---------------------------------------------------------------- visits

def week_minute(text):
    """Minutes from Monday 00:00 UTC; FlightGear counts weekdays from Sunday (0).
    A time without a day ("hh:mm:ss") repeats daily: its Monday is returned."""
    day, hms = text.split("/") if "/" in text else ("1", text)
    h, m = hms.split(":")[:2]
    return (((int(day) + 6) % 7) * 1440 + int(h) * 60 + int(m)) % WEEK


def flight_number(callsign):
    m = re.search(r"(\d+[A-Z]?)\s*$", callsign.strip())
    return m.group(1) if m else ""


def visits(shared, airports):
    fleet = collections.defaultdict(list)
    airline_of = {}
    with open(os.path.join(shared, "registrations", "fg_ai_fleet.csv")) as f:
        for r in csv.DictReader(f):
            if re.fullmatch(r"[A-Z]{3}", r["airline_icao"]) and r["icao_type"]:
                fleet[r["fleet_key"]].append(r["registration"])
                airline_of[r["fleet_key"]] = r["airline_icao"]
    moves = collections.defaultdict(lambda: ([], []))  # (airport, pool) -> (arrivals, departures)
    with open(os.path.join(shared, "registrations", "fg_ai_schedules.csv")) as f:
        for r in csv.DictReader(f):
            pool = r["fleet_key"]
            if pool not in fleet or r["repeat"] not in ("WEEK", "24Hr"):
                continue
            for end, port, field in ((0, "arrival", "arr_day_time"), (1, "departure", "dep_day_time")):
                if r[port] not in airports:
                    continue
                try:
                    t0 = week_minute(r[field])
                except ValueError:
                    continue
                days = [0] if "/" in r[field] else range(7)
                for d in days:
                    moves[(r[port], pool)][end].append(((t0 + d * 1440) % WEEK, flight_number(r["callsign"])))
    out = collections.defaultdict(list)
    for (airport, pool), (arrs, deps) in moves.items():
        arrs.sort()
        deps.sort()
        used = [False] * len(deps)
        free_at = {reg: -1 for reg in fleet[pool]}  # registration -> minute it leaves
        for t, arr_no in arrs:
            # The first departure of the pool at least 30 minutes later, within 20 hours.
            best, best_t = None, None
            for i, (td, _) in enumerate(deps):
                if used[i]:
                    continue
                tt = td if td >= t + 30 else td + WEEK
                if tt - t <= 20 * 60 and (best_t is None or tt < best_t):
                    best, best_t = i, tt
            if best is None:
                end, dep_no = t + 60, ""
            else:
                used[best] = True
                end, dep_no = best_t, deps[best][1]
            # The same flight gets the same aircraft of the pool on every day it
            # flies, unless that one is still on the ground: then the next free one.
            regs = fleet[pool]
            first = zlib.crc32(arr_no.encode()) % len(regs)
            order = regs[first:] + regs[:first]
            reg = next((r for r in order if free_at[r] <= t), min(order, key=lambda r: free_at[r]))
            free_at[reg] = end
            out[airport].append((t, reg, arr_no, dep_no, end - t))
    # One row per flight with the weekdays it stands there (1 = Monday).
    merged = {}
    for airport, rows in out.items():
        days = collections.defaultdict(set)
        for t, reg, arr_no, dep_no, minutes in rows:
            # Park files keep half hours: the first and the number of them.
            first = (t % 1440) // 30
            last = (t % 1440 + minutes - 1) // 30
            days[(first, reg, arr_no, dep_no, last - first + 1)].add(t // 1440 + 1)
        merged[airport] = [(k[0], k[1], k[2], k[3], k[4], "".join(str(d) for d in sorted(v))) for k, v in days.items()]
    return merged


def main():
    shared, data = sys.argv[1], sys.argv[2]
    os.makedirs(os.path.join(data, "stands_osm"), exist_ok=True)
    header = ["id", "lat", "lon", "heading_deg", "radius_m", "kind", "cargo", "heli", "ramp", "airlines"]
    for code in OSM_AIRPORTS:
        rows = osm_stands(os.path.join(shared, "osm_airport_stands", code + "_overpass.json"))
        with open(os.path.join(data, "stands_osm", code + ".csv"), "w", newline="") as f:
            w = csv.writer(f, lineterminator="\n")
            w.writerow(header)
            w.writerows(rows)
        print("%s: %d OSM stands" % (code, len(rows)))

    airports = set(OSM_AIRPORTS)
    for name in os.listdir(os.path.join(data, "stands")):
        if re.fullmatch(r"[A-Z0-9]{4}\.csv", name):
            airports.add(name[:4])
    os.makedirs(os.path.join(data, "parking"), exist_ok=True)
    total = 0
    for airport, rows in sorted(visits(shared, airports).items()):
        rows.sort()
        with open(os.path.join(data, "parking", airport + ".csv"), "w", newline="") as f:
            w = csv.writer(f, lineterminator="\n")
            w.writerow(["registration", "arrival", "departure", "slot", "slots", "days"])
            for slot, reg, arr_no, dep_no, slots, days in rows:
                w.writerow([reg, arr_no, dep_no, slot, slots, days])
        total += len(rows)
    print("%d visits at %d airports" % (total, len(airports)))


if __name__ == "__main__":
    main()
