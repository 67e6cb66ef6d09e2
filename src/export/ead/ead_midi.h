// The music of the EAD driver: one sequence as a Standard MIDI File.
//
// A format-1 file of division 48, one MIDI tick a tick of the driver. Its
// first track holds the sequence's banks as a Text event (when given), the
// tempo (FF 51), the sequence's volume (the universal Master Volume
// SysEx) and a Marker at each start and end of the sequence script's loops.
// Then one track per channel that plays a note, in channel order, on its
// own MIDI channel (EAD channel 0 to 15): each note at the console's tick
// with its velocity and a note-off (velocity 64) when the console ends it,
// program changes (the instrument slot), bank select (controller 0),
// volume (7), volume scale (11), pan (10) and effects send (91) where the
// script sets them and, on the channel's allocation, the console's state of
// a fresh channel (its default bank, volume 127, centre pan, no effects).
//
// Drums: the player plays its bank's drums on a channel once the script
// selects instrument 0x7F, and instruments again on the next program. That
// selection has no program change of its own: the track gets a Text event
// "drums" there and its program is left as it was; its notes are the drums'
// keys (drum n on key n + 21, as in the soundfont, whose drums are preset
// bank 128, program = the bank).
//
// Bank select: the script names a bank by its place in the sequence's set,
// counted from the set's end (0: the default bank). Given the set (the
// banks in table order, the default last), controller 0 carries the bank's
// number, the soundfont's preset bank; without it, that place.
//
// Loops are written as the console's sequence tools write them (see
// export/midi_file.h), numbered per track in order of their starts, each
// with a Marker: a channel's and its layers' on its track; the sequence
// script's on the first track as Markers, and (controllers and Markers) on
// every channel's track when its looped part starts channels (the song's loop).
// At one tick, note-offs come first, then loop ends, loop starts, and the
// rest in the console's order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "export/libultra/midi_export.h"

namespace zaft {

MidiSequence eadSequenceToMidi(const uint8_t* seq, int64_t len, const std::string& bankText,
                               int64_t maxFileBytes = INT64_MAX, const std::vector<int>& bankSet = {});

}  // namespace zaft
