// The window's animation: the "TesselClip" class plays frames of a strip
// bitmap (frames side by side) on a timer, centred in the control. Our own
// small player, so that the clip is an ordinary bitmap resource rendered
// from the same drawing as the Linux window's.
#pragma once

#include <windows.h>

namespace tessel {

bool RegisterClipClass(HINSTANCE instance);

// Opens the strip bitmap `resource` of `frames` frames; plays frames
// from..to over and over; Stop leaves the current frame; Close blanks it.
bool ClipOpen(HWND clip, int resource, int frames);
void ClipPlay(HWND clip, int from, int to, int frameMs);
void ClipStop(HWND clip);
void ClipClose(HWND clip);

}  // namespace tessel
