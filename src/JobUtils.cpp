#include "JobUtils.h"

int InitializeUMXClientLibrary() { return 0; }

int InitializeUMXClientLibrary(boost::shared_ptr<CLogWriterInterface> /*pLogWriter*/) {
  return 0;
}
