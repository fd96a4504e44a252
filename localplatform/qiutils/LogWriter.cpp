#include "LogWriter.h"

boost::shared_ptr<CLogWriterInterface> g_ptrLogWriter;
