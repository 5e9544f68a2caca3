#pragma once

#include <QString>

#include "operations/interaction.h"

class QPlainTextEdit;

namespace qm {

class QtMessageBoxes final : public IMessageBoxes {
public:
    MsgButton Show(const MessageRequest& request) override;
};

class QtFileDialogs final : public IFileDialogs {
public:
    std::optional<std::string> Run(const FileDialogRequest& request) override;
};

class QtEventPump final : public IEventPump {
public:
    void ProcessEvents() override;
};

// A log view over a read-only text view; each line is appended and shown.
class QtLogView final : public ILogView {
public:
    explicit QtLogView(QPlainTextEdit* view) : view_(view) {}
    void Clear() override;
    void AddLine(const std::string& line) override;

private:
    QPlainTextEdit* view_;
};

// Turns a "Описание|*.ext|…" filter into Qt's "Описание (*.ext);;…" form.
QString ToQtFilter(const std::string& filter);

inline QString Q(const std::string& s) { return QString::fromStdString(s); }
inline std::string S(const QString& s) { return s.toStdString(); }

}  // namespace qm
