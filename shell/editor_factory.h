#pragma once

#include <cstdint>

class AEffEditor;
class CVeST;

// The panel's editor for a wrapper, or null where this build has none.
AEffEditor* CreateEditor(CVeST* wrapper, int32_t width, int32_t height);
