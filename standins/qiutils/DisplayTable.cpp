#include "DisplayTable.h"
