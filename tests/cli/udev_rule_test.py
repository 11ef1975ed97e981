#!/usr/bin/env python3
"""Checks the camera's udev rule without a udev daemon.

    udev_rule_test.py RULES_FILE

Reads the rule file with the syntax of udev(7) (comma-separated KEY{attribute}OP"value", line
continuations, comments, GOTO and LABEL, shell-glob values with "|" alternatives, trailing blanks
of sysfs attributes ignored unless the value itself ends with one, and the parent keys SUBSYSTEMS,
KERNELS, DRIVERS and ATTRS all matching on one device of the chain upwards from the event's
device) and applies it to the devices below, as the kernel shows them in sysfs: the camera's
SCSI generic node and disk get TAG "uaccess" (the SCSI generic node also group plugdev, mode
0660), and nothing else does: not the camera's partitions or its other nodes, not other disks,
not a look-alike vendor. Then the same table is run on broken variants of the rule, each of
which must fail it, so that the check itself is seen to catch what it is there for.
"""

import fnmatch
import os
import re
import sys

MATCH_KEYS = {"ACTION", "SUBSYSTEM", "KERNEL", "DEVPATH", "ENV", "ATTR"}
PARENT_KEYS = {"SUBSYSTEMS", "KERNELS", "DRIVERS", "ATTRS"}
ASSIGN_KEYS = {"TAG", "GROUP", "MODE", "OWNER", "GOTO", "LABEL", "ENV"}
KEYS_WITH_ATTRIBUTE = {"ENV", "ATTR", "ATTRS"}
TOKEN = re.compile(r'\s*([A-Z]+)(?:\{([^}]*)\})?\s*(==|!=|\+=|-=|:=|=)\s*"((?:[^"\\]|\\.)*)"\s*')


class RuleError(Exception):
    pass


def parse(text):
    """The rules of `text`: each a list of (key, attribute, operator, value)."""
    rules = []
    logical = ""
    for number, line in enumerate(text.split("\n"), 1):
        stripped = line.strip()
        if not logical and (not stripped or stripped.startswith("#")):
            continue
        if stripped.endswith("\\"):
            logical += stripped[:-1] + " "
            continue
        logical += stripped
        rule, at = [], 0
        while at < len(logical):
            match = TOKEN.match(logical, at)
            if not match:
                raise RuleError(f"line {number}: cannot read {logical[at:]!r}")
            key, attribute, operator, value = match.groups()
            if (attribute is not None) != (key in KEYS_WITH_ATTRIBUTE):
                raise RuleError(f"line {number}: {key} {'needs' if attribute is None else 'takes no'} {{attribute}}")
            matching = operator in ("==", "!=")
            if matching and key not in MATCH_KEYS | PARENT_KEYS:
                raise RuleError(f"line {number}: {key} cannot be matched")
            if not matching and key not in ASSIGN_KEYS:
                raise RuleError(f"line {number}: {key} cannot be assigned")
            if key == "MODE" and not re.fullmatch(r"0?[0-7]{3}", value):
                raise RuleError(f"line {number}: MODE {value!r} is not octal")
            rule.append((key, attribute, operator, value))
            at = match.end()
            if at < len(logical):
                if logical[at] != ",":
                    raise RuleError(f"line {number}: expected a comma at {logical[at:]!r}")
                at += 1
        rules.append(rule)
        logical = ""
    labels = [value for rule in rules for key, _, _, value in rule if key == "LABEL"]
    for index, rule in enumerate(rules):
        for key, _, _, value in rule:
            later = [v for r in rules[index + 1:] for k, _, _, v in r if k == "LABEL"]
            if key == "GOTO" and value not in later:
                raise RuleError(f"GOTO {value!r} names no LABEL after it (labels: {labels})")
    return rules


def glob(pattern, value, attribute=False):
    """udev's comparison: shell glob, "|" between alternatives; attribute values lose their
    trailing blanks unless the pattern ends with one."""
    for alternative in pattern.split("|"):
        candidate = value
        if attribute and not alternative[-1:].isspace():
            candidate = value.rstrip()
        if fnmatch.fnmatchcase(candidate, alternative):
            return True
    return False


