// effects/palette.h: the show's colours, listed once. The image generator
// paints with them and the shader pack step writes them as GLSL constants in
// front of every shader, so that a picture and a scene drawn in "orange" are
// drawn in the same orange.
//
// Header-only and free of every other header of the project, like assets.h:
// the image generator and the shader pack step include it without linking
// the engine.
//
// SPROX_PALETTE(X) rows: X(NAME, 0xRRGGBB, "r, g, b")
//   0xRRGGBB  the colour as the images use it (imagegen's IG_NAME);
//   "r, g, b" the same colour as the shaders read it, each channel written
//             out to a few decimal places: const vec3 NAME = vec3(r, g, b);
// The scenes were tuned against those exact decimals, so they are kept as
// written rather than computed from the hex: a channel written to two places
// in one scene and to three in another is two colours for the GPU, and the
// rows ending in _2DP are those two-place versions. Every channel of the text
// is its hex channel / 255 rounded to the places it is written with (the
// shader tests check this).
#pragma once

#define SPROX_PALETTE(X) \
  X(ORANGE, 0xFF7A00, "1.0, 0.478, 0.0")         /* soda orange, the deep end */ \
  X(AMBER, 0xFFB000, "1.0, 0.69, 0.0")           /* soda orange, the light end */ \
  X(EMBER, 0xD94E00, "0.851, 0.306, 0.0")        /* orange in shadow */ \
  X(FIZZ, 0xFFFBF2, "1.0, 0.984, 0.949")         /* fizz white, a touch warm */ \
  X(POOL_DEEP, 0x0B3D91, "0.043, 0.239, 0.569")  /* deep pool blue */ \
  X(POOL_LIGHT, 0x35A7FF, "0.208, 0.655, 1.0")   /* light pool blue */ \
  X(NAVY, 0x061E4A, "0.024, 0.118, 0.29")        /* the darkest blue, outlines and shadows */ \
  X(INK, 0x05070D, "0.02, 0.027, 0.051")         /* near black for silhouettes */ \
  /* The television scenes' fizz (fx_break, fx_intro, fx_empty): creamier. */ \
  X(FIZZ_CREAM, 0xFFF7E6, "1.0, 0.97, 0.9") \
  /* Palette colours as some scenes wrote them, to two places. */ \
  X(ORANGE_2DP, 0xFF7A00, "1.0, 0.48, 0.0")      /* fx_break, fx_intro, fx_empty */ \
  X(EMBER_2DP, 0xD94E00, "0.85, 0.306, 0.0")     /* fx_balls: red only */ \
  X(POOL_LIGHT_2DP, 0x35A7FF, "0.21, 0.65, 1.0") /* transition_bars2 */
