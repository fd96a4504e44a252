#include "CommandLineArguments.h"
