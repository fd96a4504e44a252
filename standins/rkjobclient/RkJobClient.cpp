#include "RkJobClient.h"
