// The whole GUI toolkit in one include, for units that use most of it. A unit that needs a part
// includes that part's header instead, so that a change elsewhere does not rebuild it.
#pragma once

#include "toolkit/win/Application.h"
#include "toolkit/win/Bars.h"
#include "toolkit/win/Buttons.h"
#include "toolkit/win/Control.h"
#include "toolkit/win/Form.h"
#include "toolkit/win/Gdi.h"
#include "toolkit/win/InputControls.h"
#include "toolkit/win/MessageBox.h"
#include "toolkit/win/SelectDir.h"
#include "toolkit/win/StaticControls.h"
