#include <gtest/gtest.h>
#include <boost/make_shared.hpp>

#include "JobUtils.h"
#include "TestSupport.h"

namespace {

TEST(InitializeUMXClientLibrary, ReturnsZeroAndNeitherInstallsNorKeepsTheSink) {
  auto installed = boost::make_shared<umx_test::RecordingLogWriter>();
  umx_test::ScopedLogWriter scope(installed);
  auto offered = boost::make_shared<umx_test::RecordingLogWriter>();
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(InitializeUMXClientLibrary(), 0);
    EXPECT_EQ(InitializeUMXClientLibrary(boost::shared_ptr<CLogWriterInterface>()), 0);
    EXPECT_EQ(InitializeUMXClientLibrary(offered), 0);
  }
  EXPECT_EQ(offered.use_count(), 1);
  EXPECT_EQ(g_ptrLogWriter.get(), installed.get());
}

}  // namespace
