#!/usr/bin/env python3
"""Prints every event of MIDI files as mido reads them, one line each:
   FILE TRACK TICK EVENT  (absolute ticks; channel events with their channel)
then 'order-ok' or 'order-bad' per track: whether every note-off ends a
sounding note and, at each tick, comes before a note-on of its key unless it
ends that very note (one of duration 0). Usage: midicheck.py FILE..."""
import sys
import mido

for path in sys.argv[1:]:
    mid = mido.MidiFile(path)
    print(path, "type", mid.type, "tracks", len(mid.tracks), "division", mid.ticks_per_beat)
    for t, track in enumerate(mid.tracks):
        tick = 0
        ok = True
        sounding = {}  # (channel, key) -> start ticks, oldest first
        for msg in track:
            tick += msg.time
            off = msg.type == "note_off" or (msg.type == "note_on" and msg.velocity == 0)
            if msg.type == "note_on" and msg.velocity > 0:
                sounding.setdefault((msg.channel, msg.note), []).append(tick)
            elif off:
                starts = sounding.get((msg.channel, msg.note), [])
                # An older note of the key still sounds while one began at
                # this tick: the note-off came after the new note-on.
                if not starts or (starts[0] < tick and starts[-1] == tick):
                    ok = False
                if starts:
                    starts.pop(0)
            if msg.type == "note_on":
                text = f"note_on {msg.channel} {msg.note} {msg.velocity}"
            elif msg.type == "note_off":
                text = f"note_off {msg.channel} {msg.note} {msg.velocity}"
            elif msg.type == "control_change":
                text = f"cc {msg.channel} {msg.control} {msg.value}"
            elif msg.type == "program_change":
                text = f"program {msg.channel} {msg.program}"
            elif msg.type == "pitchwheel":
                text = f"pitchwheel {msg.channel} {msg.pitch}"
            elif msg.type == "aftertouch":
                text = f"aftertouch {msg.channel} {msg.value}"
            elif msg.type == "polytouch":
                text = f"polytouch {msg.channel} {msg.note} {msg.value}"
            elif msg.type == "set_tempo":
                text = f"tempo {msg.tempo}"
            elif msg.type == "marker":
                text = f"marker {msg.text}"
            elif msg.type == "end_of_track":
                text = "end"
            else:
                text = msg.type
            print(path, t, tick, text)
        print(path, t, "order-ok" if ok else "order-bad")
