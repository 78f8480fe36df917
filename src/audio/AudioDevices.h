#pragma once

// The audio input devices: the device value and the observable list.
#include "audio/AudioInputDevice.h"
#include "audio/AudioInputList.h"