def matches(key, attribute, operator, value, device):
    if key == "ENV":
        actual, is_attribute = device["env"].get(attribute), False
    elif key == "ATTR":
        actual, is_attribute = device["attrs"].get(attribute), True
    else:
        actual, is_attribute = device[key.lower()], False
    found = actual is not None and glob(value, actual, is_attribute)
    return found if operator == "==" else not found


def parent_matches(tokens, device):
    """All parent keys on one device of the chain, the event's device first."""
    names = {"SUBSYSTEMS": "subsystem", "KERNELS": "kernel", "DRIVERS": "driver"}
    for each in device["chain"]:
        ok = True
        for key, attribute, operator, value in tokens:
            if key == "ATTRS":
                actual = each["attrs"].get(attribute)
                found = actual is not None and glob(value, actual, True)
            else:
                actual = each.get(names[key])
                found = actual is not None and glob(value, actual)
            ok = ok and (found if operator == "==" else not found)
        if ok:
            return True
    return False


def apply(rules, device):
    """What the rules give `device`: its tags, group and mode."""
    result = {"tags": set(), "group": None, "mode": None}
    skip_to = None
    for rule in rules:
        if skip_to is not None:
            if any(k == "LABEL" and v == skip_to for k, _, _, v in rule):
                skip_to = None
            continue
        plain = [t for t in rule if t[2] in ("==", "!=") and t[0] not in PARENT_KEYS]
        parents = [t for t in rule if t[2] in ("==", "!=") and t[0] in PARENT_KEYS]
        if not all(matches(*t, device) for t in plain):
            continue
        if parents and not parent_matches(parents, device):
            continue
        for key, _, operator, value in rule:
            if key == "TAG" and operator == "+=":
                result["tags"].add(value)
            elif key == "TAG" and operator in ("=", ":="):
                result["tags"] = {value}
            elif key == "GROUP":
                result["group"] = value
            elif key == "MODE":
                result["mode"] = value
            elif key == "GOTO":
                skip_to = value
                break
    return result


# ---- the devices, as sysfs shows them ----

def scsi_chain(vendor, scsi_type="0", usb=True, host="0"):
    """The SCSI device, its target and host, and the bus above them."""
    chain = [
        {"kernel": f"{host}:0:0:0", "subsystem": "scsi", "driver": "sd",
         "attrs": {"vendor": vendor, "model": "DV CAMERA       ", "type": scsi_type, "rev": "1.00"}},
        {"kernel": f"target{host}:0:0", "subsystem": "scsi", "driver": None, "attrs": {}},
        {"kernel": f"host{host}", "subsystem": "scsi", "driver": None, "attrs": {}},
    ]
    if usb:
        chain += [
            {"kernel": "1-1:1.0", "subsystem": "usb", "driver": "usb-storage",
             "attrs": {"bInterfaceClass": "08"}},
            {"kernel": "1-1", "subsystem": "usb", "driver": "usb",
             "attrs": {"idVendor": "1209", "idProduct": "0001", "manufacturer": "KMZ"}},
        ]
    else:
        chain += [{"kernel": "0000:00:1f.2", "subsystem": "pci", "driver": "ahci",
                   "attrs": {"vendor": "0x8086", "device": "0x2922"}}]
    return chain


def node(subsystem, kernel, chain, action="add", devtype=None):
    env = {"DEVTYPE": devtype} if devtype else {}
    return {"action": action, "subsystem": subsystem, "kernel": kernel, "devpath": "/devices/x",
            "env": env, "attrs": {},
            "chain": [{"kernel": kernel, "subsystem": subsystem, "driver": None, "attrs": {}}] + chain}


CAMERA = scsi_chain("KMZ     ")
SG_ACCESS = {"tags": {"uaccess"}, "group": "plugdev", "mode": "0660"}
DISK_ACCESS = {"tags": {"uaccess"}, "group": None, "mode": None}
NOTHING = {"tags": set(), "group": None, "mode": None}

