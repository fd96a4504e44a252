#include "QiError.h"
