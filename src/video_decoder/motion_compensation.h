// Motion-compensated prediction kernels (see PredictFn in dsp.h) and the store of inverse-DCT
// output into the picture.
#pragma once

#include <cstddef>
#include <cstdint>

#include "video_decoder/dsp.h"

namespace calvex::video_decoder {

// Plain versions, [average][size][half mode] as in DecoderDsp::predict.
extern const PredictFn kPredictReference[2][2][4];
extern const PredictFn kPredictSse2[2][2][4];

void IdctPutReference(std::int16_t* block, std::uint8_t* dst, std::ptrdiff_t stride);
void IdctAddReference(std::int16_t* block, std::uint8_t* dst, std::ptrdiff_t stride);
void SinglePutReference(int position, int value, std::uint8_t* dst, std::ptrdiff_t stride);
void SingleAddReference(int position, int value, std::uint8_t* dst, std::ptrdiff_t stride);

void InverseDctSse2(std::int16_t* block);
void IdctPutSse2(std::int16_t* block, std::uint8_t* dst, std::ptrdiff_t stride);
void IdctAddSse2(std::int16_t* block, std::uint8_t* dst, std::ptrdiff_t stride);
void SinglePutSse2(int position, int value, std::uint8_t* dst, std::ptrdiff_t stride);
void SingleAddSse2(int position, int value, std::uint8_t* dst, std::ptrdiff_t stride);

}  // namespace calvex::video_decoder
