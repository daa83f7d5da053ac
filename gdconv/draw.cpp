#include "gdconv/draw.h"

#include <math.h>

#include <algorithm>

void MakeCanvas(int32_t width, int32_t height, Canvas* canvas) {
  canvas->width = width;
  canvas->height = height;
  canvas->block.assign((size_t)width * (size_t)height * 3, 0);
}

// Row y from the top is row height - 1 - y of the block.
static uint8_t* At(Canvas* c, int32_t x, int32_t y) {
  return c->block.data() + ((size_t)(c->height - 1 - y) * (size_t)c->width + (size_t)x) * 3;
}

void SetPixel(Canvas* c, int32_t x, int32_t y, uint32_t rgb) {
  if (x < 0 || y < 0 || x >= c->width || y >= c->height) return;
  uint8_t* p = At(c, x, y);
  p[0] = (uint8_t)rgb;
  p[1] = (uint8_t)(rgb >> 8);
  p[2] = (uint8_t)(rgb >> 16);
}

uint32_t PixelAt(const Canvas& c, int32_t x, int32_t y) {
  const uint8_t* p = c.block.data() + ((size_t)(c.height - 1 - y) * (size_t)c.width + (size_t)x) * 3;
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16;
}

void FillRect(Canvas* c, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t rgb) {
  for (int32_t j = std::max(y, 0); j < std::min(y + h, c->height); j++)
    for (int32_t i = std::max(x, 0); i < std::min(x + w, c->width); i++) SetPixel(c, i, j, rgb);
}

void FillEllipse(Canvas* c, int32_t cx, int32_t cy, int32_t rx, int32_t ry, uint32_t rgb) {
  if (rx <= 0 || ry <= 0) return;
  for (int32_t dy = -ry; dy <= ry; dy++) {
    double t = 1.0 - (double)dy * dy / ((double)ry * ry);
    int32_t half = (int32_t)(rx * sqrt(t > 0 ? t : 0));
    FillRect(c, cx - half, cy + dy, 2 * half + 1, 1, rgb);
  }
}

void FillTriangle(Canvas* c, const int32_t xs[3], const int32_t ys[3], uint32_t rgb) {
  int32_t top = std::min({ys[0], ys[1], ys[2]}), bottom = std::max({ys[0], ys[1], ys[2]});
  for (int32_t y = top; y <= bottom; y++) {
    double lo = 1e9, hi = -1e9;
    for (int e = 0; e < 3; e++) {
      int32_t x0 = xs[e], y0 = ys[e], x1 = xs[(e + 1) % 3], y1 = ys[(e + 1) % 3];
      if ((y < y0) == (y < y1) && y != y0 && y != y1) continue;
      if (y0 == y1) {
        lo = std::min(lo, (double)std::min(x0, x1));
        hi = std::max(hi, (double)std::max(x0, x1));
        continue;
      }
      double x = x0 + (double)(y - y0) * (x1 - x0) / (y1 - y0);
      lo = std::min(lo, x);
      hi = std::max(hi, x);
    }
    if (lo <= hi) FillRect(c, (int32_t)lround(lo), y, (int32_t)lround(hi) - (int32_t)lround(lo) + 1, 1, rgb);
  }
}

static uint32_t Rgb(int r, int g, int b) {
  auto clamp = [](int v) { return (uint32_t)std::min(255, std::max(0, v)); };
  return clamp(r) << 16 | clamp(g) << 8 | clamp(b);
}

// Hue h in [0, 1) at full saturation and value.
static uint32_t Hue(double h) {
  double s = h * 6.0;
  int sector = (int)s % 6;
  int rise = (int)lround((s - floor(s)) * 255.0), fall = 255 - rise;
  switch (sector) {
    case 0: return Rgb(255, rise, 0);
    case 1: return Rgb(fall, 255, 0);
    case 2: return Rgb(0, 255, rise);
    case 3: return Rgb(0, fall, 255);
    case 4: return Rgb(rise, 0, 255);
    default: return Rgb(255, 0, fall);
  }
}

