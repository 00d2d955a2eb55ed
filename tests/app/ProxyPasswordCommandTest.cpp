// "--set-proxy-password": the password from standard input, kept protected for the machine
// where the platform can (Windows, DPAPI), refused with a reason where it cannot (POSIX).
#include "app/ProxyPasswordCommand.h"
#include "config/ProxySettings.h"
#include "platform/FileSystem.h"
#include "platform/Secret.h"
#include "support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

namespace {

using ::testing::HasSubstr;

TEST(ProxyPasswordCommandTest, KeepsThePasswordOnlyProtected) {
    kstest::TempDir app;
    ASSERT_TRUE(plat::CreateFolderChain(app / "config"));
    const std::string path = ProxyPasswordPath(app.Path());
    std::istringstream input("s3cret pass\r\nnext line\n");
    std::ostringstream errors;
    const int r = SetProxyPassword(app.Path(), input, errors);
    std::string back;
#ifdef _WIN32
    EXPECT_EQ(r, 0) << errors.str();
    EXPECT_EQ(plat::UnprotectSecret(path, back), 0);
    EXPECT_EQ(back, "s3cret pass");
    EXPECT_EQ(kstest::ReadFileBytes(path).find("s3cret"), std::string::npos);
#else
    EXPECT_EQ(r, 2);
    EXPECT_THAT(errors.str(), HasSubstr("PROXY_PASSWORD"));
    EXPECT_FALSE(kstest::Exists(path));
    EXPECT_EQ(plat::UnprotectSecret(path, back), plat::kSecretUnsupported);
#endif
    std::istringstream nothing("");
    EXPECT_EQ(SetProxyPassword(app.Path(), nothing, errors), 2);
}

} // namespace
