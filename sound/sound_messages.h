// sound messages: every line the sound system, the driver and the outputs
// print, in one place.
//
// The lines of the sound system's own protocol (start-up, loading, the
// driver's progress and its one failure) and the start-up line that names the
// output in use ("AUDIO: output: ...") are kept exactly as they are; the lines
// this implementation adds begin with the module's name, "sound: ". Each
// message carries its own line breaks.
//
// Threads: any; these are constants.
#pragma once

// ---- Sound system ------------------------------------------------------------------

constexpr const char* kMsgBufferLength = "soundsystem bufferlength = %d\n";  // frames per buffer
constexpr const char* kMsgLoadingSound = "Loading sound %s\n";               // the file name
constexpr const char* kMsgNoMixBuffer = "sound: no memory for the mix buffer\n";
constexpr const char* kMsgNoStream = "sound: cannot create a stream of %d frames\n";
constexpr const char* kMsgNotPlayable = "sound: sound without playable data not played\n";
// Standard error, when the playback clock reaches the end of music that runs
// on: seconds and frame of its end.
constexpr const char* kMsgMusicEnded = "sound: the music ended at %.1f s (frame %llu); its clock runs on in silence\n";

// ---- WAV files -------------------------------------------------------------------------

constexpr const char* kMsgNoWav = "No WAV file";        // no line break follows
constexpr const char* kMsgNotPcm = "Not PCM signed";    // no line break follows
// A refusal of ours: the file's name, then one of the reasons below.
constexpr const char* kMsgWavRefused = "sound: WAV file %s: %s\n";
constexpr const char* kMsgWavNoMemory = "sound: WAV file %s: no memory for %u bytes\n";  // saving
constexpr const char* kWhyBits = "%u bits per sample not supported";
constexpr const char* kWhyDataPastEnd = "data runs past the end of the file";
constexpr const char* kWhyNoFrames = "no sample frames";
constexpr const char* kWhyNoMemory = "no memory for %u bytes";
constexpr const char* kWhyRate = "sample rate of %u Hz is outside %u to %u Hz";
constexpr const char* kWhyShort = "shorter than its %d-byte header";
// The reasons of the refusals that print the format's own line, or none.
constexpr const char* kWhyNoFile = "not found";
constexpr const char* kWhyNoWav = "not a RIFF/WAVE file";
constexpr const char* kWhyNoFormat = "no \"fmt \" chunk at byte 12";
constexpr const char* kWhyNotPcm = "not PCM (format tag %u)";
constexpr const char* kWhyNoData = "no \"data\" chunk at byte 36 (other chunks before it are not read)";
constexpr const char* kMsgWavTooLarge = "sound: WAV file %s: %u bytes are too many to save\n";

// ---- Driver ---------------------------------------------------------------------------

constexpr const char* kMsgSizes = "sample size: %d\nbuffer size: %d\n";  // bytes per frame, bytes per slot
constexpr const char* kMsgOpenOutput = "open waveout\n";
constexpr const char* kMsgDeviceOpened = "AUDIO: opening audio device succesful!\n";
constexpr const char* kMsgOpenSlots = "open wav-buffers\n";
constexpr const char* kMsgSlotError = "AUDIO: error opening audio buffer\n";
constexpr const char* kMsgDriverStarted = "audiodriver inited\n";

// ---- Outputs ----------------------------------------------------------------------------

constexpr const char* kMsgOutputSilent = "AUDIO: output: silent\n";
constexpr const char* kMsgOutputManual = "AUDIO: output: manual\n";
constexpr const char* kMsgOutputAlsa = "AUDIO: output: ALSA \"%s\"\n";  // the PCM's name
constexpr const char* kMsgOutputWeb = "AUDIO: output: Web Audio\n";
constexpr const char* kMsgOutputNoDevice = "AUDIO: output: silent (no sound device)\n";
constexpr const char* kMsgOutputWaveout = "AUDIO: output: waveOut\n";
// The waveOut output's failure: what failed, then as ALSA's.
constexpr const char* kMsgWaveoutFailed = "sound: waveOut output failed (%s), going on without sound\n";
constexpr const char* kMsgAlsaFailed = "sound: ALSA output failed (%s), going on without sound\n";  // ALSA's reason
