#!/usr/bin/env python3
"""Checks the camera's udev rule without a udev daemon.

    udev_rule_test.py RULES_FILE

Reads the rule file with the syntax of udev(7) (comma-separated KEY{attribute}OP"value", line
continuations, comments, GOTO and LABEL, shell-glob values with "|" alternatives, trailing blanks
of sysfs attributes ignored unless the value itself ends with one, the parent keys SUBSYSTEMS,
KERNELS, DRIVERS and ATTRS all matching on one device of the chain upwards from the event's
device, and IMPORT{program}, whose program is run for real: a name without a slash is taken from
the rule's own folder, where its helper lies, with %S and %p standing for a sysfs tree the test
writes) and applies it to the devices below, as the kernel shows them in sysfs: the SCSI generic
node and disk of a USB device whose INQUIRY byte 3 is 1 get TAG "uaccess" (the SCSI generic node
also group plugdev, mode 0660), whatever its vendor, and so does the USB disk of vendor KMZ, the
camera's storage disk; nothing else does: not the camera's partitions or its other nodes, not
other disks or a disk with another byte 3, not a look-alike vendor, not a device with the mark
that is not on USB. Then the same table is run on broken variants of the rule, each of which
must fail it, so that the check itself is seen to catch what it is there for.
"""

import fnmatch
import os
import re
import shlex
import subprocess
import sys
import tempfile

MATCH_KEYS = {"ACTION", "SUBSYSTEM", "KERNEL", "DEVPATH", "ENV", "ATTR"}
PARENT_KEYS = {"SUBSYSTEMS", "KERNELS", "DRIVERS", "ATTRS"}
ASSIGN_KEYS = {"TAG", "GROUP", "MODE", "OWNER", "GOTO", "LABEL", "ENV", "IMPORT"}
KEYS_WITH_ATTRIBUTE = {"ENV", "ATTR", "ATTRS", "IMPORT"}
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


def run_import(command, device, helpers, sysfs):
    """IMPORT{program}: runs `command` as udev would, for `device` laid out below `sysfs`, and
    returns the KEY=value lines it printed."""
    inquiry = device["chain"][1]["inquiry"] if len(device["chain"]) > 1 else None
    folder = os.path.join(sysfs, device["devpath"].lstrip("/"))
    os.makedirs(os.path.join(folder, "device"), exist_ok=True)
    target = os.path.join(folder, "device", "inquiry")
    if os.path.exists(target):
        os.remove(target)
    if inquiry is not None:
        with open(target, "wb") as f:
            f.write(inquiry)
    argv = shlex.split(command.replace("%S", sysfs).replace("%p", device["devpath"]))
    if "/" not in argv[0]:
        argv[0] = os.path.join(helpers, argv[0])
    run = subprocess.run(argv, capture_output=True, text=True, timeout=10)
    if run.returncode != 0:
        raise RuleError(f"IMPORT{{program}} {command!r} ended with {run.returncode}: {run.stderr}")
    imported = {}
    for line in run.stdout.splitlines():
        key, _, value = line.partition("=")
        imported[key] = value
    return imported


def apply(rules, device, helpers, sysfs):
    """What the rules give `device`: its tags, group and mode."""
    device = {**device, "env": dict(device["env"])}
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
        for key, attribute, operator, value in rule:
            if key == "IMPORT" and attribute == "program":
                device["env"].update(run_import(value, device, helpers, sysfs))
            elif key == "ENV" and operator in ("=", ":="):
                device["env"][attribute] = value
            elif key == "TAG" and operator == "+=":
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

def inquiry(vendor, byte3):
    """The standard INQUIRY data the kernel keeps: a disk (byte 0 zero), byte 3, the vendor."""
    data = bytearray(36)
    data[1] = 0x80
    data[3] = byte3
    data[4] = 31
    data[8:16] = vendor.encode("ascii").ljust(8)[:8]
    data[16:32] = b"DV CAMERA       "
    return bytes(data)


