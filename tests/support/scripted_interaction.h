#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "operations/interaction.h"

class QWidget;

namespace qm::test {

// One message box as the program asked for it, with the object name of the
// widget that had the focus at that moment and whether a wait window
// ("WaitForm") stood over the program.
struct ShownBox {
    MessageRequest request;
    std::string focusName;
    bool waitWindowShown = false;
};

// Message boxes answered from a script: each Show takes the next queued answer,
// or, when none is queued, the box's default button (OK for a plain box).
// Installed for its lifetime.
class ScriptedMessageBoxes final : public IMessageBoxes {
public:
    ScriptedMessageBoxes();
    ~ScriptedMessageBoxes() override;

    void Answer(MsgButton b) { answers_.push_back(b); }
    MsgButton Show(const MessageRequest& request) override;

    std::vector<ShownBox> shown;
    // waitWindowShown of every box, in order.
    std::vector<bool> WaitWindowShown() const;

private:
    std::deque<MsgButton> answers_;
};

// File dialogs answered from a script; an empty queue answers "cancelled".
class ScriptedFileDialogs final : public IFileDialogs {
public:
    ScriptedFileDialogs();
    ~ScriptedFileDialogs() override;

    void Answer(std::optional<std::string> path) { answers_.push_back(std::move(path)); }
    std::optional<std::string> Run(const FileDialogRequest& request) override;

    std::vector<FileDialogRequest> requests;

private:
    std::deque<std::optional<std::string>> answers_;
};

// The object name of the widget that holds the focus in the active window, or
// of the focus widget of the topmost visible window when none is active.
std::string FocusedObjectName();

// Runs fn on the next modal widget once it is shown (for driving exec()).
void WhenModal(std::function<void(QWidget*)> fn);

// Names of visible top-level widgets; a test's clean-up expects none.
std::vector<std::string> VisibleTopLevels();

}  // namespace qm::test
