// gfx: placeholder until the module lands.
