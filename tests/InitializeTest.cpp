#include <gtest/gtest.h>
#include <boost/make_shared.hpp>

#include "JobUtils.h"
#include "TestSupport.h"

namespace {

using umx_test::RecordingLogWriter;
using umx_test::ScopedLogWriter;

TEST(InitializeUMXClientLibrary, ReturnsZeroOnEveryCall) {
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(InitializeUMXClientLibrary(), 0);
    EXPECT_EQ(InitializeUMXClientLibrary(boost::shared_ptr<CLogWriterInterface>()), 0);
  }
}

TEST(InitializeUMXClientLibrary, NeitherInstallsNorKeepsTheSink) {
  auto installed = boost::make_shared<RecordingLogWriter>();
  ScopedLogWriter scope(installed);
  auto offered = boost::make_shared<RecordingLogWriter>();
  const long nUses = offered.use_count();

  EXPECT_EQ(InitializeUMXClientLibrary(offered), 0);

  EXPECT_EQ(offered.use_count(), nUses);
  EXPECT_EQ(g_ptrLogWriter.get(), installed.get());
}

}  // namespace
