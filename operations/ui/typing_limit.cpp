#include "operations/ui/typing_limit.h"

#include <QLineEdit>
#include <algorithm>

namespace qm {

TTypingLimit::TTypingLimit(QLineEdit* edit, int limit)
    : QValidator(edit), edit_(edit), limit_(limit), before_(edit->text()) {
    connect(edit, &QLineEdit::textChanged, this, [this](const QString& t) { before_ = t; });
    edit->setValidator(this);
}

void TTypingLimit::SetText(const QString& text) {
    fromProgram_ = true;
    edit_->setText(text);
    fromProgram_ = false;
}

QValidator::State TTypingLimit::validate(QString& input, int& pos) const {
    if (fromProgram_) return Acceptable;
    const qsizetype allowed = std::max(limit_, before_.size());
    if (input.size() <= allowed) return Acceptable;

    // The change put `inserted` characters between what it kept of the text
    // before it at both ends; the excess is cut from the end of the insertion.
    qsizetype head = 0;
    while (head < before_.size() && head < input.size() && before_[head] == input[head]) ++head;
    qsizetype tail = 0;
    while (tail < before_.size() - head && tail < input.size() - head &&
           before_[before_.size() - 1 - tail] == input[input.size() - 1 - tail])
        ++tail;
    const qsizetype inserted = input.size() - head - tail;
    qsizetype keep = inserted - (input.size() - allowed);
    if (keep < 0) return Invalid;
    // Never half a character outside the Basic Multilingual Plane.
    if (keep > 0 && input[head + keep - 1].isHighSurrogate()) --keep;
    input.remove(head + keep, inserted - keep);
    pos = static_cast<int>(head + keep);
    return Acceptable;
}

}  // namespace qm
