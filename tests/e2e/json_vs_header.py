#!/usr/bin/env python3
"""Checks that a JSON document says what its C header says.

usage: json_vs_header.py HEADER JSON [HEADER JSON ...]

The header is parsed on its own terms: the banner, then one structure per
entry ("ALBank Name = { // Offset: 0x..."), value lines ("  <value>, //
<label>"), reference lines (a name), reference lists and predictor lists.
Structure n of the header is compared with element n of the document's
"structs": kind, name, offset, and every value line with the JSON value at
the label's path (a reference by the name of the entry its index leads to).
The document must hold no field the header lacks, the envelope's secondTime
excepted.

Header bytes are read as the document's strings are written: valid UTF-8 as
UTF-8, any other byte as the Latin-1 character of its value. Names must not
hold ", " or line ends (the header's lists could not be split).

Prints one line per mismatch and "agree: N pairs, M values" at the end;
exit status 1 on any mismatch.
"""
import json
import re
import sys

BANNER = {
    "Banks": "banks",
    "Instruments": "instruments",
    "Sounds": "sounds",
    "Reused References": "reusedRefs",
    "Struct Count": "structCount",
}
REFERENCES = {
    "percussion", "envelope", "keyMap", "wavetable",
    "waveInfo.adpcmWave.loop", "waveInfo.adpcmWave.book", "waveInfo.rawWave.loop",
}
REFERENCE_LISTS = {"banks", "insts", "sounds"}
OPENING = re.compile(r"^(AL\w+) (.*) = \{ // Offset: 0x([0-9A-F]+)$")
VALUE = re.compile(r"^  (.*), // (\S+)$")
LIST = re.compile(r"^  \{ // (\w+)$")


def decode(data):
    text = data.decode("utf-8", "surrogateescape")
    return "".join(chr(ord(c) - 0xDC00) if 0xDC80 <= ord(c) <= 0xDCFF else c for c in text)


def parse_header(text):
    """Gives (banner counters, structures); each structure is
    (type, name, offset, [(label, kind, value)]) with kind one of
    "value", "ref", "list", "numbers", "revision"."""
    lines = text.split("\n")
    banner = {}
    structs = []
    i = 0
    while i < len(lines):
        line = lines[i]
        i += 1
        m = re.match(r"^\|\*\| (.+?)\s+(-?\d+)$", line)
        if m and m.group(1) in BANNER:
            banner[BANNER[m.group(1)]] = int(m.group(2))
            continue
        m = OPENING.match(line)
        if not m:
            continue
        items = []
        structs.append((m.group(1), m.group(2), int(m.group(3), 16), items))
        while i < len(lines) and lines[i] != "};":
            line = lines[i]
            i += 1
            m = re.match(r"^  '(.*)', // revision$", line)
            if m:
                items.append(("revision", "revision", m.group(1)))
                continue
            m = LIST.match(line)
            if m:
                label = m.group(1)
                if label == "union":
                    continue  # its reference lines follow, then "},"
                body = []
                while True:
                    body.append(lines[i])
                    i += 1
                    if lines[i - 1].endswith("},"):
                        break
                text_items = " ".join(body)[: -len("},")]
                tokens = [t.strip() for t in text_items.split(", ")]
                tokens = [t for t in tokens if t]
                if label == "Predictors":
                    items.append(("predictors", "numbers", [int(t) for t in tokens]))
                else:
                    items.append((label, "list", tokens))
                continue
            if line == "},":
                continue
            m = VALUE.match(line)
            if not m:
                raise ValueError("unparsed header line: %r" % line)
            label, value = m.group(2), m.group(1).strip()
            if label in REFERENCES:
                items.append((label, "ref", value))
            else:
                items.append((label, "value", int(value)))
    return banner, structs


def flatten(fields, prefix=""):
    out = {}
    for key, value in fields.items():
        if isinstance(value, dict):
            out.update(flatten(value, prefix + key + "."))
        else:
            out[prefix + key] = value
    return out


def compare(header_path, json_path):
    with open(header_path, "rb") as f:
        banner, header_structs = parse_header(decode(f.read()))
    with open(json_path, encoding="utf-8") as f:
        doc = json.load(f)
    structs = doc["structs"]
    errors = []
    values = 0

    def name_of(index):
        return "NULL" if index is None else structs[index - 1]["name"]

    for key, value in banner.items():
        if doc["counters"][key] != value:
            errors.append("banner %s: header %d, json %d" % (key, value, doc["counters"][key]))
    if len(banner) != len(BANNER):
        errors.append("banner incomplete: %r" % banner)
    if len(header_structs) != len(structs):
        errors.append("%d structures in the header, %d in the json"
                      % (len(header_structs), len(structs)))

    for n, ((kind, name, offset, items), entry) in enumerate(zip(header_structs, structs), 1):
        where = "%s #%d (%s)" % (json_path, n, name)
        if (entry["index"], entry["kind"], entry["name"], entry["offset"]) != (n, kind, name, offset):
            errors.append("%s: entry %r vs header %r" % (where, (entry["index"], entry["kind"],
                          entry["name"], entry["offset"]), (n, kind, name, offset)))
            continue
        fields = flatten(entry["fields"])
        labels = set()
        for label, form, value in items:
            labels.add(label)
            values += 1
            if label not in fields:
                errors.append("%s: %s missing from the json" % (where, label))
                continue
            got = fields[label]
            if form == "revision":
                got = "".join(chr((got >> s) & 0xFF) for s in (8, 0))
            elif form == "ref":
                got = name_of(got)
            elif form == "list":
                got = [name_of(i) for i in got]
            if got != value:
                errors.append("%s: %s header %r json %r" % (where, label, value, got))
        extra = set(fields) - labels - ({"secondTime"} if kind == "ALEnvelope" else set())
        if extra:
            errors.append("%s: json fields not in the header: %s" % (where, sorted(extra)))
    return errors, values


def main(args):
    if len(args) < 2 or len(args) % 2:
        print(__doc__.split("\n\n")[1])
        return 2
    errors = []
    values = 0
    for header_path, json_path in zip(args[0::2], args[1::2]):
        e, v = compare(header_path, json_path)
        errors += e
        values += v
    for e in errors:
        print(e)
    print("agree: %d pairs, %d values" % (len(args) // 2, values) if not errors
          else "%d mismatches" % len(errors))
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
