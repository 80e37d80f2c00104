#include "shell/editor_factory.h"

AEffEditor* CreateEditor(CVeST*, int32_t, int32_t) {
    return nullptr;
}
