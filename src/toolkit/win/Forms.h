// The whole GUI toolkit in one include, for units that use most of it. A unit that needs a part
// includes that part's header instead, so that a change elsewhere does not rebuild it.
#pragma once

#include "Application.h"
#include "Bars.h"
#include "Buttons.h"
#include "Control.h"
#include "Form.h"
#include "Gdi.h"
#include "InputControls.h"
#include "MessageBox.h"
#include "SelectDir.h"
#include "StaticControls.h"
