// Everything the editor needs from the windowing toolkit.
#pragma once

#include "toolkit/aeffguieditor.h"
#include "toolkit/base.h"
#include "toolkit/bitmap.h"
#include "toolkit/drawcontext.h"
#include "toolkit/font.h"
#include "toolkit/frame.h"
#include "toolkit/geometry.h"
#include "toolkit/view.h"
