#include "CommonArguments.h"
