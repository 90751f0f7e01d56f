// timeline: placeholder until the module lands.
