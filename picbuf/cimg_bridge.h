// The bridge between picture buffers and CImg images, for the engines only
// (CImg's names clash with the Windows headers, so the editor never sees
// this header). Planes are one-component picture buffers; their working
// images are CImg<float> holding the raw sample values.
#pragma once

#include "cimg_config.h"
#include "picbuf.h"

using CImgF = cimg_library::CImg<float>;

// A grey one-component copy of picture at its own depth (8 bits for an
// 8-bit picture, 16 otherwise). guide is (re)allocated; false when memory is short.
bool MakeGuidePlane(SBxPicBuf& guide, const SBxPicBuf& picture);

// The plane's samples as a (width, height, 1, 1) float image, values unchanged.
CImgF ImportPlane(const SBxPicBuf& plane);

// Writes image back into plane (which has the image's size) by truncation
// toward zero, keeping the low 8 or 16 bits.
void ExportPlane(const CImgF& image, SBxPicBuf& plane);

// CImg's diffusion tensors (anisotropy 1, square-root form) of a one-channel
// image or of a plane at its own depth: a (width, height, 1, 3) field.
CImgF ComputeDiffusionTensors(const CImgF& image, float sharpness, float alpha, float sigma);
CImgF ComputeDiffusionTensors(const SBxPicBuf& plane, float sharpness, float alpha, float sigma);

// Tensor-driven anisotropic smoothing in place with the program's fixed
// constants (amplitude 200, dl 0.8, da 30, gauss_prec 2, nearest
// neighbour, fast approximation). image may have several channels: all are
// smoothed along the same streamlines.
void SmoothAlongTensors(CImgF& image, const CImgF& field);

// The part of field with inclusive corners (x0, y0) and (x1, y1).
CImgF CropTensorField(const CImgF& field, int x0, int y0, int x1, int y1);