void DrawTestCard(Canvas* c) {
  const int32_t w = c->width, h = c->height;
  FillRect(c, 0, 0, w, h, 0x606060);
  for (int32_t x = 0; x < w; x += w / 16) FillRect(c, x, 0, 1, h, 0xA0A0A0);
  for (int32_t y = 0; y < h; y += h / 12) FillRect(c, 0, y, w, 1, 0xA0A0A0);
  // Colour bars: white, yellow, cyan, green, magenta, red, blue, black.
  static const uint32_t kBars[8] = {0xFFFFFF, 0xFFFF00, 0x00FFFF, 0x00FF00, 0xFF00FF, 0xFF0000, 0x0000FF, 0x000000};
  const int32_t bar_top = h / 8, bar_h = h / 4, bar_left = w / 8, bar_w = (w * 3 / 4) / 8;
  for (int i = 0; i < 8; i++) FillRect(c, bar_left + i * bar_w, bar_top, bar_w, bar_h, kBars[i]);
  // A grey ramp and a hue ramp under the bars.
  const int32_t ramp_w = bar_w * 8;
  for (int32_t i = 0; i < ramp_w; i++) {
    int v = (int)(i * 255 / (ramp_w - 1));
    FillRect(c, bar_left + i, bar_top + bar_h, 1, h / 16, Rgb(v, v, v));
    FillRect(c, bar_left + i, bar_top + bar_h + h / 16, 1, h / 16, Hue((double)i / ramp_w));
  }
  // A ring around the middle.
  const int32_t cx = w / 2, cy = h * 5 / 8, r = h / 4;
  FillEllipse(c, cx, cy, r, r, 0xE0E0E0);
  FillEllipse(c, cx, cy, r - 6, r - 6, 0x303060);
  // An "F": a flip in either direction turns it into something else.
  const int32_t fx = cx - r / 3, fy = cy - r / 2, stroke = r / 6;
  FillRect(c, fx, fy, stroke, r, 0xFFC000);
  FillRect(c, fx, fy, r * 2 / 3, stroke, 0xFFC000);
  FillRect(c, fx, fy + r / 2 - stroke / 2, r / 2, stroke, 0xFFC000);
  // Corners: red top left, green top right, blue bottom left, yellow bottom right.
  const int32_t s = h / 10;
  FillRect(c, 0, 0, s, s, 0xFF0000);
  FillRect(c, w - s, 0, s, s, 0x00FF00);
  FillRect(c, 0, h - s, s, s, 0x0000FF);
  FillRect(c, w - s, h - s, s, s, 0xFFFF00);
  // An arrow pointing up, left of the ring.
  const int32_t ax = w / 8 + s / 2, ay = h * 5 / 8;
  const int32_t xs[3] = {ax - s / 2, ax + s / 2, ax}, ys[3] = {ay, ay, ay - s};
  FillTriangle(c, xs, ys, 0xFFFFFF);
  FillRect(c, ax - s / 6, ay, s / 3, s, 0xFFFFFF);
}

void DrawGradients(Canvas* c) {
  const int32_t w = c->width, h = c->height;
  for (int32_t x = 0; x < w; x++) FillRect(c, x, 0, 1, h / 2, Hue((double)x / w));
  for (int32_t y = h / 2; y < h; y++) {
    int g = (int)((y - h / 2) * 255 / (h - h / 2 - 1));
    for (int32_t x = 0; x < w; x++) SetPixel(c, x, y, Rgb((int)(x * 255 / (w - 1)), g, 96));
  }
}

