#include "operations/ui/qt_interaction.h"

#include <gtest/gtest.h>

namespace qm {
namespace {

TEST(ToQtFilter, ShownNamesKeepTheirWordsAndAllFilesMeansAllFiles) {
    const struct {
        const char* filter;
        const char* qt;
    } cases[] = {
        {"Архив базы Firebird (*.fbk)|*.fbk|Все файлы|*.*",
#ifdef _WIN32
         "Архив базы Firebird (*.fbk);;Все файлы (*.*)"},
#else
         // "*.*" would hide the files without an extension.
         "Архив базы Firebird (*.fbk);;Все файлы (*)"},
#endif
        {"Клиентская библиотека  (*.so*)|*.so*", "Клиентская библиотека  (*.so*)"},
        {"Скрипты|*.sql;*.txt", "Скрипты (*.sql *.txt)"},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(S(ToQtFilter(c.filter)), c.qt) << c.filter;
}

}  // namespace
}  // namespace qm
