#!/usr/bin/env python3
"""Prints every event of MIDI files as mido reads them, one line each:
   FILE TRACK TICK EVENT  (absolute ticks; channel events with their channel)
then 'order-ok' or 'order-bad' per track: whether note-offs come before
note-ons at every tick. Usage: midicheck.py FILE..."""
import sys
import mido

for path in sys.argv[1:]:
    mid = mido.MidiFile(path)
    print(path, "type", mid.type, "tracks", len(mid.tracks), "division", mid.ticks_per_beat)
    for t, track in enumerate(mid.tracks):
        tick = 0
        ok = True
        last_tick, seen_on = -1, False
        for msg in track:
            tick += msg.time
            if tick != last_tick:
                last_tick, seen_on = tick, False
            off = msg.type == "note_off" or (msg.type == "note_on" and msg.velocity == 0)
            if msg.type == "note_on" and msg.velocity > 0:
                seen_on = True
            elif off and seen_on:
                ok = False
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
