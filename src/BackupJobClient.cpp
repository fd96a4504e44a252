#include "BackupJobClient.h"