def scsi_chain(vendor, byte3=1, scsi_type="0", usb=True, host="0"):
    """The SCSI device, its target and host, and the bus above them."""
    chain = [
        {"kernel": f"{host}:0:0:0", "subsystem": "scsi", "driver": "sd",
         "inquiry": inquiry(vendor, byte3),
         "attrs": {"vendor": vendor.ljust(8), "model": "DV CAMERA       ", "type": scsi_type,
                   "rev": "1.00"}},
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
    return {"action": action, "subsystem": subsystem, "kernel": kernel,
            "devpath": f"/devices/{chain[0]['kernel']}/{subsystem}/{kernel}", "env": env,
            "attrs": {},
            "chain": [{"kernel": kernel, "subsystem": subsystem, "driver": None, "attrs": {}}] + chain}


CAMERA = scsi_chain("KMZ")
OTHER_VENDOR = scsi_chain("ACME", host="1")
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
    ("a camera of another vendor: its node", node("scsi_generic", "sg2", OTHER_VENDOR), SG_ACCESS),
    ("a camera of another vendor: its disk", node("block", "sdc", OTHER_VENDOR, devtype="disk"),
     DISK_ACCESS),
    ("the storage disk, byte 3 no longer 1", node("block", "sdd", scsi_chain("KMZ", 0),
                                                   devtype="disk"), DISK_ACCESS),
    ("the storage disk's node", node("scsi_generic", "sg3", scsi_chain("KMZ", 0)), NOTHING),
    ("the kernel keeps no INQUIRY data", node("scsi_generic", "sg3",
                                              [{**CAMERA[0], "inquiry": None}] + CAMERA[1:]),
     NOTHING),
    ("a USB disk with byte 3 = 2", node("block", "sde", scsi_chain("Generic", 2), devtype="disk"),
     NOTHING),
    ("a USB disk's node, byte 3 = 2", node("scsi_generic", "sg4", scsi_chain("Generic", 2)),
     NOTHING),
    ("a byte 3 of 17 (1 as a prefix)", node("scsi_generic", "sg4", scsi_chain("Generic", 17)),
     NOTHING),
    ("a byte 3 of 0x81 (1 in the low bits)", node("scsi_generic", "sg4",
                                                   scsi_chain("Generic", 0x81)), NOTHING),
    ("a SATA disk's node with the mark",
     node("scsi_generic", "sg0", scsi_chain("ATA", usb=False)), NOTHING),
    ("a SATA disk with the mark", node("block", "sda", scsi_chain("ATA", usb=False),
                                       devtype="disk"), NOTHING),
    ("a SATA disk of vendor KMZ", node("block", "sda", scsi_chain("KMZ", 2, usb=False),
                                       devtype="disk"), NOTHING),
    ("a look-alike vendor KMZX", node("block", "sdf", scsi_chain("KMZX", 2), devtype="disk"),
     NOTHING),
    ("a look-alike vendor in lower case", node("block", "sdf", scsi_chain("kmz", 2),
                                               devtype="disk"), NOTHING),
    ("a vendor with the name inside", node("block", "sdf", scsi_chain("AKMZ", 2), devtype="disk"),
     NOTHING),
    ("a KMZ optical drive", node("block", "sr0", scsi_chain("KMZ", 2, "5"), devtype="disk"),
     NOTHING),
    ("the USB device itself", {**node("usb", "1-1", CAMERA[4:]),
                               "attrs": CAMERA[4]["attrs"]}, NOTHING),
]


def check(text, filename, helpers):
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
        with tempfile.TemporaryDirectory() as sysfs:
            for what, device, expected in CASES:
                got = apply(rules, device, helpers, sysfs)
                if got != expected:
                    failures.append(f"{what}: got {got}, expected {expected}")
    except RuleError as error:
        return failures + [str(error)]
    return failures


def variants(text):
    """Broken versions of the rule, each with what is wrong with it."""
    mark = 'SUBSYSTEM=="scsi_generic", ENV{ZELQUIN_INQUIRY_BYTE3}=="1"'
    yield "the node by vendor, not by the mark", text.replace(
        mark, 'SUBSYSTEM=="scsi_generic", SUBSYSTEMS=="scsi", ATTRS{vendor}=="KMZ"')
    yield "every SCSI generic node", text.replace(mark, 'SUBSYSTEM=="scsi_generic"')
    yield "the mark as a glob", text.replace('BYTE3}=="1"', 'BYTE3}=="1*"')
    yield "without the helper", text.replace('IMPORT{program}="zelquin-camera-mark %S%p"\n', "")
    yield "not only on USB", text.replace('SUBSYSTEMS=="usb", GOTO', "GOTO")
    yield "the storage disk left out", text.replace(
        'SUBSYSTEM=="block", SUBSYSTEMS=="scsi", ATTRS{type}=="0", ATTRS{vendor}=="KMZ", '
        'TAG+="uaccess"\n', "")
    yield "a vendor glob that takes look-alikes", text.replace('ATTRS{vendor}=="KMZ"', 'ATTRS{vendor}=="KMZ*"')
    yield "partitions too", text.replace('ENV{DEVTYPE}=="disk", ', "")
    yield "the vendor matched on another device than the type", text.replace(
        'ATTRS{type}=="0", ATTRS{vendor}', 'ATTRS{type}=="0", ATTR{vendor}')
    yield "a value without quotes", text.replace('MODE="0660"', "MODE=0660")
    yield "a GOTO to nowhere", text.replace('LABEL="zelquin_camera_end"', 'LABEL="elsewhere"')
    yield "on remove too", text.replace('ACTION!="add|change", GOTO="zelquin_camera_end"\n', "")


def main():
    path = sys.argv[1]
    with open(path, encoding="utf-8") as f:
        text = f.read()
    filename = os.path.basename(path)
    helpers = os.path.dirname(os.path.abspath(path))
    failures = check(text, filename, helpers)
    for failure in failures:
        print(f"FAIL: {failure}")
    for what, broken in variants(text):
        if broken == text:
            failures.append(what)
            print(f"FAIL: the variant '{what}' does not change the rule; the test is out of date")
        elif not check(broken, filename, helpers):
            failures.append(what)
            print(f"FAIL: the check misses a broken rule: {what}")
    if not check(text, "80-zelquin-camera.rules", helpers):
        failures.append("number")
        print("FAIL: the check misses a rule numbered after 73-seat-late.rules")
    print(f"{filename}: {len(CASES)} devices, {sum(1 for _ in variants(text)) + 1} broken "
          f"variants: {'ok' if not failures else f'{len(failures)} failures'}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