void DrawShapes(Canvas* c) {
  const int32_t w = c->width, h = c->height;
  FillRect(c, 0, 0, w, h, 0x204080);
  FillRect(c, 0, h * 3 / 4, w, h - h * 3 / 4, 0x308030);
  FillEllipse(c, w * 4 / 5, h / 5, h / 8, h / 8, 0xFFE040);
  FillRect(c, w / 10, h / 3, w / 4, h / 2, 0xC04040);
  FillRect(c, w / 10 + w / 16, h / 3 + h / 10, w / 12, h / 8, 0xF0F0F0);
  const int32_t roof_x[3] = {w / 10 - w / 40, w / 10 + w / 4 + w / 40, w / 10 + w / 8};
  const int32_t roof_y[3] = {h / 3, h / 3, h / 8};
  FillTriangle(c, roof_x, roof_y, 0x802020);
  FillEllipse(c, w / 2, h * 2 / 3, w / 8, h / 10, 0x40C0C0);
  FillEllipse(c, w * 3 / 4, h * 3 / 5, w / 10, h / 4, 0x208020);
  FillRect(c, w * 3 / 4 - w / 80, h * 3 / 5, w / 40, h / 4, 0x604020);
  for (int i = 0; i < 6; i++) {
    const int32_t x0 = w / 3 + i * w / 20;
    const int32_t xs[3] = {x0, x0 + w / 40, x0 + w / 80}, ys[3] = {h * 3 / 4, h * 3 / 4, h * 3 / 4 - h / 12};
    FillTriangle(c, xs, ys, 0xA0E060);
  }
  FillRect(c, 0, h - h / 20, w, h / 20, 0x000000);
}

// xorshift32: small, fast and the same everywhere.
static uint32_t Next(uint32_t* s) {
  uint32_t x = *s;
  x ^= x << 13;
  x ^= x >> 17;
  x ^= x << 5;
  return *s = x;
}

void DrawScene(Canvas* c, SceneKind kind, uint32_t seed) {
  uint32_t s = seed * 2654435761u + 0x9E3779B9u;
  if (!s) s = 1;
  const int32_t w = c->width, h = c->height;
  uint32_t palette[8];
  for (uint32_t& p : palette) p = Next(&s) & 0xFFFFFF;
  switch (kind) {
    case kSceneFlat:
      FillRect(c, 0, 0, w, h, palette[0]);
      break;
    case kSceneNoise:
      for (uint8_t& b : c->block) b = (uint8_t)(Next(&s) >> 24);
      break;
    case kSceneShapes:
      FillRect(c, 0, 0, w, h, palette[0]);
      for (int i = 0; i < 24; i++) {
        uint32_t colour = palette[Next(&s) % 8];
        int32_t x = (int32_t)(Next(&s) % (uint32_t)w), y = (int32_t)(Next(&s) % (uint32_t)h);
        int32_t a = 1 + (int32_t)(Next(&s) % (uint32_t)(w / 4 + 1)), b = 1 + (int32_t)(Next(&s) % (uint32_t)(h / 4 + 1));
        if (Next(&s) & 1)
          FillRect(c, x, y, a, b, colour);
        else
          FillEllipse(c, x, y, a, b, colour);
      }
      break;
    case kSceneStripes: {
      int32_t period = 2 + (int32_t)(Next(&s) % 40);
      int32_t slant = (int32_t)(Next(&s) % 5) - 2;  // columns per row
      for (int32_t y = 0; y < h; y++)
        for (int32_t x = 0; x < w; x++) {
          int32_t k = ((x + slant * y) % (period * 4) + period * 4) % (period * 4);
          SetPixel(c, x, y, palette[k / period]);
        }
      break;
    }
    case kSceneGradient: {
      int dx = 1 + (int)(Next(&s) % 4), dy = 1 + (int)(Next(&s) % 4);
      for (int32_t y = 0; y < h; y++)
        for (int32_t x = 0; x < w; x++) SetPixel(c, x, y, Rgb(x / dx, y / dy, (x + y) / (dx + dy)));
      break;
    }
    case kSceneDots:
      FillRect(c, 0, 0, w, h, palette[0]);
      for (int i = 0; i < 2000; i++)
        SetPixel(c, (int32_t)(Next(&s) % (uint32_t)w), (int32_t)(Next(&s) % (uint32_t)h), palette[1 + Next(&s) % 7]);
      break;
    case kSceneWhiteHeavy:
      FillRect(c, 0, 0, w, h, 0xFFFFFF);
      for (int i = 0; i < 12; i++)
        FillRect(c, (int32_t)(Next(&s) % (uint32_t)w), (int32_t)(Next(&s) % (uint32_t)h), 1 + (int32_t)(Next(&s) % 60),
                 1 + (int32_t)(Next(&s) % 60), palette[Next(&s) % 8]);
      break;
    case kSceneKinds:
      break;
  }
}
