#include "LogWriter.h"
