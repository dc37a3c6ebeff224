#include "App/KPApp.h"
#include "Support/TestSupport.h"
#include "Theme/KPThemeManager.h"

#include <gtest/gtest.h>

std::unique_ptr<QApplication> testsupport::makeApplication(int& argc, char** argv)
{
    return std::make_unique<KPApp>(argc, argv);
}

namespace {

class ThemeEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_TRUE(KPThemeManager::themeManager()->updateThemeByName(QStringLiteral("gray"))); }
};
const auto* const g_env = ::testing::AddGlobalTestEnvironment(new ThemeEnvironment);

} // namespace
