// Every text of every window shows whole, at the default font and at one a
// quarter larger (what 120 dpi makes of a layout drawn for 96 dpi), measured
// with each widget's own font metrics; and the toolkit's own texts are Russian.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTranslator>
#include <QTreeWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "operations/ui/backup_dialog.h"
#include "operations/ui/optimization_dialog.h"
#include "operations/ui/qt_interaction.h"
#include "operations/ui/restore_dialog.h"
#include "operations/ui/script_dialog.h"
#include "operations/ui/validation_dialog.h"
#include "operations/ui/wait_window.h"
#include "service/ui/service_area.h"
#include "tests/support/scripted_interaction.h"
#include "tests/support/temp_dir.h"
#include "ui/application.h"
#include "ui/base_editor.h"
#include "ui/main_window.h"
#include "ui/setting_dialog.h"

namespace qm {
namespace {

using ::testing::IsEmpty;

// The widgets of a shown window whose text does not show whole: a label
// narrower or lower than its text (a word-wrapped one lower than its lines
// at its width), a button or check box smaller than its text and indicator,
// a spin box or combo box narrower than its values, a list header narrower
// than its caption, or any of them reaching out of the window.
std::vector<std::string> ClippedTexts(QWidget* window) {
    std::vector<std::string> out;
    auto note = [&](QWidget* w, const QString& text, const char* why) {
        out.push_back(S(window->objectName()) + "." + S(w->objectName()) + " \"" + S(text) +
                      "\": " + why + " (" + std::to_string(w->width()) + "x" +
                      std::to_string(w->height()) + ")");
    };
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(window) || w->window() != window) continue;
        QString text;
        bool fits = true;
        if (auto* l = qobject_cast<QLabel*>(w)) {
            text = l->text();
            if (l->wordWrap())
                fits = l->height() >= l->heightForWidth(l->width());
            else
                fits = l->width() >= l->sizeHint().width() && l->height() >= l->sizeHint().height();
        } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
            text = b->text();
            fits = text.isEmpty() ||
                   (b->width() >= b->sizeHint().width() && b->height() >= b->sizeHint().height());
        } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
            text = g->title();
            fits = g->width() >= g->fontMetrics().horizontalAdvance(text);
        } else if (auto* s = qobject_cast<QAbstractSpinBox*>(w)) {
            text = s->text();
            fits = s->width() >= s->minimumSizeHint().width() &&
                   s->height() >= s->minimumSizeHint().height();
        } else if (auto* c = qobject_cast<QComboBox*>(w)) {
            text = c->currentText();
            fits = c->width() >= c->sizeHint().width() && c->height() >= c->sizeHint().height();
        } else if (auto* h = qobject_cast<QHeaderView*>(w)) {
            for (int i = 0; i < h->count(); ++i) {
                const QString caption = h->model()->headerData(i, h->orientation()).toString();
                if (h->sectionSize(i) < h->fontMetrics().horizontalAdvance(caption))
                    note(w, caption, "header section too narrow");
            }
            continue;
        } else {
            continue;
        }
        if (!fits) note(w, text, "text cut");
        const QRect inWindow(w->mapTo(window, QPoint(0, 0)), w->size());
        if (!window->rect().contains(inWindow)) note(w, text, "outside the window");
    }
    return out;
}

class DialogTextsTest : public ::testing::TestWithParam<double> {
protected:
    DialogTextsTest() {
        QFont font = saved_;
        if (font.pointSizeF() > 0)
            font.setPointSizeF(font.pointSizeF() * GetParam());
        else
            font.setPixelSize(static_cast<int>(font.pixelSize() * GetParam() + 0.5));
        QApplication::setFont(font);
        test::WriteFile(dir.File("Quillmoor.bse"),
                        "[0]\nActive=1\nDiscription=Бухгалтерия предприятия\nDBFile=" +
                            dir.File("accounts.fdb") + "\nArcDir=" + dir.Path() + "\n");
        InstallEventPump(&pump);
    }
    ~DialogTextsTest() override {
        InstallEventPump(nullptr);
        QApplication::setFont(saved_);
        EXPECT_THAT(test::VisibleTopLevels(), IsEmpty());
    }

    // Shows the window, checks it, hides it again.
    static std::vector<std::string> Check(QWidget& window) {
        window.show();
        QApplication::processEvents();
        std::vector<std::string> clipped = ClippedTexts(&window);
        window.hide();
        return clipped;
    }

    QFont saved_ = QApplication::font();
    test::TempDir dir;
    test::ScopedDataDir dataDir{dir.Path()};
    test::ScriptedMessageBoxes boxes;
    QtEventPump pump;
};

