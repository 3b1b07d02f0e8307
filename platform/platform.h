// Everything the updater module may call on the camera.
#pragma once

#include "platform/bytes.h"
#include "platform/events.h"
#include "platform/files.h"
#include "platform/graphics.h"
#include "platform/hardware.h"
#include "platform/kernel.h"
#include "platform/params.h"
#include "platform/power.h"
#include "platform/resources.h"
#include "platform/sound.h"
#include "platform/types.h"
