// effects: placeholder until the module lands.