TEST_P(DialogTextsTest, EveryWindowShowsItsTextsWhole) {
    TMoorquill w;
    EXPECT_THAT(Check(w), IsEmpty());
    // The service's state texts change after the window's size is fixed.
    auto* status = w.findChild<QLabel*>("lblServiceStatus");
    ASSERT_NE(status, nullptr);
    w.show();
    for (std::uint32_t state = 0; state <= 7; ++state) {
        status->setText(Q(TServiceArea::StateText(state)));
        QApplication::processEvents();
        EXPECT_THAT(ClippedTexts(&w), IsEmpty()) << state;
    }
    w.hide();

    TFirebirdBase& base = *w.BaseList()[0];
    const std::function<std::unique_ptr<QWidget>()> dialogs[] = {
        [&] { return std::make_unique<TfrmBackupBase>(base, w.dm(), &w); },
        [&] { return std::make_unique<TfrmRestoreBase>(&base, w.dm(), &w); },
        [&] { return std::make_unique<TfrmValidationBase>(base, w.dm(), &w); },
        [&] { return std::make_unique<TfrmOptimizationBase>(base, w.dm(), &w); },
        [&] { return std::make_unique<TfrmScriptBase>(base, w.dm(), &w); },
        [&] {
            auto d = std::make_unique<TfrmBase>(w, w.dm(), w.Setting(), &w);
            d->setWindowTitle(QStringLiteral("Зарегистрировать базу данных"));
            return d;
        },
        [&] { return std::make_unique<TfrmSetting>(w.Setting(), &w); },
    };
    for (const auto& make : dialogs) {
        const std::unique_ptr<QWidget> d = make();
        EXPECT_THAT(Check(*d), IsEmpty());
    }

    TWaitForm wait;
    for (const char* text :
         {"Выполняется архивация базы данных...",
          "Выполняется восстановление базы данных из архива...",
          "Выполняется проверка базы данных...", "Выполняется оптимизация базы данных...",
          "Выполняется скрипт над базы данных..."}) {
        wait.SetText(text);
        EXPECT_THAT(Check(wait), IsEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(Fonts, DialogTextsTest, ::testing::Values(1.0, 1.25),
                         [](const auto& info) { return info.param == 1.0 ? "Default" : "Larger"; });

// Texts that hold a Latin letter: words the toolkit left in English.
std::vector<std::string> English(const QStringList& texts) {
    static const QRegularExpression latin(QStringLiteral("[A-Za-z]"));
    std::vector<std::string> out;
    for (const QString& t : texts)
        if (t.contains(latin)) out.push_back(S(t));
    return out;
}

class ToolkitTextsTest : public ::testing::Test {
protected:
    ToolkitTextsTest() { loaded_ = LoadToolkitTranslations(*qApp); }
    ~ToolkitTextsTest() override {
        for (QTranslator* t : qApp->findChildren<QTranslator*>()) {
            QCoreApplication::removeTranslator(t);
            delete t;
        }
        QLocale::setDefault(savedLocale_);
        EXPECT_THAT(test::VisibleTopLevels(), IsEmpty());
    }
    QLocale savedLocale_;
    bool loaded_ = false;
    test::TempDir dir_;
};

TEST_F(ToolkitTextsTest, BoxesFileDialogsAndEditMenusAreRussian) {
    ASSERT_TRUE(loaded_) << "qtbase_ru.qm (Debian: qt6-translations-l10n) not found";

    // The program's boxes, as they are shown.
    QtMessageBoxes boxes;
    QStringList buttons;
    test::WhenModal([&](QWidget* m) {
        for (QAbstractButton* b : m->findChildren<QAbstractButton*>())
            buttons << b->text().remove('&');
        static_cast<QDialog*>(m)->reject();
    });
    boxes.Show(
        {"Архиватор Firebird", "?", MsgIcon::Question, mbYes | mbNo | mbOK | mbCancel, mbNo});
    EXPECT_THAT(English(buttons), IsEmpty());
    EXPECT_TRUE(buttons.contains(QStringLiteral("Да")) && buttons.contains(QStringLiteral("Нет")))
        << S(buttons.join(','));

    QLineEdit edit(QStringLiteral("Склад"));
    const std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
    QStringList items;
    for (QAction* a : menu->actions())
        if (!a->isSeparator()) items << a->text().remove('&').section('\t', 0, 0);
    EXPECT_THAT(English(items), IsEmpty());
    EXPECT_TRUE(items.contains(QStringLiteral("Копировать"))) << S(items.join(','));

    for (QFileDialog::FileMode mode :
         {QFileDialog::ExistingFile, QFileDialog::AnyFile, QFileDialog::Directory}) {
        QFileDialog dialog(nullptr, QStringLiteral("Открыть архив..."), dir_.Path().c_str());
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setFileMode(mode);
        if (mode == QFileDialog::AnyFile) dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setNameFilter(ToQtFilter("Архив базы Firebird (*.fbk)|*.fbk|Все файлы|*.*"));
        dialog.show();
        QApplication::processEvents();
        QStringList texts;
        for (QLabel* l : dialog.findChildren<QLabel*>())
            if (l->isVisibleTo(&dialog)) texts << l->text().remove('&');
        for (QAbstractButton* b : dialog.findChildren<QAbstractButton*>())
            if (b->isVisibleTo(&dialog)) texts << b->text().remove('&') << b->toolTip();
        EXPECT_THAT(English(texts), IsEmpty()) << mode;
        dialog.hide();
    }
    EXPECT_THAT(English({QCoreApplication::translate(
                    "QFileDialog", "%1 already exists.\nDo you want to replace it?")}),
                IsEmpty());
}

}  // namespace
}  // namespace qm
