#include "operations/ui/qt_interaction.h"

#include <gtest/gtest.h>

namespace qm {
namespace {

#ifdef _WIN32
constexpr const char* kAllFiles = "Все файлы (*.*)";
#else
// "*.*" would hide the files without an extension.
constexpr const char* kAllFiles = "Все файлы (*)";
#endif

TEST(ToQtFilter, ShownNamesKeepTheirWordsAndAllFilesMeansAllFiles) {
    const struct {
        const char* filter;
        std::string qt;
    } cases[] = {
        {"Архив базы Firebird (*.fbk)|*.fbk|Все файлы|*.*",
         std::string("Архив базы Firebird (*.fbk);;") + kAllFiles},
        {"Клиентская библиотека  (*.so*)|*.so*", "Клиентская библиотека  (*.so*)"},
        {"Скрипты|*.sql;*.txt", "Скрипты (*.sql *.txt)"},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(S(ToQtFilter(c.filter)), c.qt) << c.filter;
}

}  // namespace
}  // namespace qm
