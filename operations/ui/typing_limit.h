#pragma once

#include <QString>
#include <QValidator>

class QLineEdit;

namespace qm {

// Limits what the user puts into a one-line edit to a number of characters,
// as the length limit of the system's edit fields does: typing beyond it
// inserts nothing, a paste is cut to what still fits, deleting always works.
// A longer text that the program puts in through SetText is kept whole; while
// the text is over the limit, an edit may keep its length or shorten it.
class TTypingLimit final : public QValidator {
public:
    // Installs itself as the edit's validator; the edit owns it.
    TTypingLimit(QLineEdit* edit, int limit);

    // Puts the text into the edit, however long.
    void SetText(const QString& text);

    State validate(QString& input, int& pos) const override;

private:
    QLineEdit* edit_;
    qsizetype limit_;
    QString before_;  // the text before the change under validation
    bool fromProgram_ = false;
};

}  // namespace qm
