/*\
|*|
|*| Banks                   1
|*| Instruments             1
|*| Sounds                  1
|*| Reused References       0
|*| Struct Count            9
\*/

ALBankFile File = { // Offset: 0x0B8A40
  'B1', // revision
           1, // bankCount
  { // banks
        Bank, },
};

ALBank Bank = { // Offset: 0x0B8A50
           1, // instCount
           0, // flags
           0, // pad
       22050, // sampleRate
        NULL, // percussion
  { // insts
      Inst00, },
};

ALInstrument Inst00 = { // Offset: 0x0B8A60
         127, // volume
          64, // pan
           5, // priority
           0, // flags
           0, // tremType
           0, // tremRate
           0, // tremDepth
           0, // tremDelay
           0, // vibType
           0, // vibRate
           0, // vibDepth
           0, // vibDelay
         200, // bendRange
           1, // soundCount
  { // sounds
   Sound0000, },
};

ALSound Sound0000 = { // Offset: 0x0B8A80
    Envp0000, // envelope
    Keym0000, // keyMap
    Wave0000, // wavetable
          64, // samplePan
         127, // sampleVolume
           0, // flags
};

ALEnvelope Envp0000 = { // Offset: 0x0B8A90
           0, // attackTime
       50000, // releaseTime
         127, // attackVolume
         100, // decayVolume
};

ALKeyMap Keym0000 = { // Offset: 0x0B8AA0
           0, // velocityMin
         127, // velocityMax
           0, // keyMin
         127, // keyMax
          60, // keyBase
          -5, // detune
};

ALWaveTable Wave0000 = { // Offset: 0x0B8AB0
        1024, // base
        4608, // len
           0, // type
           0, // flags
  { // union
    Loop0000, // waveInfo.adpcmWave.loop
    Book0000, // waveInfo.adpcmWave.book
},
};

ALADPCMloop Loop0000 = { // Offset: 0x0B8AD0
         128, // start
        8000, // end
          -1, // count
};

ALADPCMBook Book0000 = { // Offset: 0x0B8B00
           2, // order
           1, // npredictors
  { // Predictors
  -1234, +2048,    +0,    -7,   +15,  +300, -32768, +32767, 
     +5,    -5,   +99,   -99, +1000, -1000,   +12,   -12, },
};