CASES = [
    ("the camera's SCSI generic node", node("scsi_generic", "sg1", CAMERA), SG_ACCESS),
    ("the camera's node again (change)", node("scsi_generic", "sg1", CAMERA, "change"), SG_ACCESS),
    ("the camera's node going", node("scsi_generic", "sg1", CAMERA, "remove"), NOTHING),
    ("the camera's disk", node("block", "sdb", CAMERA, devtype="disk"), DISK_ACCESS),
    ("a partition on the camera's disk", node("block", "sdb1", CAMERA, devtype="partition"),
     NOTHING),
    ("the camera's SCSI device itself", {**node("scsi", "0:0:0:0", CAMERA[1:]),
                                         "attrs": CAMERA[0]["attrs"]}, NOTHING),
    ("the camera's bsg node", node("bsg", "0:0:0:0", CAMERA), NOTHING),
    ("a vendor without its padding", node("scsi_generic", "sg1", scsi_chain("KMZ")), SG_ACCESS),
    ("a SATA disk's SCSI generic node",
     node("scsi_generic", "sg0", scsi_chain("ATA     ", usb=False)), NOTHING),
    ("a SATA disk", node("block", "sda", scsi_chain("ATA     ", usb=False), devtype="disk"),
     NOTHING),
    ("a memory stick", node("block", "sdc", scsi_chain("Generic "), devtype="disk"), NOTHING),
    ("a memory stick's node", node("scsi_generic", "sg2", scsi_chain("Generic ")), NOTHING),
    ("a look-alike vendor KMZX", node("scsi_generic", "sg3", scsi_chain("KMZX    ")), NOTHING),
    ("a look-alike vendor in lower case", node("block", "sdd", scsi_chain("kmz     "),
                                               devtype="disk"), NOTHING),
    ("a vendor with the name inside", node("scsi_generic", "sg4", scsi_chain("AKMZ    ")),
     NOTHING),
    ("a KMZ optical drive", node("scsi_generic", "sg5", scsi_chain("KMZ     ", "5")), NOTHING),
    ("the USB device itself", {**node("usb", "1-1", CAMERA[4:]),
                               "attrs": CAMERA[4]["attrs"]}, NOTHING),
]


def check(text, filename):
    """The failures of the rule file `text` named `filename`, as lines."""
    failures = []
    number = re.match(r"(\d+)-", filename)
    if not number or int(number.group(1)) >= 73:
        failures.append(f"{filename}: must be numbered below 73 (73-seat-late.rules applies "
                        "the uaccess tag)")
    if not filename.endswith(".rules"):
        failures.append(f"{filename}: udev reads only files ending in .rules")
    if re.search(r"1209|0001|0002", text):
        failures.append("the test server's USB ids (pid.codes 1209) are not the camera's")
    try:
        rules = parse(text)
    except RuleError as error:
        return failures + [str(error)]
    for what, device, expected in CASES:
        got = apply(rules, device)
        if got != expected:
            failures.append(f"{what}: got {got}, expected {expected}")
    return failures


def variants(text):
    """Broken versions of the rule, each with what is wrong with it."""
    yield "every SCSI generic node", text.replace(', ATTRS{vendor}=="KMZ", \\\n    TAG', ", \\\n    TAG", 1)
    yield "a vendor glob that takes look-alikes", text.replace('ATTRS{vendor}=="KMZ"', 'ATTRS{vendor}=="KMZ*"')
    yield "partitions too", text.replace('ENV{DEVTYPE}=="disk", ', "")
    yield "the vendor matched on another device than the type", text.replace(
        'ATTRS{type}=="0", \\\n    ATTRS{vendor}', 'ATTRS{type}=="0", \\\n    ATTR{vendor}')
    yield "a value without quotes", text.replace('MODE="0660"', "MODE=0660")
    yield "a GOTO to nowhere", text.replace('LABEL="zelquin_camera_end"', 'LABEL="elsewhere"')
    yield "on remove too", text.replace('ACTION!="add|change", GOTO="zelquin_camera_end"\n', "")


def main():
    path = sys.argv[1]
    with open(path, encoding="utf-8") as f:
        text = f.read()
    filename = os.path.basename(path)
    failures = check(text, filename)
    for failure in failures:
        print(f"FAIL: {failure}")
    for what, broken in variants(text):
        if broken == text:
            failures.append(what)
            print(f"FAIL: the variant '{what}' does not change the rule; the test is out of date")
        elif not check(broken, filename):
            failures.append(what)
            print(f"FAIL: the check misses a broken rule: {what}")
    if not check(text, "80-zelquin-camera.rules"):
        failures.append("number")
        print("FAIL: the check misses a rule numbered after 73-seat-late.rules")
    print(f"{filename}: {len(CASES)} devices, {sum(1 for _ in variants(text)) + 1} broken "
          f"variants: {'ok' if not failures else f'{len(failures)} failures'}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
