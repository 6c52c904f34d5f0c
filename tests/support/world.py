"""A prepared install folder for running Ventrix_P3D in tests: its own
application-data, runtime and registry stand-in folders, a simulator install
path known to the registry, the reference data the build made, and (when the
livery generator is given) a livery folder already set in parameters.xml."""
import os
import random
import shutil
import subprocess
import xml.etree.ElementTree as ET


def read(path):
    if not os.path.exists(path):
        return ""
    with open(path, encoding="utf-8", errors="replace") as f:
        return f.read()


def parameters_path(env):
    return os.path.join(env["XDG_CONFIG_HOME"], "Ventrix_P3D", "parameters.xml")


def write_parameters(env, values):
    os.makedirs(os.path.dirname(parameters_path(env)), exist_ok=True)
    with open(parameters_path(env), "w") as f:
        f.write('<?xml version="1.0"?>\n<parameters>\n')
        for k, v in values.items():
            f.write('  <parameter name="%s" value="%s" />\n' % (k, v))
        f.write("</parameters>\n")


def read_parameters(env):
    return {p.get("name"): p.get("value") for p in ET.parse(parameters_path(env)).getroot()}


def set_parameter(env, key, value):
    tree = ET.parse(parameters_path(env))
    root = tree.getroot()
    for p in root.findall("parameter"):
        if p.get("name") == key:
            root.remove(p)
    ET.SubElement(root, "parameter", name=key, value=value)
    tree.write(parameters_path(env), encoding="UTF-8", xml_declaration=True)


def make_liveries(livgen, folder, files=10, seed=3):
    """A generated livery tree; returns its root folder (titles.txt lies beside it)."""
    subprocess.run([livgen, folder, str(files), str(seed)], check=True, stdout=subprocess.DEVNULL)
    return os.path.join(folder, "tree")


def make_world(root, exe, docs=True, p3d=True, livgen=None, livery_files=10):
    """Returns (env, install folder). With livgen, parameters.xml already names a
    generated livery folder and asks for its scan (no airport scan)."""
    env = dict(os.environ)
    env["XDG_CONFIG_HOME"] = os.path.join(root, "appdata")
    env["VNTX_RUNTIME_DIR"] = os.path.join(root, "run")
    env["VNTX_REGISTRY"] = os.path.join(root, "registry.ini")
    env["HOME"] = root
    # RealTraffic's UDP ports, moved so that runs side by side do not take each other's.
    base = random.randrange(20000, 60000, 2)
    env["VNTX_WEATHER_PORT"] = str(base)
    env["VNTX_TRAFFIC_PORT"] = str(base + 1)
    os.makedirs(env["VNTX_RUNTIME_DIR"], exist_ok=True)
    install = os.path.join(root, "install")
    os.makedirs(install)
    if docs:
        os.makedirs(os.path.join(install, "docs"))
    if p3d:
        sim = os.path.join(root, "P3Dv5")
        os.makedirs(sim)
        with open(env["VNTX_REGISTRY"], "w") as f:
            f.write("[HKLM\\SOFTWARE\\Lockheed Martin\\Prepar3D v5]\nSetupPath=%s\n" % sim)
    built_input = os.path.join(os.path.dirname(exe), "..", "..", "input")
    if os.path.isdir(built_input):
        os.makedirs(os.path.join(install, "input"), exist_ok=True)
        for name in os.listdir(built_input):
            src = os.path.join(built_input, name)
            if os.path.isfile(src):
                shutil.copyfile(src, os.path.join(install, "input", name))
    if livgen:
        tree = make_liveries(livgen, os.path.join(root, "liveries"), livery_files)
        write_parameters(env, {"PROGRAM_VERSION": "11.9.2", "SCAN_LIVERIES": "true", "SCAN_AIRPORTS": "false",
                               "lfolder0": tree})
    return env, install
