// The module the toolkit's code lives in, for registering window classes and finding resources; included
// only by toolkit sources on Windows.
#pragma once

#include <windows.h>

// The instance handle kept when the system attached the DLL; in a program that links the toolkit
// directly, the module holding this code.
HINSTANCE ModuleInstance();
