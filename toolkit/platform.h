// The few operating-system services the plug-in needs outside drawing and windows.
#pragma once

#include <span>
#include <string>

// The folder of the loaded module containing `address`, in UTF-8 with a trailing separator; empty when
// unknown.
std::string ModuleFolderOf(const void* address);

// The bytes of picture `number` embedded in the plug-in (0 knob, 1 background, 2 configuration page):
// compiled-in arrays under X11, resources of type "DATA" in the DLL on Windows. Empty when there is none.
std::span<const unsigned char> EmbeddedPicture(int number);
