// The "IPAddr" window class: the IP address entry control of the Win32
// window, four edit fields and three dots, a thin view over the shared
// control rules (controls/ipaddr_rules.h), so that it behaves key for key
// as the Linux window's control does. The parent speaks to it with the
// IPAM_* messages; field n is a child with the number n.
#pragma once

#include <windows.h>

#include <string>

namespace tessel {

// Registers the class once; false when the system refused it.
bool RegisterIPAddrClass(HINSTANCE instance);

// The field window with the number 1 to 4, or null.
HWND IPAddrField(HWND control, int n);

// What a screen reader says for field n ("IP address, field 2 of 4"): each
// field answers WM_GETOBJECT with the system's object for an edit field
// carrying this name.
std::wstring FieldAccessibleName(int n);

}  // namespace tessel
