// sound: placeholder until the module lands.
