// demo/screen.h: the driver's screen, inside the demo library: the window
// it opens, the render size of the three framebuffers and the letterbox the
// picture is shown in. demo.cpp calls these; demo.h has the public part.
//
// Threads: main thread only.
#pragma once

// Opens the window demo_setup asks for (a window, or full screen on a
// monitor). Returns 0, or -1 as GFX_InitVideo does.
int Screen_Open();
// After the window is open: takes its framebuffer size, follows it from now
// on and fixes the first render size. Ends the program (status 2) when a
// render size asked for is beyond what the driver can draw.
void Screen_Start();
// Once a frame before the scenes: applies a new window size or full-screen
// switch (new letterbox; framebuffers re-sized in place when the render size
// follows the screen). Costs nothing when nothing changed.
void Screen_Update();
// Binds the window and sets the viewport to the letterbox, clearing the bars
// around it when there are any.
void Screen_ShowPicture();
