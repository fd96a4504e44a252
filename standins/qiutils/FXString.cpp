#include "FXString.h"
