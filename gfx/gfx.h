// gfx: window, bitmaps, framebuffers, shaders.
