// The bridge between picture buffers and CImg images, for the engines only
// (CImg's names clash with the Windows headers, so the editor never sees
// this header). Planes are one-component picture buffers; their working
// images are CImg<float> holding the raw sample values.
//
// Depths: an 8-bit buffer has 8-bit samples, a 32-bit buffer float samples,
// any other depth 16-bit samples. Buffers are read and written row by row
// with their own pitch.
//
// Abort: the long operations (ComputeDiffusionTensors, SmoothAlongTensors)
// poll abortRequested inside their loops and, when it is set, return early
// with an unusable result; they never throw CImgAbortException. Callers
// poll the flag afterwards and stop. CImg's CImgInstanceException (memory
// short) passes through everything here.
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
// toward zero, keeping the low 8 or 16 bits (254.9 -> 254, -1.5 -> 255 at
// 8 bits); a float plane takes the values unchanged. An image of another
// size than the plane writes nothing.
void ExportPlane(const CImgF& image, SBxPicBuf& plane);

// All components of picture as one (width, height, 1, components) float
// image, and back with ExportPlane's truncation. Smoothing all components in
// one SmoothAlongTensors call traces each streamline once for all of them
// and gives exactly the samples of one call per plane.
CImgF ImportPicture(const SBxPicBuf& picture);
void ExportPicture(const CImgF& image, SBxPicBuf& picture);

// CImg's diffusion tensors (anisotropy 1, square-root form), bit for bit
// those of get_diffusion_tensors(sharpness, 1, alpha, sigma, true), of an
// image or of a plane at its own depth: a (width, height, 1, 3) field. The
// abort flag is polled between the passes and after every row of the
// per-pixel tensor pass; an aborted field is incomplete or empty. Several
// channels are summed in channel order, so that the field does not depend
// on the number of threads.
CImgF ComputeDiffusionTensors(const CImgF& image, float sharpness, float alpha, float sigma);
CImgF ComputeDiffusionTensors(const SBxPicBuf& plane, float sharpness, float alpha, float sigma);

// Tensor-driven anisotropic smoothing in place with the program's fixed
// constants (amplitude 200, dl 0.8, da 30, gauss_prec 2, nearest
// neighbour, fast approximation). image may have several channels: all are
// smoothed along the same streamlines. field has the image's width and
// height (CImgArgumentException otherwise).
// The samples are CImg's blur_anisotropic with those constants, to the bit;
// an aborted call leaves the image as it was.
void SmoothAlongTensors(CImgF& image, const CImgF& field);

// SmoothAlongTensors computed for the pixels of inside only, bit for bit
// the same samples there; streamlines still run over the whole image and
// results are clamped to the whole image's range. The pixels outside keep
// their values. Lets a tile skip the work on its margins, which only serve
// as context. An aborted call always leaves the image as it was.
void SmoothAlongTensorsInside(CImgF& image, const CImgF& field, const CBxRect& inside);

// The part of field with inclusive corners (x0, y0) and (x1, y1); parts
// outside the field are zero. An empty field gives an empty crop.
CImgF CropTensorField(const CImgF& field, int x0, int y0, int x1, int y1);
