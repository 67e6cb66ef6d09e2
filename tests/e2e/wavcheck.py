#!/usr/bin/env python3
"""Independent check of ZAFT's WAV files.

Reads a JSON list of expectations, opens every WAV file with Python's own
`wave` module, and compares its format and samples with what this script
decodes itself from the wave's stored bytes: big-endian 16-bit samples for a
raw wave, 9-byte VADPCM frames decoded through the given codebook for an
ADPCM wave. Prints "ok N" or the first mismatch, and exits non-zero on any.

Each expectation: {"file": path, "rate": int, "type": 0 or 1,
                   "data": hex string of the wave's bytes,
                   "book": [16 * npredictors ints] (ADPCM only)}
"""
import json
import struct
import sys
import wave


def decode_vadpcm(data, book):
    """Decode whole frames of `data` with `book` (lists of 16 coefficients)."""
    out = []
    hist = [0] * 8
    nibble = [0, 1, 2, 3, 4, 5, 6, 7, -8, -7, -6, -5, -4, -3, -2, -1]
    for f in range(0, len(data), 9):
        frame = data[f:f + 9]
        if len(frame) < 9:
            frame = frame + bytes(9 - len(frame))
        scale = min(frame[0] >> 4, 12)
        p = frame[0] & 0x0F
        coef = book[16 * p:16 * p + 16] if 16 * p + 16 <= len(book) else [0] * 16
        for half in (frame[1:5], frame[5:9]):
            res = []
            for byte in half:
                res.append(nibble[byte >> 4] << scale)
                res.append(nibble[byte & 15] << scale)
            h6, h7 = hist[6], hist[7]
            samples = []
            for i in range(8):
                acc = coef[i] * h6 + coef[8 + i] * h7
                for k in range(i):
                    acc += coef[7 + i - k] * res[k]
                acc += res[i] * 2048
                y = acc >> 11  # Python's >> floors, like an arithmetic shift
                samples.append(max(-32768, min(32767, y)))
            hist = samples
            out.extend(samples)
    return out


def expected_samples(exp):
    data = bytes.fromhex(exp["data"])
    if exp["type"] == 0:
        return decode_vadpcm(data, exp.get("book", []))
    even = len(data) - len(data) % 2
    return list(struct.unpack(">%dh" % (even // 2), data[:even]))


def main():
    with open(sys.argv[1]) as handle:
        expectations = json.load(handle)
    for exp in expectations:
        with wave.open(exp["file"], "rb") as w:
            if w.getnchannels() != 1 or w.getsampwidth() != 2:
                print("%s: %d channels, width %d" % (exp["file"], w.getnchannels(), w.getsampwidth()))
                return 1
            if w.getframerate() != exp["rate"]:
                print("%s: rate %d, expected %d" % (exp["file"], w.getframerate(), exp["rate"]))
                return 1
            frames = w.getnframes()
            raw = w.readframes(frames)
        got = list(struct.unpack("<%dh" % frames, raw))
        want = expected_samples(exp)
        if len(got) != len(want):
            print("%s: %d samples, expected %d" % (exp["file"], len(got), len(want)))
            return 1
        for i, (g, e) in enumerate(zip(got, want)):
            if g != e:
                print("%s: sample %d is %d, expected %d" % (exp["file"], i, g, e))
                return 1
    print("ok %d" % len(expectations))
    return 0


if __name__ == "__main__":
    sys.exit(main())
