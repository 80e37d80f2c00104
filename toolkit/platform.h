// The few operating-system services the plug-in needs outside drawing and windows.
#pragma once

#include <string>

// The folder of the loaded module containing `address`, with a trailing "/"; empty when unknown.
std::string ModuleFolderOf(const void* address);
