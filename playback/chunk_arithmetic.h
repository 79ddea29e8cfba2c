// How the output stream slices the voice's PCM into chunks for the player, and what it keeps of a
// DSP result. No platform calls here.
#pragma once

#include <cstdint>

constexpr int CHUNK_FRAMES = 576;
// The largest frame playback configures: 16-bit stereo.
constexpr int MAX_PCM_FRAME_BYTES = 4;
// Bytes of the DSP hand-over buffer: twice the largest chunk (1152 frames of 16-bit stereo).
constexpr int DSP_BUFFER_SIZE = 2 * (2 * CHUNK_FRAMES * MAX_PCM_FRAME_BYTES);

// Bytes of one chunk: 576 frames, 1152 while a DSP is active. A frame size of 0 (a compressed format)
// counts as one byte, so the chunking still advances.
int ChunkBytes(int frameSize, bool dspActive);

// Bytes of the chunk that starts at offset (at most size) in a block of size bytes: chunkBytes (from
// ChunkBytes, so positive), or what is left when that is less. A block of 0 bytes still makes one
// chunk of 0 bytes.
int NextChunkLength(int chunkBytes, uint32_t size, uint32_t offset);

// Bytes the output should receive for a DSP result, kept inside the DSP buffer: the returned frame
// count times the frame size, never negative and never more than the buffer holds in whole frames.
int DspResultBytes(int returnedFrames, int frameSize);
