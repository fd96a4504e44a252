#include "RkLocalPlatform.h"
