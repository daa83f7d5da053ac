// Pictures drawn by our own code, for the samples and the tests. Each fills
// a pixel block (B, G, R; the first row of the block is the bottom row of
// the picture) of width x height; coordinates below count from the top left,
// as the picture is seen.
#ifndef VESK_GDCONV_DRAW_H
#define VESK_GDCONV_DRAW_H

#include <stdint.h>

#include <vector>

struct Canvas {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> block;
};

void MakeCanvas(int32_t width, int32_t height, Canvas* canvas);

// Colours are given as 0xRRGGBB. Everything clips at the canvas's edges.
void SetPixel(Canvas* c, int32_t x, int32_t y, uint32_t rgb);
uint32_t PixelAt(const Canvas& c, int32_t x, int32_t y);
void FillRect(Canvas* c, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t rgb);
void FillEllipse(Canvas* c, int32_t cx, int32_t cy, int32_t rx, int32_t ry, uint32_t rgb);
void FillTriangle(Canvas* c, const int32_t xs[3], const int32_t ys[3], uint32_t rgb);

// A test card: colour bars, grey and colour ramps, a grid, a circle, an
// asymmetric "F" in the middle and a coloured square in each corner (red top
// left, green top right, blue bottom left, yellow bottom right), so that a
// flip or a swapped channel shows at a glance.
void DrawTestCard(Canvas* c);
// Smooth colour: a rainbow across the top half (every column one colour),
// red rising to the right and green downwards in the bottom half.
void DrawGradients(Canvas* c);
// Flat-colour shapes on a plain ground, a dozen colours in all.
void DrawShapes(Canvas* c);

// Kinds of picture for property tests, each drawn from a seed.
enum SceneKind {
  kSceneFlat,        // one colour
  kSceneNoise,       // every byte random
  kSceneShapes,      // random flat shapes in few colours
  kSceneStripes,     // vertical and slanted stripes
  kSceneGradient,    // smooth two-axis ramp
  kSceneDots,        // sparse single pixels on a ground
  kSceneWhiteHeavy,  // mostly pure white with coloured marks
  kSceneKinds,
};
void DrawScene(Canvas* c, SceneKind kind, uint32_t seed);

#endif
