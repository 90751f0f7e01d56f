// effects: effect passes, asset tables, scene script.
