#include "RkPlatform.h"
